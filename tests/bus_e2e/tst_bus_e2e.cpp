// Scan and reader search through QSerialPort against the simulator on a pseudo-terminal, at both
// interface speeds; what the simulator received comes from its --trace output.
#include "bus/BusEngine.h"
#include "bus/QtSerialLink.h"
#include "store/Records.h"
#include "store/ScriptedPrompter.h"
#include "store/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace kdr;

namespace {

// kdrsim with its pty behind a symbolic link in a temporary folder.
struct SimProcess {
    QProcess proc;
    QString link;
    QByteArray errText;

    bool start(const QString &dir, const QStringList &args)
    {
        const QString bin = qEnvironmentVariable("KDR_TEST_BIN_DIR") + QStringLiteral("/tools/kdrsim/kdrsim");
        if (!QFile::exists(bin)) return false;
        link = dir + QStringLiteral("/kdr-tty");
        proc.start(bin, args + QStringList{"--trace", "--latency", "5", "--pty-link", link});
        if (!proc.waitForStarted(5000)) return false;
        // The slave and link paths are printed on stdout, the trace goes to stderr.
        QByteArray outText;
        return QTest::qWaitFor([&] {
            outText += proc.readAllStandardOutput();
            errText += proc.readAllStandardError();
            return outText.contains("link: ") || errText.contains("link: ");
        }, 5000);
    }
    // Normalised payloads the simulator received ("<- 580B").
    QStringList received()
    {
        errText += proc.readAllStandardError();
        QStringList out;
        static const QRegularExpression re(QStringLiteral("<- (\\S+)"));
        for (const QByteArray &l : errText.split('\n')) {
            const auto m = re.match(QString::fromLatin1(l));
            if (m.hasMatch()) out << m.captured(1);
        }
        return out;
    }
    ~SimProcess()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate();
            if (!proc.waitForFinished(3000)) proc.kill();
        }
    }
};

struct Program {
    QTemporaryDir dir;
    Workspace ws;
    ScriptedPrompter prompter;
    std::unique_ptr<BusEngine> engine;

    explicit Program(const QString &port) : ws(dir.path() + QStringLiteral("/KDR02.x64"))
    {
        ws.setPrompter(&prompter);
        ws.settings.extraPorts = port;
        ws.settings.lastPort = port;
        engine = std::make_unique<BusEngine>(ws, [](QObject *p) { return new QtSerialLink(p); });
        engine->setPortLister([] { return QStringList{}; });
    }
    int addReader(qint32 serial)
    {
        ws.cards.resetToSlots(kSlots2000);
        ws.cards.setValue(0, CardField::KDRSerial, Value(serial));
        ws.setReaderBaseName(QString::number(serial));
        ws.saveCards();
        const int row = ws.readers.appendFromCardTable(QString::number(serial) + ".vtd", ws.cards);
        ws.readers.setCurrent(row);
        return row;
    }
    bool scan()
    {
        engine->cbPortDropDown();
        engine->btnScanPortClick();
        return QTest::qWaitFor([this] { return engine->scanPortEnabled() && !engine->scanning(); }, 10000);
    }
    QString status(int row) const { return ws.readers.storedValue(row, ReaderField::Status).toText(); }
    bool inOrder(const QStringList &expected) const
    {
        int at = 0;
        for (const QString &l : ws.log.lines())
            if (at < expected.size() && l == expected.at(at)) ++at;
        return at == expected.size();
    }
};

} // namespace

class TestBusE2E : public QObject {
    Q_OBJECT
private slots:
    void scanAndSearch_data();
    void scanAndSearch();
    void portLostClosesOnce();
    void openFailureInPlainWords_data();
    void openFailureInPlainWords();
    void noRightsOnARealPort();
    void secondOpenIsBusy();
    void overlongLinesAreDropped_data();
    void overlongLinesAreDropped();
    void kdrctlRefusesNonPortNames_data();
    void kdrctlRefusesNonPortNames();
};

void TestBusE2E::scanAndSearch_data()
{
    QTest::addColumn<QString>("bus");
    QTest::addColumn<QStringList>("telegrams");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("HLX:BUS 9600") << "hlx5" << QStringList{".3F", "580B", "5200"}
                                  << QStringList{"> Interface type: KIM3110", "> Interface serial number: 74565",
                                                 "> Initializing HLX:BUS...", "> Response to InitHLXBUS OK!",
                                                 "> Searching KDR on HLX:BUS...", "> Response to SearchDevice OK!",
                                                 "> KDR-01, serial number: 123456;", "> KDR-01, serial number: 70000;"};
    QTest::newRow("M:BUS 28800") << "mbus" << QStringList{"-", "FFFFFF0000000400000B020103080000FE0000000000"}
                                 << QStringList{">> Interface not found on @", "> Searching Interface(M) on @...",
                                                "> Interface type: KIM3121", "> Interface serial number: 0 (not used)",
                                                "> Initializing M:BUS...", "> Searching KDR on M:BUS...",
                                                "> Response to SearchDevice OK!", "> KDR-M, serial number: 123456;",
                                                "> KDR-M, serial number: 70000;"};
}

void TestBusE2E::scanAndSearch()
{
    QFETCH(QString, bus);
    QFETCH(QStringList, telegrams);
    QFETCH(QStringList, lines);
    QTemporaryDir simDir;
    SimProcess sim;
    QVERIFY2(sim.start(simDir.path(), {"--bus", bus, "--reader", "123456", "--reader", "70000:4000"}),
             "kdrsim did not start (KDR_TEST_BIN_DIR set?)");
    Program prog(sim.link);
    const int known = prog.addReader(123456);
    const int absent = prog.addReader(999);
    prog.prompter.queueButton(Btn::Ok); // add reader 70000
    QVERIFY(prog.scan());
    QVERIFY2(prog.engine->findKdrEnabled(), qPrintable(prog.ws.log.lines().join('\n')));
    prog.engine->btnFindKDRClick();
    QVERIFY2(QTest::qWaitFor([&] { return prog.ws.readers.isFiltered(); }, 5000), qPrintable(prog.ws.log.lines().join('\n')));

    // The simulator saw exactly these telegrams; at 9600 the M:BUS scan never ran, over M:BUS
    // the 9600 scan telegram reached it at the wrong speed and was not understood.
    QStringList got = sim.received();
    got.removeIf([](const QString &t) { return t.startsWith("garbled"); });
    QCOMPARE(got, telegrams);
    for (QString &l : lines) l.replace('@', sim.link);
    QVERIFY2(prog.inOrder(lines), qPrintable(prog.ws.log.lines().join('\n')));
    QVERIFY(prog.ws.log.contains("> Interface found on " + sim.link));
    QCOMPARE(prog.status(known), kStatusOnline);
    QCOMPARE(prog.status(absent), kStatusOffline);
    const int added = prog.ws.readers.findFile("70000.vtd");
    QVERIFY(added >= 0);
    QCOMPARE(prog.status(added), kStatusOnline);
    QVERIFY(QFile::exists(prog.ws.activeFolderPath() + "70000.vtd"));
    QCOMPARE(prog.engine->busAt9600(), bus != "mbus");
    QCOMPARE(prog.ws.readers.visibleRecords().size(), 2);
}

// The simulator hangs up under the open bus port: the port is closed once and the log says so,
// however many errors Qt reports.
void TestBusE2E::portLostClosesOnce()
{
    QTemporaryDir simDir;
    SimProcess sim;
    QVERIFY(sim.start(simDir.path(), {"--bus", "hlx5", "--reader", "123456", "--fault", "portlost=1,after=1"}));
    Program prog(sim.link);
    prog.addReader(123456);
    QVERIFY(prog.scan());
    QVERIFY(prog.engine->findKdrEnabled());
    prog.engine->btnFindKDRClick();
    QVERIFY2(QTest::qWaitFor([&] { return !prog.engine->busOpen(); }, 5000), qPrintable(prog.ws.log.lines().join('\n')));
    QTest::qWait(500);
    const QStringList lost = prog.ws.log.lines().filter(QRegularExpression("^> Port .* was lost: .* The port is closed\\.$"));
    QCOMPARE(lost.size(), 1);
    QVERIFY(!prog.engine->busOpen());
}

void TestBusE2E::openFailureInPlainWords_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("needle");
    QTest::newRow("missing") << "missing" << "does not exist";
    QTest::newRow("no rights") << "rights" << "sudo usermod -a -G";
    QTest::newRow("busy") << "busy" << "ModemManager";
}

void TestBusE2E::openFailureInPlainWords()
{
    QFETCH(QString, kind);
    QFETCH(QString, needle);
    QTemporaryDir dir;
    QString path = dir.path() + "/ttyNone";
    if (kind != "missing") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
    }
    if (kind == "rights") {
        if (::geteuid() == 0) QSKIP("root may open anything");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    }
    const QString text = QtSerialLink::explainOpenFailure(path, QSerialPort::PermissionError, "Permission denied");
    QVERIFY2(text.contains(needle), qPrintable(text));
    QVERIFY2(text.contains(path) || text.contains(dir.path()), qPrintable(text));
    // Through open(): a missing device gives the same words.
    if (kind == "missing") {
        QtSerialLink link;
        QString err;
        QVERIFY(!link.open(path, 9600, 1, &err));
        QVERIFY2(err.contains(needle), qPrintable(err));
    }
}

void TestBusE2E::noRightsOnARealPort()
{
    // The real thing: a user without rights to the port runs a scan and is told how to get them.
    if (::geteuid() != 0) QSKIP("needs root to run the scan as another user");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) QSKIP("setpriv is not installed");
    QTemporaryDir simDir;
    SimProcess sim;
    QVERIFY(sim.start(simDir.path(), {"--bus", "hlx"}));
    const QString slave = QFileInfo(sim.link).canonicalFilePath();
    QVERIFY(!slave.isEmpty());
    QProcess ctl;
    ctl.setWorkingDirectory(QDir::tempPath());
    ctl.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                          qEnvironmentVariable("KDR_TEST_BIN_DIR") + QStringLiteral("/tools/kdrctl/kdrctl"),
                                          "scan", "--port", slave});
    QVERIFY(ctl.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(ctl.readAllStandardOutput() + ctl.readAllStandardError());
    QCOMPARE(ctl.exitCode(), 1);
    QVERIFY2(out.contains(QStringLiteral("No permission to use ") + slave), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("sudo usermod -a -G ")), qPrintable(out));
    QVERIFY2(!out.contains(QStringLiteral("Interface found")), qPrintable(out));
}

void TestBusE2E::secondOpenIsBusy()
{
    QTemporaryDir simDir;
    SimProcess sim;
    QVERIFY(sim.start(simDir.path(), {"--bus", "hlx5"}));
    QtSerialLink first, second;
    QString err;
    QVERIFY2(first.open(sim.link, 9600, 1, &err), qPrintable(err));
    QVERIFY(!second.open(sim.link, 9600, 1, &err));
    QVERIFY2(err.contains("busy"), qPrintable(err));
}

namespace {
// A pseudo-terminal pair: the link opens the slave, the test plays the device on the master and
// keeps its own raw slave descriptor open.
struct PtyPair {
    int master = -1;
    int slave = -1;
    QString slavePath;
    bool open()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
        slavePath = QString::fromLocal8Bit(::ptsname(master));
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        if (slave < 0) return false;
        termios t{};
        if (::tcgetattr(slave, &t) != 0) return false;
        ::cfmakeraw(&t);
        return ::tcsetattr(slave, TCSANOW, &t) == 0;
    }
    bool write(const QByteArray &bytes) const
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno != EAGAIN) return false;
            if (n > 0) done += n;
            QTest::qWait(2); // the pty buffer is small: let the link drain it
        }
        return true;
    }
    ~PtyPair()
    {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
};
} // namespace

// A device that sends more than the 4096-byte receive buffer without a line end: the overlong line
// is dropped up to and with its EOT (and reported once), the buffer does not grow, and the next
// line arrives whole.
void TestBusE2E::overlongLinesAreDropped_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("dropped");
    QTest::addColumn<QList<QByteArray>>("lines");
    const QByteArray ok("\x01.1\x04");
    QTest::newRow("just fits") << QByteArray(4095, 'A') + '\x04' + ok << 0
                               << QList<QByteArray>{QByteArray(4095, 'A') + '\x04', ok};
    QTest::newRow("one byte over") << QByteArray(4096, 'A') + '\x04' + ok << 4097 << QList<QByteArray>{ok};
    QTest::newRow("a megabyte") << QByteArray(1 << 20, 'A') + '\x04' + ok << (1 << 20) + 1 << QList<QByteArray>{ok};
}

void TestBusE2E::overlongLinesAreDropped()
{
    QFETCH(QByteArray, before);
    QFETCH(int, dropped);
    QFETCH(QList<QByteArray>, lines);
    PtyPair pty;
    QVERIFY(pty.open());
    QtSerialLink link;
    QString err;
    QVERIFY2(link.open(pty.slavePath, 9600, 1, &err), qPrintable(err));
    QList<QByteArray> got;
    QList<qint64> discarded;
    connect(&link, &SerialLink::lineReceived, this, [&](const QByteArray &l) { got << l; });
    connect(&link, &SerialLink::lineDiscarded, this, [&](qint64 n) { discarded << n; });
    QVERIFY(pty.write(before));
    QVERIFY2(QTest::qWaitFor([&] { return !got.isEmpty() && got.last() == lines.last(); }, 10000),
             qPrintable(QString("%1 lines, last %2 bytes").arg(got.size()).arg(got.isEmpty() ? 0 : got.last().size())));
    QCOMPARE(got, lines);
    QCOMPARE(discarded, dropped ? QList<qint64>{dropped} : QList<qint64>{});
}

// Names that cannot stand in the port list are refused at once instead of scanning nothing (and
// waiting for ever) or scanning the last used port instead.
void TestBusE2E::kdrctlRefusesNonPortNames_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("port");
    QTest::newRow("scan offline") << "scan" << "offline";
    QTest::newRow("scan refresh") << "scan" << "refresh";
    QTest::newRow("scan list separator") << "scan" << "ttyS0;ttyS1";
    QTest::newRow("scan blank") << "scan" << "  ";
    QTest::newRow("search offline") << "search" << "offline";
}

void TestBusE2E::kdrctlRefusesNonPortNames()
{
    QFETCH(QString, command);
    QFETCH(QString, port);
    QTemporaryDir dir;
    QProcess ctl;
    ctl.start(qEnvironmentVariable("KDR_TEST_BIN_DIR") + QStringLiteral("/tools/kdrctl/kdrctl"),
              command == "search" ? QStringList{command, "--port", port, "--folder", dir.path()} : QStringList{command, "--port", port});
    QVERIFY(ctl.waitForStarted(5000));
    const bool ended = ctl.waitForFinished(8000);
    if (!ended) {
        ctl.kill();
        ctl.waitForFinished(2000);
    }
    QVERIFY2(ended, "kdrctl did not end");
    const QString err = QString::fromLocal8Bit(ctl.readAllStandardError());
    QCOMPARE(ctl.exitCode(), 2);
    QVERIFY2(err.contains(QStringLiteral("is not a port name")), qPrintable(err));
    QVERIFY(!QString::fromLocal8Bit(ctl.readAllStandardOutput()).contains("Searching Interface"));
}

QTEST_GUILESS_MAIN(TestBusE2E)
#include "tst_bus_e2e.moc"
