// The bus simulator's answers, memory effects, faults, timing and the kdrsim tool on a pty.
// Telegrams are written out by hand here: the simulator must not be checked with the program's
// own codec.
#include "kdrsim/PtyHost.h"
#include "kdrsim/SimBus.h"
#include "kdrsim/SimSerialLink.h"

#include "store/Records.h"
#include "store/VtdFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace kdr::sim;

namespace {

QByteArray tg(const QByteArray &payload) { return QByteArray(1, 0x01) + ' ' + payload + char(0x04); }
QByteArray scanTelegram(Model m) { return QByteArray(1, 0x01) + (isMBus(m) ? QByteArray("-") : QByteArray(".3F")) + char(0x04); }
// "SCAN" stands for the scan telegram of the bus, anything else is a payload.
QByteArray request(Model m, const QString &r) { return r == QLatin1String("SCAN") ? scanTelegram(m) : tg(r.toLatin1()); }

QString norm(const QByteArray &line)
{
    int b = 0, e = int(line.size());
    while (b < e && quint8(line[b]) <= 0x20) ++b;
    while (e > b && quint8(line[e - 1]) <= 0x20) --e;
    return QString::fromLatin1(line.mid(b, e - b));
}

QByteArray hx(const char *hex) { return QByteArray::fromHex(hex); }
QString hexOf(const QByteArray &b) { return QString::fromLatin1(b.toHex().toUpper()); }

const char *const kParams = "003F060200220088"
                            "12345678"
                            "00001234"
                            "00000000"
                            "00000000"
                            "000000"
                            "09FBF1"
                            "0000";

// The reader of the worked examples: 123456 (1E240), card 654321 (09FBF1) with function 05 in slot 1.
void prepare(Reader &r)
{
    r.setCard(1, 654321, 0x05);
    r.setCard(2, 0x000102, 0x40);
    r.setCard(5, 0xABCDEF, 0x01);
    r.setParameterBlock(hx(kParams));
}

// A bus, a link open at the interface's own settings, and the lines that came back.
struct Rig {
    Bus bus;
    SimSerialLink link;
    QList<QByteArray> lines;

    explicit Rig(Model m, int baud = 0, int stopBits = 0) : bus(m), link(&bus)
    {
        bus.setLatency(0);
        QObject::connect(&link, &kdr::SerialLink::lineReceived, [this](const QByteArray &l) { lines.append(l); });
        QString err;
        const bool ok = link.open(QStringLiteral("sim0"), baud ? baud : bus.baud(), stopBits ? stopBits : bus.stopBits(), &err);
        if (!ok) qWarning("open failed: %s", qPrintable(err));
    }

    // Waits until no line has come for quietMs (at most 3 s).
    void settle(int quietMs = 40)
    {
        QElapsedTimer total, quiet;
        total.start();
        quiet.start();
        qsizetype n = lines.size();
        while (total.elapsed() < 3000) {
            QTest::qWait(2);
            if (lines.size() != n) {
                n = lines.size();
                quiet.restart();
            } else if (quiet.elapsed() >= quietMs) {
                break;
            }
        }
    }

    QStringList ask(const QByteArray &raw, int quietMs = 40)
    {
        lines.clear();
        link.send(raw);
        settle(quietMs);
        QStringList out;
        for (const QByteArray &l : lines) out << norm(l);
        return out;
    }
};

bool traceHasNote(const Bus &bus, const QString &part)
{
    for (const TraceEntry &e : bus.trace())
        if ((e.dir == TraceEntry::Note || e.dir == TraceEntry::In) && e.text.contains(part)) return true;
    return false;
}

QString simBinary()
{
    const QString dir = qEnvironmentVariable("KDR_TEST_BIN_DIR");
    if (!dir.isEmpty()) return dir + QStringLiteral("/tools/kdrsim/kdrsim");
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../tools/kdrsim/kdrsim");
}

// kdrsim on a pseudo-terminal, driven with raw bytes through the slave side.
struct PtySim {
    QProcess proc;
    QString slave;
    int fd = -1;

    ~PtySim()
    {
        if (fd >= 0) ::close(fd);
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(2000);
        }
    }

    bool start(const QStringList &args)
    {
        proc.start(simBinary(), args);
        if (!proc.waitForStarted(5000)) return false;
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            proc.waitForReadyRead(100);
            out += proc.readAllStandardOutput();
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("pty: (\\S+)")).match(QString::fromLocal8Bit(out));
            if (m.hasMatch()) {
                slave = m.captured(1);
                return true;
            }
        }
        return false;
    }

    bool openPort(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return false;
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        return tcsetattr(fd, TCSANOW, &t) == 0;
    }

    // Sends raw bytes and collects whole lines until quietMs pass without bytes (at most 3 s).
    QStringList ask(const QByteArray &raw, int quietMs = 300)
    {
        if (::write(fd, raw.constData(), size_t(raw.size())) != raw.size()) return {QStringLiteral("<write failed>")};
        QByteArray in;
        QElapsedTimer total;
        total.start();
        while (total.elapsed() < 3000) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) break;
            char buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            in.append(buf, int(n));
        }
        QStringList out;
        for (const QByteArray &l : in.split(0x04))
            if (!l.isEmpty()) out << norm(l);
        return out;
    }
};

} // namespace

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void hlxTelegrams_data();
    void hlxTelegrams();
    void mbusTelegrams_data();
    void mbusTelegrams();
    void addressTable_data();
    void addressTable();
    void hlxCardWrite_data();
    void hlxCardWrite();
    void mbusGroupWrite_data();
    void mbusGroupWrite();
    void refusals_data();
    void refusals();
    void scan_data();
    void scan();
    void faults_data();
    void faults();
    void faultSeedReproducible();
    void faultTextErrors_data();
    void faultTextErrors();
    void delayedAnswer();
    void portLost();
    void pacing_data();
    void pacing();
    void linkBehavesLikeAPort();
    void stateRoundTrip();
    void badStateKeepsReaders();
    void vtdStartState();
    void ptyHlx();
    void ptyMBusSpeedFromSlave();
    void ptyThroughQSerialPort();
    void cliErrors_data();
    void cliErrors();
    void cliHelp();
};

// ---- the telegram table, HLX:BUS side -----------------------------------------------------------

void TestSim::hlxTelegrams_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QStringList>("answer");
    QTest::addColumn<QString>("slot1After"); // 8 bytes of slot 1 after the request

    const QString slot1 = QStringLiteral("05FFFF09FBF1FFFF");
    QTest::newRow("bus initialisation") << QStringList{} << "580B" << QStringList{".1"} << slot1;
    QTest::newRow("reader search") << QStringList{} << "5200" << QStringList{".1", ".51E2401"} << slot1;
    QTest::newRow("reset has no answer") << QStringList{} << "5100" << QStringList{} << slot1;
    QTest::newRow("page select 0810") << QStringList{} << "8101E240" << QStringList{".1"} << slot1;
    QTest::newRow("subpage select 8110") << QStringList{"8101E240"} << "8110" << QStringList{".1"} << slot1;
    QTest::newRow("read location 8402 of page 0811") << QStringList{"8111E240"} << "8402" << QStringList{".FF09FBF1"} << slot1;
    QTest::newRow("read function location 8400") << QStringList{"8111E240"} << "8400" << QStringList{".05FFFF09"} << slot1;
    QTest::newRow("parameter block 8400 of page 0810") << QStringList{"8101E240"} << "8400" << QStringList{".003F0602"} << slot1;
    QTest::newRow("parameter block 841C") << QStringList{"8101E240"} << "841C" << QStringList{".FBF10000"} << slot1;
    QTest::newRow("software version") << QStringList{} << "51E240C0" << QStringList{".0180020C"} << slot1;
    QTest::newRow("written-card count") << QStringList{} << "61E240C8" << QStringList{".0005"} << slot1;
    // 0x84LL is a read code: with data behind it the reader does not take it as a write.
    QTest::newRow("write part 40FF at 8402 is refused") << QStringList{"8111E240"} << "840240FF" << QStringList{".0"} << slot1;
    QTest::newRow("write part 40FF at 8200") << QStringList{"8111E240"} << "820040FF" << QStringList{".1"} << "40FFFF09FBF1FFFF";
}

void TestSim::hlxTelegrams()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, payload);
    QFETCH(QStringList, answer);
    QFETCH(QString, slot1After);

    Rig rig(Model::KIM3110);
    prepare(rig.bus.addReader(123456));
    for (const QString &s : setup) QCOMPARE(rig.ask(tg(s.toLatin1())), QStringList{".1"});
    QCOMPARE(rig.ask(tg(payload.toLatin1())), answer);
    QCOMPARE(hexOf(rig.bus.reader(123456)->slotRecord(1)), slot1After);
    QCOMPARE(rig.bus.receivedTelegrams().last(), payload);
}

// ---- the telegram table, M:BUS side -------------------------------------------------------------

void TestSim::mbusTelegrams_data()
{
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QStringList>("fields"); // "position,text" on the data line (1-based)
    QTest::addColumn<QString>("slot1After");

    const QString slot1 = QStringLiteral("05FFFF09FBF1FFFF");
    const QString block256 = QStringLiteral("05FFFF09FBF1FFFF40FFFF000102FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
    const QString block288 = QStringLiteral("01FFFFABCDEFFFFF") + QString(48, QLatin1Char('F'));
    QTest::newRow("reader search") << "FFFFFF0000000400000B020103080000FE0000000000" << QStringList{"2,01E240"} << slot1;
    QTest::newRow("software version") << "FFFFFF01E240040000010D00" << QStringList{"2,01E240", "26,02000C"} << slot1;
    QTest::newRow("written-card count") << "FFFFFF01E2400C000001C800" << QStringList{"22,0005"} << slot1;
    QTest::newRow("reset") << "FFFFFF01E240020000010000" << QStringList{"2,01E240"} << slot1;
    QTest::newRow("read parameter block") << "FFFFFF01E2400600000600000000002000"
                                          << QStringList{QStringLiteral("30,") + QLatin1String(kParams), "-66," + QString::fromLatin1(kParams)} << slot1;
    QTest::newRow("read first card block") << "FFFFFF01E2400600000600000001008000" << QStringList{"30," + block256} << slot1;
    QTest::newRow("read card block at 288") << "FFFFFF01E2400600000600000001202000" << QStringList{"30," + block288} << slot1;
    QTest::newRow("write one card entry at 256") << "FFFFFF01E2400800000D000000010040FFFF09FBF1FFFF00"
                                                 << QStringList{"30,40FFFF09FBF1FFFF"} << "40FFFF09FBF1FFFF";
}

void TestSim::mbusTelegrams()
{
    QFETCH(QString, payload);
    QFETCH(QStringList, fields);
    QFETCH(QString, slot1After);

    Rig rig(Model::KIM3121);
    prepare(rig.bus.addReader(123456, 4000));
    const QStringList got = rig.ask(tg(payload.toLatin1()));
    QCOMPARE(got.size(), 2);
    QVERIFY(got[0].contains(QLatin1Char('('))); // positive acknowledge
    QVERIFY(!got[1].contains(QLatin1Char('(')));
    const QString line = got[1];
    for (const QString &f : fields) {
        const int comma = int(f.indexOf(QLatin1Char(',')));
        const int pos = f.left(comma).toInt();
        const QString want = f.mid(comma + 1);
        // A negative position counts from the line end: the 64 characters ending two before it.
        const int start = pos > 0 ? pos - 1 : int(line.size()) + pos;
        QCOMPARE(line.mid(start, want.size()), want);
    }
    QCOMPARE(hexOf(rig.bus.reader(123456)->slotRecord(1)), slot1After);
}

// ---- the address table: paged and linear addressing name the same bytes ------------------------

void TestSim::addressTable_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("subpage");
    QTest::addColumn<int>("readLoc");
    QTest::addColumn<int>("writeLoc");
    QTest::addColumn<int>("linear");

    QTest::newRow("1") << 1 << 0x0811 << -1 << 0x8402 << 0x8200 << 0x0100;
    QTest::newRow("2") << 2 << 0x0811 << -1 << 0x840A << 0x8208 << 0x0108;
    QTest::newRow("32") << 32 << 0x0811 << -1 << 0x84FA << 0x82F8 << 0x01F8;
    QTest::newRow("33") << 33 << 0x0812 << -1 << 0x8402 << 0x8200 << 0x0200;
    QTest::newRow("480") << 480 << 0x081F << -1 << 0x84FA << 0x82F8 << 0x0FF8;
    QTest::newRow("481") << 481 << 0x0810 << 0x8110 << 0x8402 << 0x8200 << 0x1000;
    QTest::newRow("513") << 513 << 0x0811 << 0x8111 << 0x8402 << 0x8200 << 0x1100;
    QTest::newRow("993") << 993 << 0x0810 << 0x8120 << 0x8402 << 0x8200 << 0x2000;
    QTest::newRow("2000") << 2000 << 0x081F << 0x813F << 0x847A << 0x8278 << 0x3F78;
    QTest::newRow("2017") << 2017 << 0x0810 << 0x8140 << 0x8402 << 0x8200 << 0x4000;
    QTest::newRow("4000") << 4000 << 0x081D << 0x817D << 0x84FA << 0x82F8 << 0x7DF8;
}

void TestSim::addressTable()
{
    QFETCH(int, id);
    QFETCH(int, page);
    QFETCH(int, subpage);
    QFETCH(int, readLoc);
    QFETCH(int, writeLoc);
    QFETCH(int, linear);

    Rig rig(Model::KIM3110);
    Reader &r = rig.bus.addReader(123456, 4000);
    // Neighbours hold other cards, so a slot off by one shows.
    r.setCard(id, 0xA00000 + quint32(id), 0x07);
    if (id > 1) r.setCard(id - 1, 0x111111, 0x01);
    if (id < 4000) r.setCard(id + 1, 0x222222, 0x02);
    QCOMPARE(hexOf(r.read(linear, 8)), hexOf(r.slotRecord(id)));

    auto h = [](int v, int n) { return QByteArray::number(v, 16).toUpper().rightJustified(n, '0'); };
    QCOMPARE(rig.ask(tg("580B")), QStringList{".1"});
    QCOMPARE(rig.ask(tg(h(page, 3) + "1E240")), QStringList{".1"});
    if (subpage != -1) QCOMPARE(rig.ask(tg(h(subpage, 4))), QStringList{".1"});
    QCOMPARE(rig.ask(tg(h(readLoc, 4))), QStringList{QStringLiteral(".FF") + QString::fromLatin1(h(0xA00000 + id, 6))});
    QCOMPARE(rig.ask(tg(h(readLoc - 2, 4))), QStringList{QStringLiteral(".07FFFF") + QString::fromLatin1(h(0xA00000 + id, 6).left(2))});

    // A write at the slot's write location lands on the linear address.
    QCOMPARE(rig.ask(tg(h(writeLoc, 4) + "12FF")), QStringList{".1"});
    QCOMPARE(quint8(r.read(linear, 1)[0]), quint8(0x12));
    QCOMPARE(r.function(id), quint8(0x12));
    if (id > 1) QCOMPARE(r.function(id - 1), quint8(0x01));
}

// ---- one card written at 9600 baud --------------------------------------------------------------

void TestSim::hlxCardWrite_data()
{
    QTest::addColumn<int>("slotCount");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QStringList>("telegrams");
    QTest::addColumn<QString>("record");

    // Bytes 6 and 7 start as 1234: a 9600 write leaves them alone.
    QTest::newRow("slot 1, card 654321, function 05")
        << 2000 << 1 << QStringList{"580B", "8111E240", "820005FF", "8202FF09", "8204FBF1", "5100"} << "05FFFF09FBF11234";
    QTest::newRow("slot 481 needs the subpage")
        << 2000 << 481 << QStringList{"580B", "8101E240", "8110", "820005FF", "8202FF09", "8204FBF1", "5100"} << "05FFFF09FBF11234";
    QTest::newRow("slot 2000, last of a 2000-slot reader")
        << 2000 << 2000 << QStringList{"580B", "81F1E240", "813F", "827805FF", "827AFF09", "827CFBF1", "5100"} << "05FFFF09FBF11234";
    QTest::newRow("slot 4000 deleted with FF")
        << 4000 << 4000 << QStringList{"580B", "81D1E240", "817D", "82F8FFFF", "82FAFFFF", "82FCFFFF", "5100"} << "FFFFFFFFFFFF1234";
}

void TestSim::hlxCardWrite()
{
    QFETCH(int, slotCount);
    QFETCH(int, slot);
    QFETCH(QStringList, telegrams);
    QFETCH(QString, record);

    Rig rig(Model::KIM3100);
    Reader &r = rig.bus.addReader(123456, slotCount);
    r.write(256 + 8 * (slot - 1), hx("AABBCCDDEEFF1234"));
    const int neighbour = slot == 1 ? 2 : 1;
    r.setCard(neighbour, 0x777777, 0x40); // a card elsewhere that must stay
    const QByteArray before = r.memory();

    for (const QString &t : telegrams) {
        const QStringList got = rig.ask(tg(t.toLatin1()));
        QCOMPARE(got, t == QLatin1String("5100") ? QStringList{} : QStringList{".1"});
    }
    QCOMPARE(hexOf(r.slotRecord(slot)), record);
    // Nothing else in the memory changed.
    QByteArray after = r.memory();
    after.replace(256 + 8 * (slot - 1), 8, before.mid(256 + 8 * (slot - 1), 8));
    QCOMPARE(after, before);
    // The count is the last slot holding a card: a deleted slot no longer counts.
    const int expectCount = record.startsWith(QLatin1String("FFFFFFFFFFFF")) ? neighbour : std::max(slot, neighbour);
    QCOMPARE(rig.ask(tg("61E240C8")), QStringList{QStringLiteral(".%1").arg(expectCount, 4, 16, QLatin1Char('0')).toUpper()});
}

// ---- M:BUS group writes -------------------------------------------------------------------------

void TestSim::mbusGroupWrite_data()
{
    QTest::addColumn<int>("location");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("firstSlot");

    QTest::newRow("slots 1 and 2 at 256") << 256 << "05FFFF09FBF1FFFF40FFFFFFFFFFFFFF" << 1;
    QTest::newRow("slots 7 and 8 at 304") << 304 << "40FFFF000007FFFF40FFFF000008FFFF" << 7;
    QTest::newRow("slot 20 at 408") << 408 << "02FFFF000014FFFF" << 20;
    QTest::newRow("four slots at 4000-slot end")
        << 0x7DE0 << "01FFFF000001FFFF02FFFF000002FFFF03FFFF000003FFFF04FFFF000004FFFF" << 3997;
    QTest::newRow("parameter block at 0") << 0 << QString::fromLatin1(kParams) << 0;
}

void TestSim::mbusGroupWrite()
{
    QFETCH(int, location);
    QFETCH(QString, data);
    QFETCH(int, firstSlot);

    Rig rig(Model::KIM3121);
    Reader &r = rig.bus.addReader(123456, 4000);
    const QByteArray before = r.memory();
    const QByteArray len = QByteArray::number(data.size() / 2 + 5, 16).toUpper().rightJustified(2, '0');
    const QByteArray loc = QByteArray::number(location, 16).toUpper().rightJustified(4, '0');
    const QByteArray payload = "FFFFFF01E240080000" + len + "000000" + loc + data.toLatin1() + "00";
    if (firstSlot == 1) QCOMPARE(payload, QByteArray("FFFFFF01E24008000015000000010005FFFF09FBF1FFFF40FFFFFFFFFFFFFF00"));

    const QStringList got = rig.ask(tg(payload));
    QCOMPARE(got.size(), 2);
    QVERIFY(got[0].contains(QLatin1Char('(')));
    QCOMPARE(got[1].mid(29, data.size()), data); // the echo from character 30
    QCOMPARE(hexOf(r.read(location, data.size() / 2)), data);
    QByteArray after = r.memory();
    after.replace(location, data.size() / 2, before.mid(location, data.size() / 2));
    QCOMPARE(after, before);
    if (firstSlot > 0) QCOMPARE(r.cardNumber(firstSlot), quint32(QStringView(data).mid(6, 6).toUInt(nullptr, 16)));
}

// ---- what the device refuses or ignores ---------------------------------------------------------

void TestSim::refusals_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("version");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QStringList>("answer");
    QTest::addColumn<QString>("traceNote");

    const int hlx = int(Model::KIM3110), mbus = int(Model::KIM3121);
    QTest::newRow("read without page select") << hlx << 0x20C << QStringList{} << tg("8402") << QStringList{} << "without a selected reader";
    QTest::newRow("read after reset") << hlx << 0x20C << QStringList{"8111E240", "5100"} << tg("8402") << QStringList{} << "without a selected reader";
    QTest::newRow("page select of an absent reader") << hlx << 0x20C << QStringList{} << tg("81100001") << QStringList{".0"} << "no such reader";
    QTest::newRow("subpage beyond a 2000-slot memory") << hlx << 0x20C << QStringList{"8101E240"} << tg("8140") << QStringList{".0"} << "beyond the memory";
    QTest::newRow("write without page select") << hlx << 0x20C << QStringList{} << tg("820005FF") << QStringList{".0"} << "without a selected reader";
    QTest::newRow("unknown telegram") << hlx << 0x20C << QStringList{} << tg("1234") << QStringList{".0"} << "unknown telegram";
    QTest::newRow("lower-case hex") << hlx << 0x20C << QStringList{} << tg("580b") << QStringList{".0"} << "not upper-case hex";
    QTest::newRow("no SOH") << hlx << 0x20C << QStringList{} << QByteArray(" 580B\x04") << QStringList{} << "no SOH";
    QTest::newRow("no space after SOH") << hlx << 0x20C << QStringList{} << QByteArray("\x01" "580B\x04") << QStringList{} << "without the space";
    QTest::newRow("version of an absent reader") << hlx << 0x20C << QStringList{} << tg("500001C0") << QStringList{} << "not on the bus";
    QTest::newRow("old software: version") << hlx << 0x00B << QStringList{} << tg("51E240C0") << QStringList{".0180000B"} << "";
    QTest::newRow("old software: no card count") << hlx << 0x00B << QStringList{} << tg("61E240C8") << QStringList{} << "below 0.0.12";
    QTest::newRow("M:BUS wrong length byte") << mbus << 0x20C << QStringList{}
                                             << tg("FFFFFF01E2400800000E000000010040FFFF09FBF1FFFF00") << QStringList{"NAK"} << "length byte";
    QTest::newRow("M:BUS write without end 00") << mbus << 0x20C << QStringList{}
                                                << tg("FFFFFF01E2400800000D000000010040FFFF09FBF1FFFF01") << QStringList{"NAK"} << "fixed fields";
    QTest::newRow("M:BUS read suffix at 256") << mbus << 0x20C << QStringList{} << tg("FFFFFF01E2400600000600000001002000")
                                              << QStringList{"NAK"} << "must end in 8000";
    QTest::newRow("M:BUS read suffix elsewhere") << mbus << 0x20C << QStringList{} << tg("FFFFFF01E2400600000600000001208000")
                                                 << QStringList{"NAK"} << "must end in 2000";
    QTest::newRow("M:BUS read beyond 2000 slots") << mbus << 0x20C << QStringList{} << tg("FFFFFF01E2400600000600000040002000")
                                                  << QStringList{"NAK"} << "beyond the memory";
    QTest::newRow("M:BUS absent reader") << mbus << 0x20C << QStringList{} << tg("FFFFFF000001040000010D00") << QStringList{"NAK"} << "does not answer";
    QTest::newRow("M:BUS unknown command") << mbus << 0x20C << QStringList{} << tg("FFFFFF01E2409999") << QStringList{"NAK"} << "unknown M:BUS command";
    QTest::newRow("M:BUS not starting FFFFFF") << mbus << 0x20C << QStringList{} << tg("580B") << QStringList{"NAK"} << "not an M:BUS telegram";
}

void TestSim::refusals()
{
    QFETCH(int, model);
    QFETCH(int, version);
    QFETCH(QStringList, setup);
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, answer);
    QFETCH(QString, traceNote);

    Rig rig{Model(model)};
    prepare(rig.bus.addReader(123456, 2000, version));
    const QByteArray before = rig.bus.reader(123456)->memory();
    for (const QString &s : setup) rig.ask(tg(s.toLatin1()));
    QCOMPARE(rig.ask(raw), answer);
    QCOMPARE(rig.bus.reader(123456)->memory(), before);
    if (!traceNote.isEmpty()) QVERIFY2(traceHasNote(rig.bus, traceNote), qPrintable(traceNote));
}

// ---- interface scan at the right and the wrong speed --------------------------------------------

void TestSim::scan_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QStringList>("answer");

    const QByteArray hlxScan("\x01.3F\x04"), mScan("\x01-\x04");
    QTest::newRow("KIM3100: echo, then 0 and a 4-digit serial") << int(Model::KIM3100) << 9600 << 1 << hlxScan << QStringList{".3F", ".01234"};
    QTest::newRow("KIM3110: echo, then a 5-digit serial") << int(Model::KIM3110) << 9600 << 1 << hlxScan << QStringList{".3F", ".12345"};
    QTest::newRow("KIM3110 tolerates 2 stop bits") << int(Model::KIM3110) << 9600 << 2 << hlxScan << QStringList{".3F", ".12345"};
    QTest::newRow("KIM3121: dash and three characters") << int(Model::KIM3121) << 28800 << 2 << mScan << QStringList{"-121"};
    QTest::newRow("KIM3121 at 9600: silence") << int(Model::KIM3121) << 9600 << 1 << hlxScan << QStringList{};
    QTest::newRow("KIM3121 with 1 stop bit: silence") << int(Model::KIM3121) << 28800 << 1 << mScan << QStringList{};
    QTest::newRow("KIM3100 at 28800: silence") << int(Model::KIM3100) << 28800 << 2 << mScan << QStringList{};
}

void TestSim::scan()
{
    QFETCH(int, model);
    QFETCH(int, baud);
    QFETCH(int, stopBits);
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, answer);

    Rig rig{Model(model), baud, stopBits};
    rig.bus.addReader(123456);
    QCOMPARE(rig.ask(raw), answer);
    if (answer.isEmpty()) QVERIFY(traceHasNote(rig.bus, QStringLiteral("garbled")));
}

// ---- fault switches -----------------------------------------------------------------------------

void TestSim::faults_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("answers"); // per request: a pattern for its lines joined by "|"

    const int hlx = int(Model::KIM3110), mbus = int(Model::KIM3121);
    const QString mVersion = QStringLiteral("FFFFFF01E240040000010D00");
    const QString mRead = QStringLiteral("FFFFFF01E2400600000600000001008000");
    QTest::newRow("nak.page twice, then accepted") << hlx << "nak.page=2" << QStringList{"8111E240", "8111E240", "8111E240"}
                                                   << QStringList{"\\.0", "\\.0", "\\.1"};
    QTest::newRow("nak.init after one") << hlx << "nak.init=1,after=1" << QStringList{"580B", "580B", "580B"}
                                        << QStringList{"\\.1", "\\.0", "\\.1"};
    QTest::newRow("nak.search: no reader lines") << hlx << "nak.search=1" << QStringList{"5200", "5200"}
                                                 << QStringList{"\\.0", "\\.1\\|\\.51E2401"};
    QTest::newRow("nak.write leaves the memory") << hlx << "nak.write=1" << QStringList{"8111E240", "820040FF", "8402"}
                                                 << QStringList{"\\.1", "\\.0", "\\.FF09FBF1"};
    QTest::newRow("M:BUS nak.read") << mbus << "nak.read=1" << QStringList{mRead, mRead} << QStringList{"NAK", "\\(ACK\\)\\|:01E240.*"};
    QTest::newRow("drop loses one line") << hlx << "drop=1" << QStringList{"5200", "5200"}
                                         << QStringList{"\\.51E2401", "\\.1\\|\\.51E2401"};
    QTest::newRow("garbage in front of a line") << hlx << "garbage=1" << QStringList{"580B", "580B"}
                                                << QStringList{"[^|.0-9A-F][^|]*\\|\\.1", "\\.1"};
    QTest::newRow("dots before an M:BUS acknowledge") << mbus << "dots=1" << QStringList{mVersion, mVersion}
                                                      << QStringList{"(\\.\\|){1,3}\\(ACK\\)\\|:01E240.*", "\\(ACK\\)\\|:01E240.*"};
    QTest::newRow("novideo scan answer") << hlx << "novideo=1" << QStringList{"SCAN", "SCAN"}
                                         << QStringList{"\\.3F\\|08.*", "\\.3F\\|\\.12345"};
    QTest::newRow("nointerface: nothing answers") << hlx << "nointerface=1.0" << QStringList{"SCAN", "580B", "5200"}
                                                  << QStringList{"", "", ""};
    QTest::newRow("nointerface for the first two") << mbus << "nointerface=2" << QStringList{"SCAN", "SCAN", "SCAN"}
                                                   << QStringList{"", "", "-121"};
    QTest::newRow("reader vanishes mid-read") << hlx << "vanish=1,after=1"
                                              << QStringList{"8111E240", "8402", "840A", "8412", "5200", "8111E240"}
                                              << QStringList{"\\.1", "\\.FF09FBF1", "", "", "\\.1", "\\.0"};
    QTest::newRow("M:BUS reader vanishes") << mbus << "vanish=1" << QStringList{mRead, mVersion} << QStringList{"NAK", "NAK"};
}

void TestSim::faults()
{
    QFETCH(int, model);
    QFETCH(QString, fault);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, answers);

    Rig rig{Model(model)};
    prepare(rig.bus.addReader(123456));
    QString err;
    QVERIFY2(rig.bus.setFault(fault, &err), qPrintable(err));
    const QByteArray before = rig.bus.reader(123456)->memory();
    for (int i = 0; i < requests.size(); ++i) {
        const QString got = rig.ask(request(Model(model), requests[i])).join(QLatin1Char('|'));
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(answers[i])).match(got).hasMatch(),
                 qPrintable(QStringLiteral("request %1 (%2): got \"%3\", want /%4/").arg(i).arg(requests[i], got, answers[i])));
    }
    if (fault.startsWith(QLatin1String("nak.write"))) QCOMPARE(rig.bus.reader(123456)->memory(), before);
}

void TestSim::faultSeedReproducible()
{
    auto pattern = [](quint32 seed) {
        Rig rig(Model::KIM3110);
        rig.bus.addReader(123456);
        rig.bus.setSeed(seed);
        QString err;
        rig.bus.setFault(QStringLiteral("drop=0.5"), &err);
        rig.bus.setFault(QStringLiteral("garbage=0.2"), &err);
        QString p;
        for (int i = 0; i < 40; ++i) {
            rig.lines.clear();
            rig.link.send(tg("580B"));
            rig.settle(15);
            p += QString::number(rig.lines.size());
        }
        return p;
    };
    const QString a = pattern(7), b = pattern(7), c = pattern(8);
    QCOMPARE(a, b);
    QVERIFY(a != c);
    QVERIFY(a.contains(QLatin1Char('0'))); // some answers dropped
    QVERIFY(a.contains(QLatin1Char('1'))); // some came through
}

void TestSim::faultTextErrors_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::newRow("no value") << "drop";
    QTest::newRow("not a number") << "drop=abc";
    QTest::newRow("rate above 1") << "drop=1.5";
    QTest::newRow("percentage above 100") << "drop=150%";
    QTest::newRow("negative count") << "drop=-2";
    QTest::newRow("unknown kind") << "nak.foo=1";
    QTest::newRow("nak of unknown telegrams") << "nak.unknown=1";
    QTest::newRow("unknown fault") << "bogus=1";
    QTest::newRow("bad delay ms") << "delay=1,ms=x";
    QTest::newRow("ms on another fault") << "drop=1,ms=5";
    QTest::newRow("negative after") << "drop=1,after=-1";
}

void TestSim::faultTextErrors()
{
    QFETCH(QString, faultText);
    Bus bus(Model::KIM3110);
    QVERIFY(bus.setFault(QStringLiteral("drop=3"), nullptr));
    QString err;
    QVERIFY(!bus.setFault(faultText, &err));
    QVERIFY2(err.contains(faultText), qPrintable(err));
    // A refused switch leaves the others as they were.
    QCOMPARE(bus.faultSwitch(Fault::Drop).count, 3);
}

void TestSim::delayedAnswer()
{
    Rig rig(Model::KIM3110);
    rig.bus.addReader(123456);
    QString err;
    QVERIFY(rig.bus.setFault(QStringLiteral("delay=1,ms=300"), &err));
    QElapsedTimer t;
    t.start();
    rig.link.send(tg("580B"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.lines.size(), 1, 2000);
    QVERIFY2(t.elapsed() >= 290, qPrintable(QString::number(t.elapsed())));
    rig.lines.clear();
    t.restart();
    rig.link.send(tg("580B"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.lines.size(), 1, 2000);
    QVERIFY2(t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
}

void TestSim::portLost()
{
    Rig rig(Model::KIM3110);
    rig.bus.addReader(123456);
    QString err;
    QVERIFY(rig.bus.setFault(QStringLiteral("portlost=1,after=1"), &err));
    QSignalSpy lost(&rig.link, &kdr::SerialLink::portLost);
    QCOMPARE(rig.ask(tg("580B")), QStringList{".1"});
    QCOMPARE(lost.count(), 0);
    QCOMPARE(rig.ask(tg("580B")), QStringList{});
    QCOMPARE(lost.count(), 1);
    QVERIFY(!rig.link.isOpen());
    QVERIFY(!rig.link.send(tg("580B")));
    QTest::qWait(50);
    QCOMPARE(lost.count(), 1); // once only
    // The port can be opened again; the switch is used up.
    QVERIFY(rig.link.open(QStringLiteral("sim0"), 9600, 1, &err));
    QCOMPARE(rig.ask(tg("580B")), QStringList{".1"});
    QCOMPARE(lost.count(), 1);
}

// ---- pacing at line speed -----------------------------------------------------------------------

void TestSim::pacing_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("bitsPerByte");
    QTest::newRow("HLX:BUS 9600, 10 bits a byte") << int(Model::KIM3110) << 10;
    QTest::newRow("M:BUS 28800, 11 bits a byte") << int(Model::KIM3121) << 11;
}

void TestSim::pacing()
{
    QFETCH(int, model);
    QFETCH(int, bitsPerByte);
    const Model m = Model(model);
    const QByteArray search = isMBus(m) ? tg("FFFFFF0000000400000B020103080000FE0000000000") : tg("5200");

    for (bool paced : {false, true}) {
        Rig rig(m);
        for (int i = 0; i < 16; ++i) rig.bus.addReader(100000 + quint32(i));
        rig.bus.setPacing(paced);
        QElapsedTimer t;
        t.start();
        rig.link.send(search);
        QTRY_COMPARE_WITH_TIMEOUT(rig.lines.size(), 17, 5000);
        const qint64 elapsedMs = t.elapsed();
        qint64 bytes = search.size();
        for (const QByteArray &l : rig.lines) bytes += l.size();
        const double wireMs = double(bytes) * bitsPerByte * 1000.0 / rig.bus.baud();
        QCOMPARE(rig.bus.wireMicros(100), qint64(100) * bitsPerByte * 1000000 / rig.bus.baud());
        if (paced) {
            QVERIFY2(elapsedMs >= wireMs * 0.9, qPrintable(QStringLiteral("%1 ms < wire %2 ms").arg(elapsedMs).arg(wireMs)));
            QVERIFY2(elapsedMs <= wireMs + 400, qPrintable(QStringLiteral("%1 ms >> wire %2 ms").arg(elapsedMs).arg(wireMs)));
        } else {
            QVERIFY2(elapsedMs < wireMs * 0.5, qPrintable(QStringLiteral("unpaced %1 ms, wire %2 ms").arg(elapsedMs).arg(wireMs)));
        }
    }
}

// ---- the link as a serial port ------------------------------------------------------------------

void TestSim::linkBehavesLikeAPort()
{
    Bus bus(Model::KIM3110);
    bus.setLatency(0);
    bus.addReader(123456);
    SimSerialLink link(&bus);
    QString err;
    QVERIFY(!link.send(tg("580B"))); // not open
    QVERIFY(!link.open(QStringLiteral("sim0"), 9600, 3, &err));
    QVERIFY(err.contains(QLatin1String("stop bits")));
    QVERIFY(link.open(QStringLiteral("sim0"), 9600, 1, &err));
    QCOMPARE(link.baudRate(), 9600);
    QCOMPARE(link.portName(), QStringLiteral("sim0"));

    bool inSend = false;
    int reentrant = 0;
    QList<QByteArray> lines;
    QList<qint64> sent;
    connect(&link, &kdr::SerialLink::lineReceived, this, [&](const QByteArray &l) {
        if (inSend) ++reentrant;
        lines << l;
    });
    connect(&link, &kdr::SerialLink::dataSent, this, [&](qint64 n) {
        if (inSend) ++reentrant;
        sent << n;
    });
    inSend = true;
    QVERIFY(link.send(tg("5200")));
    inSend = false;
    QCOMPARE(lines.size(), 0);
    QTRY_COMPARE(lines.size(), 2);
    QCOMPARE(reentrant, 0);
    QCOMPARE(sent, QList<qint64>{7});
    // Lines come whole, EOT included.
    QCOMPARE(lines[0], QByteArray("\x01.1\x04"));
    QCOMPARE(lines[1], QByteArray("\x01.51E2401\x04"));

    // A second port on the same bus is busy while the first is open.
    SimSerialLink other(&bus);
    QVERIFY(!other.open(QStringLiteral("sim0"), 9600, 1, &err));
    QVERIFY(err.contains(QLatin1String("busy")));
    link.close();
    QVERIFY(other.open(QStringLiteral("sim0"), 9600, 1, &err));

    // A limited port list refuses other names.
    SimSerialLink named(&bus);
    named.setPortNames({QStringLiteral("ttySIM0")});
    QVERIFY(!named.open(QStringLiteral("ttyUSB0"), 9600, 1, &err));
    QVERIFY(err.contains(QLatin1String("ttyUSB0")));

    // A telegram split over two sends is one telegram.
    QList<QByteArray> got;
    connect(&other, &kdr::SerialLink::lineReceived, this, [&](const QByteArray &l) { got << l; });
    QVERIFY(other.send(QByteArray("\x01 58")));
    QVERIFY(other.send(QByteArray("0B\x04")));
    QTRY_COMPARE(got.size(), 1);
    QCOMPARE(norm(got[0]), QStringLiteral(".1"));
    // purge() forgets a half-sent telegram.
    QVERIFY(other.send(QByteArray("\x01 52")));
    other.purge();
    QVERIFY(other.send(tg("580B")));
    QTRY_COMPARE(got.size(), 2);
    QTest::qWait(30);
    QCOMPARE(got.size(), 2);
    QCOMPARE(bus.receivedTelegrams().last(), QStringLiteral("580B"));
}

// ---- reader start states ------------------------------------------------------------------------

void TestSim::stateRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    Bus a(Model::KIM3121);
    prepare(a.addReader(123456, 4000, 0x206));
    a.addReader(654321, 2000, 0x00B).setCard(2000, 42, 0x03);
    a.reader(654321)->setPresent(false);
    QString err;
    QVERIFY2(a.saveState(path, &err), qPrintable(err));

    Bus b(Model::KIM3121);
    b.addReader(999);
    QVERIFY2(b.loadState(path, &err), qPrintable(err));
    QCOMPARE(b.readers().size(), 2);
    QVERIFY(!b.reader(999));
    for (Reader *r : a.readers()) {
        Reader *o = b.reader(r->serial());
        QVERIFY(o);
        QCOMPARE(o->slotCount(), r->slotCount());
        QCOMPARE(o->version(), r->version());
        QCOMPARE(o->present(), r->present());
        QCOMPARE(o->memory(), r->memory());
    }
    QCOMPARE(b.reader(654321)->writtenCardCount(), 2000);
}

void TestSim::badStateKeepsReaders()
{
    const QByteArray block0 = QByteArray(512, 'F');
    const QList<QPair<QByteArray, QString>> bad = {
        {"not json", QStringLiteral("JSON")},
        {R"({"readers":[{"serial":1,"slots":3000}]})", QStringLiteral("2000 or 4000")},
        {R"({"readers":[{"serial":-5}]})", QStringLiteral("serial")},
        {R"({"readers":[{"serial":1,"version":"2.x"}]})", QStringLiteral("version")},
        {R"({"readers":[{"serial":1,"blocks":{"0":"00"}}]})", QStringLiteral("hex digits")},
        {R"({"readers":[{"serial":1,"blocks":{"64":")" + block0 + R"("}}]})", QStringLiteral("outside")},
    };
    for (const auto &b : bad) {
        Bus bus(Model::KIM3110);
        prepare(bus.addReader(123456));
        const QByteArray before = bus.reader(123456)->memory();
        QString err;
        QVERIFY(!bus.loadStateJson(b.first, &err));
        QVERIFY2(err.contains(b.second), qPrintable(err));
        QCOMPARE(bus.readers().size(), 1);
        QCOMPARE(bus.reader(123456)->memory(), before);
    }
}

void TestSim::vtdStartState()
{
    using namespace kdr::CardField;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("123456.vtd"));
    kdr::CardTable t;
    t.resetToSlots(2000);
    t.setValue(0, KDRSerial, kdr::Value(qint32(123456)));
    t.setValue(0, Version, kdr::Value(qint32(0x20C)));
    t.setValue(0, ASAdr, kdr::Value(qint32(5)));
    t.setValue(0, RelayT, kdr::Value(qint32(6)));
    t.setValue(0, REX, kdr::Value(qint32(2)));
    t.setValue(0, FuncKDR_RcvOpenDoor, kdr::Value(true));
    t.setValue(0, FreeProt1, kdr::Value(QStringLiteral("12345678")));
    t.setValue(0, FreeProt2, kdr::Value(QStringLiteral("1234")));
    t.setValue(0, MasterCard, kdr::Value(QStringLiteral("654321")));
    t.setValue(0, DevMode, kdr::Value(qint32(1)));
    t.setValue(0, DevMode_MSB, kdr::Value(qint32(1)));
    t.setValue(0, IsStandalone, kdr::Value(qint32(0)));
    t.setValue(0, CardNoSaved, kdr::Value(qint32(654321)));
    t.setValue(0, FuncKDR, kdr::Value(QStringLiteral("05")));
    t.setValue(2, CardNoSaved, kdr::Value(qint32(100)));
    t.setValue(5, CardNoSaved, kdr::Value(qint32(0))); // 0 is no card
    QCOMPARE(kdr::SaveTableToFile(t, path), QString());

    QString err;
    auto r = Reader::fromVtd(path, &err);
    QVERIFY2(r, qPrintable(err));
    QCOMPARE(r->serial(), quint32(123456));
    QCOMPARE(r->slotCount(), 2000);
    QCOMPARE(r->version(), 0x20C);
    QCOMPARE(hexOf(r->slotRecord(1)), QStringLiteral("05FFFF09FBF1FFFF"));
    QCOMPARE(hexOf(r->slotRecord(2)), QStringLiteral("FFFFFFFFFFFFFFFF"));
    QCOMPARE(hexOf(r->slotRecord(3)), QStringLiteral("40FFFF000064FFFF"));
    QCOMPARE(hexOf(r->slotRecord(6)), QStringLiteral("FFFFFFFFFFFFFFFF"));
    QCOMPARE(r->writtenCardCount(), 3);
    QCOMPARE(hexOf(r->parameterBlock()), QStringLiteral("0005060200228800"
                                                         "12345678"
                                                         "00001234"
                                                         "00000000"
                                                         "00000000"
                                                         "000000"
                                                         "09FBF1"
                                                         "0000"));

    QVERIFY(!Reader::fromVtd(dir.filePath(QStringLiteral("missing.vtd")), &err));
    QVERIFY(err.contains(QLatin1String("missing.vtd")));
}

// ---- kdrsim on a pseudo-terminal ----------------------------------------------------------------

void TestSim::ptyHlx()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("kdr-tty"));
    PtySim sim;
    QVERIFY2(sim.start({QStringLiteral("--bus"), QStringLiteral("hlx"), QStringLiteral("--reader"), QStringLiteral("123456"),
                        QStringLiteral("--pty-link"), link, QStringLiteral("--latency"), QStringLiteral("0")}),
             qPrintable(QString::fromLocal8Bit(sim.proc.readAllStandardError())));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.slave);
    QVERIFY(sim.openPort(link));

    termios t{};
    tcgetattr(sim.fd, &t);
    cfsetspeed(&t, B9600);
    tcsetattr(sim.fd, TCSANOW, &t);
    QCOMPARE(sim.ask(QByteArray("\x01.3F\x04")), (QStringList{".3F", ".01234"}));
    QCOMPARE(sim.ask(QByteArray("\x01 5200\x04")), (QStringList{".1", ".51E2401"}));
    // The speed the program sets on its side is the speed the interface hears.
    cfsetspeed(&t, B38400);
    tcsetattr(sim.fd, TCSANOW, &t);
    QCOMPARE(sim.ask(QByteArray("\x01.3F\x04")), QStringList{});

    // Closing and reopening the port does not hang the pty up.
    ::close(sim.fd);
    QVERIFY(sim.openPort(link));
    cfsetspeed(&t, B9600);
    tcsetattr(sim.fd, TCSANOW, &t);
    QCOMPARE(sim.ask(QByteArray("\x01 580B\x04")), QStringList{".1"});

    ::kill(pid_t(sim.proc.processId()), SIGTERM);
    QVERIFY(sim.proc.waitForFinished(5000));
    QCOMPARE(sim.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.proc.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(sim.proc.readAllStandardOutput().contains("kdrsim: stopped"));
}

void TestSim::ptyMBusSpeedFromSlave()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state.json"));
    PtySim sim;
    QVERIFY(sim.start({QStringLiteral("--bus"), QStringLiteral("mbus"), QStringLiteral("--reader"), QStringLiteral("123456:4000:2.0.12"),
                       QStringLiteral("--state"), state, QStringLiteral("--latency"), QStringLiteral("0")}));
    QVERIFY(sim.openPort(sim.slave));

    // The program's scan: 9600 first (silence from an M:BUS interface), then 28800 with 2 stop bits.
    QVERIFY(setPtyLineSettings(sim.fd, 9600, 1));
    QCOMPARE(sim.ask(QByteArray("\x01.3F\x04")), QStringList{});
    QCOMPARE(sim.ask(QByteArray("\x01-\x04")), QStringList{}); // answered at 28800 only
    QVERIFY(setPtyLineSettings(sim.fd, 28800, 2));
    QCOMPARE(sim.ask(QByteArray("\x01-\x04")), QStringList{"-121"});
    const QStringList v = sim.ask(tg("FFFFFF01E240040000010D00"));
    QCOMPARE(v.size(), 2);
    QCOMPARE(v[0], QStringLiteral("(ACK)"));
    QCOMPARE(v[1].mid(25, 6), QStringLiteral("02000C"));
    QCOMPARE(sim.ask(tg("FFFFFF01E2400800000D000000010040FFFF09FBF1FFFF00")).size(), 2);

    ::kill(pid_t(sim.proc.processId()), SIGINT);
    QVERIFY(sim.proc.waitForFinished(5000));
    QCOMPARE(sim.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.proc.exitCode(), 0);
    // The written card is in the saved state.
    Bus bus(Model::KIM3121);
    QString err;
    QVERIFY2(bus.loadState(state, &err), qPrintable(err));
    QVERIFY(bus.reader(123456));
    QCOMPARE(bus.reader(123456)->cardNumber(1), quint32(654321));
    QCOMPARE(bus.reader(123456)->slotCount(), 4000);
}

// The program's real port path: QSerialPort sets 28800 through termios2; the simulator must see it.
void TestSim::ptyThroughQSerialPort()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("kdr-mbus"));
    PtySim sim;
    QVERIFY(sim.start({QStringLiteral("--bus"), QStringLiteral("mbus"), QStringLiteral("--reader"), QStringLiteral("123456"),
                       QStringLiteral("--pty-link"), link, QStringLiteral("--latency"), QStringLiteral("0")}));

    auto scan = [&](qint32 baud, QSerialPort::StopBits stop, const QByteArray &telegram) {
        QSerialPort port(link);
        port.setBaudRate(baud);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(stop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        if (!port.open(QIODevice::ReadWrite)) return QStringLiteral("<open failed: %1>").arg(port.errorString());
        port.write(telegram);
        port.waitForBytesWritten(1000);
        QByteArray in;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 500 && !in.contains(char(0x04))) {
            if (port.waitForReadyRead(50)) in += port.readAll();
        }
        port.close();
        return norm(in);
    };
    // The right telegram at the wrong speed or with one stop bit: the interface does not hear it.
    QCOMPARE(scan(9600, QSerialPort::OneStop, QByteArray("\x01-\x04")), QString());
    QCOMPARE(scan(28800, QSerialPort::OneStop, QByteArray("\x01-\x04")), QString());
    QCOMPARE(scan(28800, QSerialPort::TwoStop, QByteArray("\x01-\x04")), QStringLiteral("-121"));

    ::kill(pid_t(sim.proc.processId()), SIGTERM);
    QVERIFY(sim.proc.waitForFinished(5000));
    QCOMPARE(sim.proc.exitCode(), 0);
}

void TestSim::cliErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("bad bus") << QStringList{"--bus", "foo"} << "--bus must be";
    QTest::newRow("bad serial") << QStringList{"--reader", "abc"} << "serial number";
    QTest::newRow("bad slots") << QStringList{"--reader", "123456:3000"} << "slots must be 2000 or 4000";
    QTest::newRow("bad version") << QStringList{"--reader", "123456:2000:9.9.99"} << "version";
    QTest::newRow("serial too wide for HLX:BUS") << QStringList{"--bus", "hlx", "--reader", "2000000"} << "5 hex digits";
    QTest::newRow("bad fault") << QStringList{"--fault", "bogus=1"} << "unknown fault";
    QTest::newRow("bad latency") << QStringList{"--latency", "read=x"} << "--latency";
    QTest::newRow("bad interface serial") << QStringList{"--bus", "hlx5", "--interface-serial", "5"} << "KIM3110";
    QTest::newRow("missing vtd") << QStringList{"--reader-file", "/nonexistent/x.vtd"} << "x.vtd";
    QTest::newRow("link over a regular file") << QStringList{"--pty-link", "@FILE@"} << "not a symbolic link";
}

void TestSim::cliErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("precious"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    args.replaceInStrings(QStringLiteral("@FILE@"), file);
    QProcess p;
    p.start(simBinary(), args);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

void TestSim::cliHelp()
{
    QProcess p;
    p.start(simBinary(), {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(p.readAllStandardOutput());
    for (const char *opt : {"--bus", "--interface-serial", "--reader ", "--reader-file", "--state", "--pty-link", "--trace", "--pace",
                            "--latency", "--fault", "--seed", "--help", "nak.<kind>", "portlost", "aExtraPorts"})
        QVERIFY2(help.contains(QLatin1String(opt)), opt);
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
