// kdrctl vtd new / vtd dump, run as a user would run them.
#include "TestUtil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct Run {
    int code = -1;
    QByteArray out, err;
};

Run kdrctl(const QStringList &args)
{
    QProcess p;
    p.start(qEnvironmentVariable("KDR_TEST_BIN_DIR") + QStringLiteral("/tools/kdrctl/kdrctl"), args);
    Run r;
    if (!p.waitForFinished(20000)) return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
} // namespace

class TestKdrctlVtd : public QObject {
    Q_OBJECT
private slots:
    void newFile_data();
    void newFile();
    void badArguments_data();
    void badArguments();
    void dumpShowsNullAsNull();
    void dumpOfTruncatedFile();
};

void TestKdrctlVtd::newFile_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("size");
    QTest::newRow("2000") << QStringList{} << 200466;
    QTest::newRow("4000") << QStringList{"--slots", "4000"} << 400466;
}

void TestKdrctlVtd::newFile()
{
    QFETCH(QStringList, extra);
    QFETCH(int, size);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("1.vtd"));
    const Run r = kdrctl(QStringList{"vtd", "new", file} + extra);
    QCOMPARE(r.code, 0);
    const QByteArray b = testutil::readAll(file);
    QCOMPARE(b.size(), size);
    QCOMPARE(b.left(16).toHex(' '), QByteArray("03 00 18 00 02 00 49 44 03 00 00 00 00 00 00 00"));
}

void TestKdrctlVtd::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("no file") << QStringList{"vtd", "new"} << QByteArray("usage");
    QTest::newRow("bad slots") << QStringList{"vtd", "new", "x.vtd", "--slots", "3000"} << QByteArray("2000 or 4000");
    QTest::newRow("unknown sub-command") << QStringList{"vtd", "frob"} << QByteArray("unknown vtd command");
    QTest::newRow("missing folder") << QStringList{"vtd", "new", "/nonexistent/dir/x.vtd"} << QByteArray("Cannot write");
    QTest::newRow("missing file") << QStringList{"vtd", "dump", "/nonexistent/x.vtd"} << QByteArray("cannot open");
}

void TestKdrctlVtd::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);
    const Run r = kdrctl(args);
    QVERIFY(r.code != 0);
    QVERIFY2(r.err.contains(message), r.err.constData());
}

void TestKdrctlVtd::dumpShowsNullAsNull()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("7.vtd"));
    QCOMPARE(kdrctl({"vtd", "new", file, "--serial", "123456"}).code, 0);
    const Run r = kdrctl({"vtd", "dump", file});
    QCOMPARE(r.code, 0);
    const QJsonObject doc = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(doc.value("version").toInt(), 3);
    QCOMPARE(doc.value("definitions").toArray().size(), 24);
    QCOMPARE(doc.value("definitions").toArray().at(2).toObject().value("name").toString(), QStringLiteral("CardHolder"));
    QCOMPARE(doc.value("definitions").toArray().at(2).toObject().value("size").toInt(), 60);
    const QJsonArray records = doc.value("records").toArray();
    QCOMPARE(records.size(), 2000);
    QCOMPARE(records.at(0).toObject().value("KDRSerial").toInt(), 123456);
    QVERIFY(records.at(1).toObject().value("KDRSerial").isNull());
    QVERIFY(records.at(1999).toObject().value("CardHolder").isNull());
    QCOMPARE(records.at(1999).toObject().value("ID").toInt(), 2000);
}

void TestKdrctlVtd::dumpOfTruncatedFile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("7.vtd"));
    QCOMPARE(kdrctl({"vtd", "new", file}).code, 0);
    QVERIFY(testutil::writeAll(file, testutil::readAll(file).left(466 + 100 * 3 + 10)));
    const Run r = kdrctl({"vtd", "dump", file});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("ends inside record 4"), r.err.constData());
    const QJsonObject doc = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(doc.value("ok").toBool(true), false);
    QCOMPARE(doc.value("recordsRead").toInt(), 3);
    QCOMPARE(doc.value("records").toArray().size(), 3);
}

QTEST_GUILESS_MAIN(TestKdrctlVtd)
#include "tst_kdrctl_vtd.moc"
