// The reader data file: byte-exact writing, tolerant reading of other layouts and versions,
// failures that keep what was read, and saves that never destroy the previous file.
#include "store/Cp1252.h"
#include "store/Records.h"
#include "store/VtdFile.h"
#include "TestUtil.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace kdr;
using testutil::VtdBuilder;

namespace {
QByteArray le32(qint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    return QByteArray(c, 4);
}

// Header + records of the card table's own layout, minus the last `dropDefs` definitions.
VtdBuilder cardLayout(quint16 version, int dropDefs = 0)
{
    VtdBuilder b(version);
    const auto fields = cardTableFields();
    b.u16(quint16(fields.size() - dropDefs));
    for (int i = 0; i < fields.size() - dropDefs; ++i)
        b.def(fields[i].name.toLatin1().constData(), quint16(fields[i].type), quint16(fields[i].type == FieldType::Text ? fields[i].size : 0));
    return b;
}

bool runOk(const QString &cmd, const QStringList &args)
{
    return QProcess::execute(cmd, args) == 0;
}
} // namespace

class TestVtdFile : public QObject {
    Q_OBJECT
private slots:
    void newTableBytes_data();
    void newTableBytes();
    void roundTripKeepsEveryValue();
    void olderLayoutWithoutDeviceModes();
    void unknownDefinitionIsSkipped();
    void booleanFFFF();
    void oldVersions_data();
    void oldVersions();
    void fieldListIsSkipped();
    void otherTypeCodesAreSkipped();
    void longTextIsCut();
    void shortFiles_data();
    void shortFiles();
    void truncatedRecordsKeepWhatWasRead();
    void headerOnlyRead();
    void xmlFormIsRefused();
    void saveKeepsCurrentRecord();
    void saveIntoReadOnlyFolderKeepsOldFile();
    void saveOntoFullFileSystemKeepsOldFile();
    void writeErrorMidSaveKeepsOldFile();
    void cp1252();
};

void TestVtdFile::newTableBytes_data()
{
    QTest::addColumn<int>("slotCount");
    QTest::addColumn<int>("size");
    QTest::newRow("2000") << 2000 << 200466;
    QTest::newRow("4000") << 4000 << 400466;
}

void TestVtdFile::newTableBytes()
{
    QFETCH(int, slotCount);
    QFETCH(int, size);
    CardTable t;
    t.resetToSlots(slotCount);
    const QByteArray b = writeVtd(t);
    QCOMPARE(b.size(), size);
    QCOMPARE(b.left(16).toHex(' '), QByteArray("03 00 18 00 02 00 49 44 03 00 00 00 00 00 00 00"));
    // Header of 462 bytes: the empty field list ends it, then the record count.
    QCOMPARE(b.mid(460, 2), QByteArray(2, '\0'));
    QCOMPARE(b.mid(462, 4), le32(slotCount));
    // Slot 1: ID length 4, value 1, then 23 NULL lengths.
    QCOMPARE(b.mid(466, 8), le32(4) + le32(1));
    QCOMPARE(b.mid(474, 92), QByteArray(92, '\0'));
    QCOMPARE(b.mid(466 + 100 * (slotCount - 1), 8), le32(4) + le32(slotCount));
}

void TestVtdFile::roundTripKeepsEveryValue()
{
    CardTable t;
    t.resetToSlots(2000);
    t.setValue(0, CardField::KDRSerial, Value(qint32(123456)));
    t.setValue(0, CardField::Note, Value(QStringLiteral("Haupteingang Süd – 2€")));
    t.setValue(0, CardField::IsParamChanged, Value(false));
    t.setValue(0, CardField::FuncKDR_RcvOpenDoor, Value(true));
    t.setValue(0, CardField::DevMode, Value(qint32(1)));
    t.setValue(5, CardField::CardNoSaved, Value(qint32(16777215)));
    t.setValue(5, CardField::CardNoRead, Value(qint32(-1)));
    t.setValue(5, CardField::CardHolder, Value(QString())); // empty, not NULL
    t.setValue(5, CardField::FuncKDR, Value(QStringLiteral("4F")));
    t.setValue(5, CardField::IsCardChanged, Value(true));

    const QByteArray image = writeVtd(t);
    CardTable back;
    const VtdReadResult r = readVtd(image, back);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.version, quint16(3));
    QCOMPARE(back.recordCount(), 2000);
    for (int rec = 0; rec < 2000; ++rec)
        for (int f = 0; f < CardField::Count; ++f)
            if (!t.fields()[f].calculated) QCOMPARE(back.storedValue(rec, f), t.storedValue(rec, f));
    QVERIFY(!back.value(5, CardField::CardHolder).isNull());
    QVERIFY(back.value(6, CardField::CardHolder).isNull());
    QCOMPARE(writeVtd(back), image);
    // Calculated fields are defined in the file but stored as NULL.
    QVERIFY(image.contains(QByteArray("FuncKDR_str")));
}

void TestVtdFile::olderLayoutWithoutDeviceModes()
{
    VtdBuilder b = cardLayout(3, 3);
    b.u16(0).i32(2);
    for (int rec = 1; rec <= 2; ++rec) {
        b.intVal(rec);
        for (int i = 1; i < 21; ++i) b.nul();
    }
    CardTable t;
    const VtdReadResult r = readVtd(b.bytes(), t);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(t.recordCount(), 2);
    QVERIFY(t.value(0, CardField::DevMode).isNull());
    QVERIFY(t.value(1, CardField::IsStandalone).isNull());
    QCOMPARE(t.value(0, CardField::DevMode).toInt(), 0);
    QCOMPARE(t.value(1, CardField::ID).toInt(), 2);
}

void TestVtdFile::unknownDefinitionIsSkipped()
{
    VtdBuilder b(3);
    b.u16(3).def("ID", 3, 0).def("Colour", 1, 20).def("CardNoSaved", 3, 0).u16(0).i32(2);
    b.intVal(1).val("blue").intVal(4711);
    b.intVal(2).nul().intVal(42);
    CardTable t;
    const VtdReadResult r = readVtd(b.bytes(), t);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(t.value(0, CardField::CardNoSaved).toInt(), 4711);
    QCOMPARE(t.value(1, CardField::CardNoSaved).toInt(), 42);
    QVERIFY(t.value(0, CardField::CardHolder).isNull());
}

void TestVtdFile::booleanFFFF()
{
    VtdBuilder b(3);
    b.u16(2).def("ID", 3, 0).def("IsCardChanged", 5, 0).u16(0).i32(2);
    b.intVal(1).val(QByteArray("\xFF\xFF", 2));
    b.intVal(2).val(QByteArray("\x00\x00", 2));
    CardTable t;
    QVERIFY(readVtd(b.bytes(), t).ok);
    QCOMPARE(t.value(0, CardField::IsCardChanged), Value(true));
    QCOMPARE(t.value(1, CardField::IsCardChanged), Value(false));
}

void TestVtdFile::oldVersions_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("0: no field list, 16-bit lengths") << 0;
    QTest::newRow("1: 16-bit lengths") << 1;
    QTest::newRow("2: no precision") << 2;
}

void TestVtdFile::oldVersions()
{
    QFETCH(int, version);
    VtdBuilder b{quint16(version)};
    b.u16(3).def("ID", 3, 0).def("CardHolder", 1, 60).def("CardNoSaved", 3, 0);
    if (version != 0) b.u16(0);
    b.i32(1).intVal(9).val("Eve").intVal(300);
    CardTable t;
    const VtdReadResult r = readVtd(b.bytes(), t);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(t.value(0, CardField::ID).toInt(), 9);
    QCOMPARE(t.value(0, CardField::CardHolder).toText(), QStringLiteral("Eve"));
    QCOMPARE(t.value(0, CardField::CardNoSaved).toInt(), 300);
}

void TestVtdFile::fieldListIsSkipped()
{
    VtdBuilder b(3);
    b.u16(1).def("ID", 3, 0);
    b.u16(2).u16(2).raw("ID").u16(0).u16(3).u16(0).u16(4).raw("Junk").u16(1).u16(1).u16(10);
    b.i32(1).intVal(5);
    CardTable t;
    QVERIFY(readVtd(b.bytes(), t).ok);
    QCOMPARE(t.value(0, CardField::ID).toInt(), 5);
}

void TestVtdFile::otherTypeCodesAreSkipped()
{
    // A wide-text CardHolder and a date-time field from another writer: their data is skipped.
    VtdBuilder b(3);
    b.u16(3).def("ID", 3, 0).def("CardHolder", 24, 60).def("Stamp", 11, 0).u16(0).i32(1);
    b.intVal(1).val(QByteArray("A\0n\0", 4)).val(QByteArray(8, '\x01'));
    CardTable t;
    QVERIFY(readVtd(b.bytes(), t).ok);
    QCOMPARE(t.value(0, CardField::ID).toInt(), 1);
    QVERIFY(t.value(0, CardField::CardHolder).isNull());
}

void TestVtdFile::longTextIsCut()
{
    VtdBuilder b(3);
    b.u16(2).def("ID", 3, 0).def("MasterCard", 1, 40).u16(0).i32(1);
    b.intVal(1).val("12345678901234567890");
    CardTable t;
    QVERIFY(readVtd(b.bytes(), t).ok);
    QCOMPARE(t.value(0, CardField::MasterCard).toText(), QStringLiteral("1234567890"));
}

void TestVtdFile::shortFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("4 bytes") << QByteArray("\x03\x00\x18\x00", 4);
    QTest::newRow("cut in a definition") << writeVtd(CardTable()).left(40);
    QTest::newRow("cut in the record count") << writeVtd(CardTable()).left(464);
    QTest::newRow("unknown version") << QByteArray("\x09\x00\x00\x00\x00\x00\x00\x00\x00\x00", 10);
}

void TestVtdFile::shortFiles()
{
    QFETCH(QByteArray, data);
    CardTable t;
    t.resetToSlots(10);
    const VtdReadResult r = readVtd(data, t);
    QVERIFY(!r.ok);
    QVERIFY(!r.error.isEmpty());
    QVERIFY(!r.headerRead);
    QCOMPARE(t.recordCount(), 0);
}

void TestVtdFile::truncatedRecordsKeepWhatWasRead()
{
    CardTable full;
    full.resetToSlots(2000);
    const QByteArray image = writeVtd(full);
    // Cut in the middle of slot 11 (each empty slot is 100 bytes after the 466-byte start).
    CardTable t;
    const VtdReadResult r = readVtd(image.left(466 + 100 * 10 + 37), t);
    QVERIFY(!r.ok);
    QVERIFY(r.headerRead);
    QCOMPARE(r.recordsRead, 10);
    QCOMPARE(t.recordCount(), 10);
    QCOMPARE(t.current(), 0);
    QVERIFY(r.error.contains(QStringLiteral("record 11")));
}

void TestVtdFile::headerOnlyRead()
{
    QTemporaryDir dir;
    CardTable full;
    full.resetToSlots(4000);
    full.setValue(0, CardField::KDRSerial, Value(qint32(99)));
    const QString path = dir.filePath(QStringLiteral("r.vtd"));
    QVERIFY(SaveTableToFile(full, path).isEmpty());
    CardTable t;
    const VtdReadResult r = readVtdFile(path, t, 1);
    QVERIFY(r.ok);
    QCOMPARE(r.recordCount, 4000);
    QCOMPARE(t.recordCount(), 1);
    QCOMPARE(t.value(0, CardField::KDRSerial).toInt(), 99);
}

void TestVtdFile::xmlFormIsRefused()
{
    for (const QByteArray &head : {QByteArray("<?xml version=\"1.0\"?><DATAPACKET/>"), QByteArray("\xEF\xBB\xBF<XML>x</XML>")}) {
        CardTable t;
        const VtdReadResult r = readVtd(head, t);
        QVERIFY(!r.ok);
        QVERIFY(r.error.contains(QStringLiteral("XML")));
    }
}

void TestVtdFile::saveKeepsCurrentRecord()
{
    QTemporaryDir dir;
    CardTable t;
    t.resetToSlots(2000);
    t.setCurrent(56);
    QVERIFY(SaveTableToFile(t, dir.filePath(QStringLiteral("a.vtd"))).isEmpty());
    QCOMPARE(t.current(), 56);
    QCOMPARE(t.value(56, CardField::ID).toInt(), 57);
    // No temporary file stays behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.vtd"});
}

void TestVtdFile::saveIntoReadOnlyFolderKeepsOldFile()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("ro"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/1.vtd");
    CardTable t;
    t.resetToSlots(2000);
    QVERIFY(SaveTableToFile(t, path).isEmpty());
    const QByteArray before = testutil::readAll(path);

    const bool root = ::geteuid() == 0;
    if (root) {
        // Permissions do not stop root: make the folder a read-only mount instead.
        QVERIFY(runOk(QStringLiteral("mount"), {"--bind", folder, folder}));
        QVERIFY(runOk(QStringLiteral("mount"), {"-o", "remount,bind,ro", folder}));
    } else {
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    }
    t.setValue(3, CardField::CardNoSaved, Value(qint32(1234)));
    const QString err = SaveTableToFile(t, path);
    if (root)
        runOk(QStringLiteral("umount"), {folder});
    else
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!err.isEmpty());
    QVERIFY2(err.contains(QStringLiteral("Read-only")) || err.contains(QStringLiteral("Permission")), qPrintable(err));
    QCOMPARE(testutil::readAll(path), before);
    QCOMPARE(t.value(3, CardField::CardNoSaved).toInt(), 1234); // the table in memory is unchanged
}

void TestVtdFile::saveOntoFullFileSystemKeepsOldFile()
{
    if (::geteuid() != 0) QSKIP("needs root to mount a small file system");
    QTemporaryDir dir;
    const QString mnt = dir.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mnt));
    QVERIFY(runOk(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=320k", "tmpfs", mnt}));
    const QString path = mnt + QStringLiteral("/1.vtd");
    CardTable t;
    t.resetToSlots(2000);
    t.setValue(0, CardField::Note, Value(QStringLiteral("keep me")));
    const QString first = SaveTableToFile(t, path);
    const QByteArray before = testutil::readAll(path);
    t.growToSlots(4000); // 400466 bytes no longer fit beside the old file
    const QString err = SaveTableToFile(t, path);
    const QByteArray after = testutil::readAll(path);
    const QStringList left = QDir(mnt).entryList(QDir::Files | QDir::Hidden);
    runOk(QStringLiteral("umount"), {mnt});
    QVERIFY2(first.isEmpty(), qPrintable(first));
    QVERIFY(!err.isEmpty());
    QVERIFY2(err.contains(QStringLiteral("No space")), qPrintable(err));
    QCOMPARE(after, before);
    QCOMPARE(left, QStringList{"1.vtd"});
}

void TestVtdFile::writeErrorMidSaveKeepsOldFile()
{
    // A write that fails half-way (here: the file size limit) must not touch the saved file.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("1.vtd"));
    CardTable t;
    t.resetToSlots(2000);
    QVERIFY(SaveTableToFile(t, path).isEmpty());
    const QByteArray before = testutil::readAll(path);
    t.growToSlots(4000);

    struct rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 300000;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    const QString err = SaveTableToFile(t, path);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!err.isEmpty());
    QCOMPARE(testutil::readAll(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"1.vtd"});
}

void TestVtdFile::cp1252()
{
    const QByteArray bytes("\x80\x8A\xE4\xFC\xDF", 5);
    const QString text = decodeCp1252(bytes);
    QCOMPARE(text, QString::fromUtf8("€Šäüß"));
    QCOMPARE(encodeCp1252(text), bytes);
    QCOMPARE(encodeCp1252(QString::fromUtf8("Ω")), QByteArray("?"));
}

QTEST_GUILESS_MAIN(TestVtdFile)
#include "tst_vtdfile.moc"
