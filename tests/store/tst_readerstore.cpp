// The reader list built from the active folder, the folder watch, reader selection and the reader
// file commands, on real temporary folders.
#include "StoreFixture.h"
#include "store/FolderLoader.h"

#include "store/TableRoutines.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>

using namespace kdr;
using namespace storetest;

namespace {
// Makes file writes of this process fail beyond `bytes` (EFBIG instead of a signal) while it lives.
struct FileSizeLimit {
    rlimit old{};
    void (*oldHandler)(int);
    explicit FileSizeLimit(rlim_t bytes)
    {
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit lim = old;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
};
} // namespace

class TestReaderStore : public QObject {
    Q_OBJECT
private slots:
    void loadPass_threeFiles();
    void loadPass_damagedFileEndsPass();
    void loadPass_vanishedFileIsSkipped();
    void loadPass_secondRequestIgnored();
    void loadPass_missingFolder();
    void selection_unreadableFile();

    void watch_addedFile();
    void watch_renameSelectedKeepsSelectionAndCards();
    void watch_renameOtherRow();
    void watch_deleteSelectedSelectsNext();
    void watch_deleteLastRowEmptiesCards();
    void watch_upperCaseExtensionIgnored();
    void watch_atomicSaves();
    void watch_fileAddedDuringLoadListedOnce();
    void watch_overflowRescans();
    void ownCommandsCauseNoWatchLines();
    void ownCommandKeepsEarlierChange_data();
    void ownCommandKeepsEarlierChange();
    void watch_fileReplacedUnderListedName_data();
    void watch_fileReplacedUnderListedName();

    void create_newFile();
    void create_refusesOtherFolder();
    void create_failedReplaceKeepsRow();
    void unsafeNames_data();
    void unsafeNames();
    void rename_data();
    void rename();
    void remove_movesToInactiveFolder();
    void remove_lastRowNeverSavedUnderRemovedName();
    void changeSerial_data();
    void changeSerial();
    void changeNote();
    void lastCardId_data();
    void lastCardId();
};

void TestReaderStore::loadPass_threeFiles()
{
    Fixture f;
    QVERIFY(writeReader(f.path("300.vtd"), 300, 7, "back door"));
    QVERIFY(writeReader(f.path("100.vtd"), 100, 6, QString()));
    QVERIFY(writeReader(f.path("200.vtd"), 200, 4, "gate", 0x20C));
    QSignalSpy maxSpy(f.store.get(), &ReaderStore::progressMaximum);
    QVERIFY(f.load());

    QCOMPARE(f.rowFiles(), QStringList({"100.vtd", "200.vtd", "300.vtd"}));
    for (int r = 0; r < 3; ++r) QCOMPARE(f.ws->readers.storedValue(r, ReaderField::Status).toText(), QString("OFFLINE"));
    QCOMPARE(f.ws->readers.storedValue(1, ReaderField::KDRSerial).toInt(), 200);
    QCOMPARE(f.ws->readers.value(1, ReaderField::Version_calc).toText(), QString("2.0.12"));
    QCOMPARE(f.ws->readers.storedValue(2, ReaderField::RelayT).toInt(), 7);
    QCOMPARE(maxSpy.value(0).value(0).toInt(), 3);

    // The first reader is selected with its cards; its empty note shows the placeholder in the row only.
    QCOMPARE(f.ws->readers.current(), 0);
    QCOMPARE(f.ws->readerBaseName(), QString("100"));
    QCOMPARE(f.ws->cards.recordCount(), kSlots2000);
    QCOMPARE(f.cardsSerial(), 100);
    QCOMPARE(f.ws->readers.storedValue(0, ReaderField::Note).toText(), kNotePlaceholder);
    CardTable onDisk;
    QVERIFY(readVtdFile(f.path("100.vtd"), onDisk).ok);
    QVERIFY(onDisk.storedValue(0, CardField::Note).toText().isEmpty());
    QVERIFY(!f.ws->loadingFiles);

    const QRegularExpression started(QStringLiteral("^> Loading files\\. \\[th(\\d+)\\]$"));
    const QRegularExpression completed(QStringLiteral("^> Loading completed\\. \\[th(\\d+)\\]$"));
    QString startId, endId;
    for (const QString &l : f.ws->log.lines()) {
        if (auto m = started.match(l); m.hasMatch()) startId = m.captured(1);
        if (auto m = completed.match(l); m.hasMatch()) endId = m.captured(1);
    }
    QVERIFY(!startId.isEmpty());
    QCOMPARE(endId, startId);
}

void TestReaderStore::loadPass_damagedFileEndsPass()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QFile bad(f.path("b.vtd"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("\x03\x00\x18", 3);
    bad.close();
    QVERIFY(writeReader(f.path("c.vtd"), 3));
    QVERIFY(f.load());
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd"}));
    bool named = false, completed = false;
    for (const QString &l : f.ws->log.lines()) {
        named = named || (l.startsWith("> Cannot read b.vtd") && l.contains("too short"));
        completed = completed || l.startsWith("> Loading completed.");
    }
    QVERIFY(named);
    QVERIFY(completed);
    QCOMPARE(f.ws->readers.current(), 0);
}

void TestReaderStore::loadPass_vanishedFileIsSkipped()
{
    // A file removed between the listing and its read is not damage: the pass goes on. A damaged
    // file after it still ends the pass.
    Fixture fx;
    QVERIFY(writeReader(fx.path("a.vtd"), 1));
    QVERIFY(writeReader(fx.path("b.vtd"), 2));
    QVERIFY(writeReader(fx.path("d.vtd"), 4));
    QFile bad(fx.path("c.vtd"));
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("xyz") == 3);
    bad.close();
    kdr::FolderLoader loader(fx.folder(), {"a.vtd", "gone.vtd", "b.vtd", "c.vtd", "d.vtd"});
    QStringList rows, failed;
    QList<int> progress;
    connect(&loader, &kdr::FolderLoader::rowReady, this, [&](const kdr::ReaderRowData &r, int done) {
        rows << r.values.at(kdr::ReaderField::VtdFileN).toText();
        progress << done;
    }, Qt::DirectConnection);
    connect(&loader, &kdr::FolderLoader::rowSkipped, this, [&](int done) { progress << done; }, Qt::DirectConnection);
    connect(&loader, &kdr::FolderLoader::fileFailed, this, [&](const QString &name, const QString &) { failed << name; }, Qt::DirectConnection);
    loader.start();
    QVERIFY(loader.wait(10000));
    QCOMPARE(rows, (QStringList{"a.vtd", "b.vtd"}));
    QCOMPARE(progress, (QList<int>{1, 2, 3}));
    QCOMPARE(failed, QStringList{"c.vtd"});
}

void TestReaderStore::loadPass_secondRequestIgnored()
{
    Fixture f;
    for (int i = 0; i < 20; ++i) QVERIFY(writeReader(f.path(QString("%1.vtd").arg(1000 + i)), 1000 + i));
    QSignalSpy done(f.store.get(), &ReaderStore::loadFinished);
    f.store->FillAndSelectKDRTable();
    QVERIFY(f.ws->loadingFiles);
    f.store->FillAndSelectKDRTable();
    f.store->refresh();
    QVERIFY(done.wait(10000));
    QTest::qWait(200);
    QCOMPARE(done.count(), 1);
    QCOMPARE(f.ws->readers.recordCount(), 20);
    QCOMPARE(f.ws->log.lines().filter(QRegularExpression("^> Loading files\\.")).size(), 1);
}

void TestReaderStore::loadPass_missingFolder()
{
    Fixture f;
    f.ws->setActiveSubfolder("gone");
    QVERIFY(f.load());
    QCOMPARE(f.ws->readers.recordCount(), 0);
    QCOMPARE(f.ws->cards.recordCount(), 0);
    QVERIFY(f.ws->readerBaseName().isEmpty());
    QVERIFY(!f.ws->log.lines().filter(QRegularExpression("^> Loading completed\\.")).isEmpty());
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked[0].type, DlgType::Error);
    QVERIFY(f.prompter.asked[0].text.contains("gone"));
    QVERIFY(!f.store->watch().isRunning());
}

void TestReaderStore::selection_unreadableFile()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    // b.vtd keeps its header and first records but ends inside a later record.
    QFile b(f.path("b.vtd"));
    QVERIFY(b.resize(466 + 100 * 10 + 30));
    QVERIFY(f.load());
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd", "b.vtd"})); // the pass reads only the first record
    const qint64 sizeBefore = QFileInfo(f.path("b.vtd")).size();

    f.store->selectReader(1);
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked[0].type, DlgType::Error);
    QVERIFY(f.prompter.asked[0].text.contains("b.vtd"));
    QCOMPARE(f.ws->cards.recordCount(), 0);
    QCOMPARE(f.ws->readers.recordCount(), 2);
    QCOMPARE(f.ws->readers.current(), 1);
    // Nothing of the failed load is written back over the file.
    QVERIFY(!f.ws->saveCards());
    QCOMPARE(QFileInfo(f.path("b.vtd")).size(), sizeBefore);
    QCOMPARE(f.store->lastCardIdText(), QString("?"));

    f.store->selectReader(0);
    QCOMPARE(f.cardsSerial(), 1);
}

void TestReaderStore::watch_addedFile()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(writeReader(f.dir.filePath("outside.vtd"), 77)); // the source of the copy
    QVERIFY(f.load());
    f.store->selectReader(1);
    QElapsedTimer t;
    t.start();
    QVERIFY(QFile::copy(f.dir.filePath("outside.vtd"), f.path("0copy.vtd")));
    QTRY_VERIFY_WITH_TIMEOUT(f.ws->readers.findFile("0copy.vtd") >= 0, 5000);
    QVERIFY2(t.elapsed() >= 450, "an added file is read after its writer had time to finish");
    const int row = f.ws->readers.findFile("0copy.vtd");
    QCOMPARE(f.ws->readers.storedValue(row, ReaderField::KDRSerial).toInt(), 77);
    QCOMPARE(f.ws->readers.storedValue(row, ReaderField::Status).toText(), QString("OFFLINE"));
    QCOMPARE(f.watchLines(), QStringList({"File 0copy.vtd added in folder: root folder", "KDR data table updated"}));
    QCOMPARE(f.selectedFile(), QString("b.vtd"));
    QCOMPARE(f.ws->readerBaseName(), QString("b"));
    QCOMPARE(f.cardsSerial(), 2);
}

void TestReaderStore::watch_renameSelectedKeepsSelectionAndCards()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(f.load());
    // An unsaved read column and the card cursor must survive the rename.
    f.ws->cards.setValue(4, CardField::CardNoRead, Value(qint32(4242)));
    f.ws->cards.setCurrent(56);
    QVERIFY(QFile::rename(f.path("a.vtd"), f.path("x.vtd")));
    QTRY_VERIFY_WITH_TIMEOUT(f.ws->readers.findFile("x.vtd") >= 0, 5000);
    QCOMPARE(f.rowFiles(), QStringList({"x.vtd", "b.vtd"}));
    QCOMPARE(f.selectedFile(), QString("x.vtd"));
    QCOMPARE(f.ws->readerBaseName(), QString("x"));
    QCOMPARE(f.ws->cards.storedValue(4, CardField::CardNoRead).toInt(), 4242);
    QCOMPARE(f.ws->cards.current(), 56);
    QCOMPARE(f.watchLines(), QStringList({"File a.vtd renamed to x.vtd in folder: root folder", "KDR data table updated"}));
    // Saves go to the new name.
    QVERIFY(f.ws->saveCards());
    QVERIFY(!QFile::exists(f.path("a.vtd")));
}

void TestReaderStore::watch_renameOtherRow()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(writeReader(f.path("c.vtd"), 3));
    QVERIFY(f.load());
    f.store->selectReader(2);
    QVERIFY(QFile::rename(f.path("b.vtd"), f.path("y.vtd")));
    QTRY_VERIFY_WITH_TIMEOUT(f.ws->readers.findFile("y.vtd") >= 0, 5000);
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd", "y.vtd", "c.vtd"}));
    QCOMPARE(f.selectedFile(), QString("c.vtd"));
    QCOMPARE(f.ws->readerBaseName(), QString("c"));
    QCOMPARE(f.cardsSerial(), 3);
}

void TestReaderStore::watch_deleteSelectedSelectsNext()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(writeReader(f.path("c.vtd"), 3));
    QVERIFY(f.load());
    f.store->selectReader(1);
    // A row before the selected one goes: the selected reader stays.
    QVERIFY(QFile::remove(f.path("a.vtd")));
    QTRY_COMPARE_WITH_TIMEOUT(f.ws->readers.recordCount(), 2, 5000);
    QCOMPARE(f.selectedFile(), QString("b.vtd"));
    QCOMPARE(f.cardsSerial(), 2);
    // The selected row goes: the next one is selected and shown.
    QVERIFY(QFile::remove(f.path("b.vtd")));
    QTRY_COMPARE_WITH_TIMEOUT(f.ws->readers.recordCount(), 1, 5000);
    QCOMPARE(f.selectedFile(), QString("c.vtd"));
    QCOMPARE(f.ws->readerBaseName(), QString("c"));
    QCOMPARE(f.cardsSerial(), 3);
    QCOMPARE(f.watchLines(), QStringList({"File a.vtd removed in folder: root folder", "KDR data table updated",
                                          "File b.vtd removed in folder: root folder", "KDR data table updated"}));
}

void TestReaderStore::watch_deleteLastRowEmptiesCards()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(f.load());
    QSignalSpy buttons(f.store.get(), &ReaderStore::mainFileButtonsEnabled);
    QVERIFY(QFile::remove(f.path("a.vtd")));
    QTRY_COMPARE_WITH_TIMEOUT(f.ws->readers.recordCount(), 0, 5000);
    QCOMPARE(f.ws->cards.recordCount(), 0);
    QVERIFY(f.ws->readerBaseName().isEmpty());
    QVERIFY(!f.ws->saveCards());
    QVERIFY(!QFile::exists(f.path("a.vtd")));
    QVERIFY(!buttons.isEmpty());
    QCOMPARE(buttons.last().value(0).toBool(), false);
}

void TestReaderStore::watch_upperCaseExtensionIgnored()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("X.VTD"), 9));
    QVERIFY(f.load());
    QCOMPARE(f.rowFiles(), QStringList({"X.VTD", "a.vtd"}));
    QVERIFY(writeReader(f.dir.filePath("src"), 5));
    QVERIFY(QFile::copy(f.dir.filePath("src"), f.path("Y.VTD")));
    QVERIFY(QFile::remove(f.path("X.VTD")));
    QVERIFY(f.settleWithSentinel());
    QCOMPARE(f.rowFiles(), QStringList({"X.VTD", "a.vtd", "zz_sentinel.vtd"}));
    QCOMPARE(f.watchLines(), QStringList({"File zz_sentinel.vtd added in folder: root folder", "KDR data table updated"}));
}

void TestReaderStore::watch_atomicSaves()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(f.load());
    // The program's own save of the selected reader replaces the file through a temporary name.
    f.ws->cards.setValue(9, CardField::CardNoSaved, Value(qint32(555)));
    QVERIFY(f.ws->saveCards());
    QVERIFY(writeReader(f.path("b.vtd"), 22)); // another writer's atomic save of another reader
    QVERIFY(f.settleWithSentinel());
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd", "b.vtd", "zz_sentinel.vtd"}));
    QCOMPARE(f.selectedFile(), QString("a.vtd"));
    QCOMPARE(f.ws->cards.storedValue(9, CardField::CardNoSaved).toInt(), 555);
    // Only the sentinel, a new file written the same way, was reported.
    QCOMPARE(f.watchLines(), QStringList({"File zz_sentinel.vtd added in folder: root folder", "KDR data table updated"}));
    QVERIFY(QDir(f.folder()).entryList(QDir::Hidden | QDir::Files).filter(QRegularExpression("^\\.")).isEmpty());
}

void TestReaderStore::watch_fileAddedDuringLoadListedOnce()
{
    Fixture f;
    for (int i = 0; i < 30; ++i) QVERIFY(writeReader(f.path(QString("r%1.vtd").arg(i, 2, 10, QChar('0'))), i));
    QVERIFY(f.load()); // the watch runs from here on
    QVERIFY(writeReader(f.dir.filePath("src"), 99));
    QSignalSpy done(f.store.get(), &ReaderStore::loadFinished);
    f.store->refresh();
    QVERIFY(QFile::copy(f.dir.filePath("src"), f.path("new.vtd")));
    QVERIFY(done.wait(10000));
    QVERIFY(f.settleWithSentinel());
    QCOMPARE(f.rowFiles().count("new.vtd"), 1);
    QCOMPARE(f.ws->readers.recordCount(), 32);
}

void TestReaderStore::watch_overflowRescans()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(writeReader(f.path("c.vtd"), 3));
    QVERIFY(f.load());
    // More notifications than the kernel queues while nothing reads them: the queue overflows and
    // the changes after it are known only from the folder itself.
    const int limit = [] {
        QFile q("/proc/sys/fs/inotify/max_queued_events");
        return q.open(QIODevice::ReadOnly) ? q.readAll().trimmed().toInt() : 16384;
    }();
    const QByteArray junk = QFile::encodeName(f.path("junk.tmp"));
    for (int i = 0; i < limit / 2 + 100; ++i) {
        QFile j(QString::fromLocal8Bit(junk));
        QVERIFY(j.open(QIODevice::WriteOnly));
        j.close();
        QVERIFY(j.remove());
    }
    QVERIFY(QFile::remove(f.path("b.vtd")));
    QVERIFY(writeReader(f.path("d.vtd"), 4));
    QVERIFY(f.store->renameFile("x", false));
    QVERIFY(f.settleWithSentinel());
    QCOMPARE(f.rowFiles(), QStringList({"x.vtd", "c.vtd", "d.vtd", "zz_sentinel.vtd"}));
    QCOMPARE(f.selectedFile(), QString("x.vtd"));
    QCOMPARE(f.cardsSerial(), 1);
    QVERIFY(f.ws->log.contains("File b.vtd removed in folder: root folder"));
    QVERIFY(f.ws->log.contains("File d.vtd added in folder: root folder"));
    QVERIFY(!f.ws->ignoreNextWatchEvent);
}

void TestReaderStore::ownCommandsCauseNoWatchLines()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(f.load());
    QVERIFY(f.store->createFileAt(f.path("123456")));
    QVERIFY(f.settleWithSentinel("zz1.vtd"));
    QVERIFY(f.store->renameFile("654321", true));
    QVERIFY(f.settleWithSentinel("zz2.vtd"));
    f.prompter.queueButton(Btn::Ok);
    QVERIFY(f.store->removeFile());
    QVERIFY(f.settleWithSentinel("zz3.vtd"));
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd", "b.vtd", "zz1.vtd", "zz2.vtd", "zz3.vtd"}));
    QStringList expected;
    for (const char *n : {"zz1.vtd", "zz2.vtd", "zz3.vtd"})
        expected << QString("File %1 added in folder: root folder").arg(n) << "KDR data table updated";
    QCOMPARE(f.watchLines(), expected);
    QVERIFY(!f.ws->ignoreNextWatchEvent);
}

void TestReaderStore::ownCommandKeepsEarlierChange_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("create") << "create";
    QTest::newRow("rename") << "rename";
    QTest::newRow("remove") << "remove";
}

void TestReaderStore::ownCommandKeepsEarlierChange()
{
    // Another program's change that is still unread when a file command runs must not be taken
    // for the command's own notification.
    QFETCH(QString, command);
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(f.load());
    QVERIFY(writeReader(f.path("ext.vtd"), 50)); // no event loop runs until the command is done
    QVERIFY(QFile::remove(f.path("b.vtd")));
    if (command == "create") {
        QVERIFY(f.store->createFileAt(f.path("new.vtd")));
    } else if (command == "rename") {
        QVERIFY(f.store->renameFile("x", false));
    } else {
        f.prompter.queueButton(Btn::Ok);
        QVERIFY(f.store->removeFile());
    }
    QVERIFY(f.settleWithSentinel());
    QStringList onDisk = QDir(f.folder()).entryList({"*.vtd"}, QDir::Files);
    QStringList listed = f.rowFiles();
    onDisk.sort();
    listed.sort();
    QCOMPARE(listed, onDisk);
    QVERIFY(f.ws->log.contains("File ext.vtd added in folder: root folder"));
    QVERIFY(f.ws->log.contains("File b.vtd removed in folder: root folder"));
}

void TestReaderStore::watch_fileReplacedUnderListedName_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("renamed from another extension") << "rename";
    QTest::newRow("moved in from another folder") << "move";
}

void TestReaderStore::watch_fileReplacedUnderListedName()
{
    // A file that takes the name of a listed reader is a new file: its row and, for the selected
    // reader, the card table must show it, and no later save may write the old cards over it.
    QFETCH(QString, how);
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1, 2));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(f.load());
    QCOMPARE(f.selectedFile(), QString("a.vtd"));
    const QString src = how == "rename" ? f.path("a.tmp") : f.dir.filePath("elsewhere.vtd");
    QVERIFY(writeReader(src, 9, 8, "replaced"));
    QCOMPARE(std::rename(QFile::encodeName(src).constData(), QFile::encodeName(f.path("a.vtd")).constData()), 0);
    QVERIFY(f.settleWithSentinel());
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd", "b.vtd", "zz_sentinel.vtd"}));
    QCOMPARE(f.ws->readers.storedValue(0, ReaderField::KDRSerial).toInt(), 9);
    QCOMPARE(f.ws->readers.storedValue(0, ReaderField::RelayT).toInt(), 8);
    QCOMPARE(f.selectedFile(), QString("a.vtd"));
    QCOMPARE(f.cardsSerial(), 9);
    QVERIFY(f.store->changeNote("after"));
    QCOMPARE(serialInFile(f.path("a.vtd")), 9);
}

void TestReaderStore::create_failedReplaceKeepsRow()
{
    // Replacing a listed file that cannot be written leaves the file and its row as they were.
    Fixture f;
    QVERIFY(writeReader(f.path("5.vtd"), 5, 7, "kept"));
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(f.load());
    const int row = f.ws->readers.findFile("5.vtd");
    QVERIFY(row >= 0);
    f.store->selectReader(row);
    {
        // Writes beyond 1000 bytes fail (EFBIG), so the new table cannot be saved.
        FileSizeLimit limit(1000);
        QVERIFY(!f.store->createFileAt(f.path("5.vtd")));
    }
    QVERIFY(!f.prompter.asked.isEmpty());
    QCOMPARE(f.prompter.asked.last().type, DlgType::Error);
    QCOMPARE(f.ws->readers.recordCount(), 2);
    QCOMPARE(f.ws->readers.storedValue(row, ReaderField::KDRSerial).toInt(), 5);
    QCOMPARE(f.ws->readers.storedValue(row, ReaderField::RelayT).toInt(), 7);
    QCOMPARE(f.ws->readers.storedValue(row, ReaderField::Note).toText(), QString("kept"));
    QCOMPARE(serialInFile(f.path("5.vtd")), 5);
    QCOMPARE(f.selectedFile(), QString("5.vtd"));
    QCOMPARE(f.cardsSerial(), 5);
    QVERIFY(!f.ws->ignoreNextWatchEvent);
}

void TestReaderStore::create_newFile()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(f.load());
    f.prompter.queueFile(f.path("123456"));
    f.store->createFile();
    QCOMPARE(f.prompter.fileRequests.size(), 1);
    QCOMPARE(f.prompter.fileRequests[0].title, QString("Input new file name"));
    QCOMPARE(f.prompter.fileRequests[0].filters, QStringList({"VTD File (*.vtd)"}));

    CardTable onDisk;
    QVERIFY(readVtdFile(f.path("123456.vtd"), onDisk).ok);
    QCOMPARE(onDisk.recordCount(), kSlots2000);
    QCOMPARE(onDisk.storedValue(0, CardField::RelayT).toInt(), 6);
    QCOMPARE(onDisk.storedValue(0, CardField::KDRSerial).toInt(), 0);
    QCOMPARE(onDisk.storedValue(0, CardField::IsParamChanged).toBool(), false);
    QVERIFY(onDisk.storedValue(0, CardField::CardNoSaved).isNull());

    const int row = f.ws->readers.findFile("123456.vtd");
    QCOMPARE(row, 1);
    QCOMPARE(f.ws->readers.storedValue(row, ReaderField::Status).toText(), QString("OFFLINE"));
    QCOMPARE(f.ws->readers.value(row, ReaderField::RelayT_Calc).toText(), QString("3"));
    QCOMPARE(f.ws->readers.current(), row);
    QCOMPARE(f.ws->readerBaseName(), QString("123456"));
    QCOMPARE(f.ws->cards.recordCount(), kSlots2000);

    // Creating the same name again replaces the file but keeps a single row.
    f.ws->cards.setValue(3, CardField::CardNoSaved, Value(qint32(12)));
    QVERIFY(f.ws->saveCards());
    QVERIFY(f.store->createFileAt(f.path("123456.vtd")));
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd", "123456.vtd"}));
    QVERIFY(readVtdFile(f.path("123456.vtd"), onDisk).ok);
    QVERIFY(onDisk.storedValue(3, CardField::CardNoSaved).isNull());
    // ... and the replaced card list waits in the reader's inactive folder.
    const QStringList backups = QDir(f.path("123456")).entryList({"123456_*.vtd"}, QDir::Files);
    QCOMPARE(backups.size(), 1);
    QVERIFY(QRegularExpression("^123456_\\d{8}_\\d{6}\\.vtd$").match(backups[0]).hasMatch());
    CardTable backup;
    QVERIFY(readVtdFile(f.path("123456/" + backups[0]), backup).ok);
    QCOMPARE(backup.storedValue(3, CardField::CardNoSaved).toInt(), 12);
}

void TestReaderStore::create_refusesOtherFolder()
{
    Fixture f;
    QVERIFY(QDir(f.folder()).mkdir("sub"));
    QVERIFY(f.load());
    QVERIFY(!f.store->createFileAt(f.path("sub/777.vtd")));
    QVERIFY(!QFile::exists(f.path("sub/777.vtd")));
    QCOMPARE(f.ws->readers.recordCount(), 0);
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked[0].type, DlgType::Error);
}

void TestReaderStore::unsafeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << "   ";
    QTest::newRow("parent") << "../evil";
    QTest::newRow("dotdot") << "..";
    QTest::newRow("subfolder") << "sub/x";
    QTest::newRow("backslash") << "sub\\x";
    QTest::newRow("absolute") << "/tmp/evil";
    QTest::newRow("hidden") << ".hidden";
    QTest::newRow("longer than the list's file name field") << QString(252, 'n'); // 256 with ".vtd"
}

void TestReaderStore::unsafeNames()
{
    QFETCH(QString, name);
    Fixture f;
    QVERIFY(QDir(f.folder()).mkdir("sub"));
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(f.load());
    const QStringList before = QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    QVERIFY(!f.store->renameFile(name, true));
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked[0].type, DlgType::Error);
    QVERIFY(QFile::exists(f.path("a.vtd")));
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd"}));
    QCOMPARE(f.ws->cards.recordCount(), kSlots2000);
    QCOMPARE(f.ws->readers.storedValue(0, ReaderField::KDRSerial).toInt(), 1);

    const bool evilExisted = QFile::exists("/tmp/evil.vtd");
    QVERIFY(!f.store->createFileAt(name));
    QVERIFY(!f.store->createFileAt(f.folder() + name));
    QCOMPARE(f.prompter.asked.size(), 3);
    for (const auto &a : f.prompter.asked) QCOMPARE(a.type, DlgType::Error);
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QVERIFY(QDir(f.path("sub")).isEmpty());
    QCOMPARE(QFile::exists("/tmp/evil.vtd"), evilExisted);
    QCOMPARE(f.rowFiles(), QStringList({"a.vtd"}));
}

void TestReaderStore::rename_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<bool>("serialAlso");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint32>("rowSerial");
    QTest::newRow("number, serial also") << "654321" << true << true << "654321.vtd" << 654321;
    QTest::newRow("number, serial kept") << "654321" << false << true << "654321.vtd" << 1;
    QTest::newRow("with extension") << "site.vtd" << true << true << "site.vtd" << 1;
    QTest::newRow("without extension") << "site" << true << true << "site.vtd" << 1;
    QTest::newRow("other letter case") << "site.VTD" << true << true << "site.VTD.vtd" << 1;
    QTest::newRow("existing name") << "b" << true << false << "a.vtd" << 1;
    QTest::newRow("same name") << "a.vtd" << true << false << "a.vtd" << 1;
}

void TestReaderStore::rename()
{
    QFETCH(QString, newName);
    QFETCH(bool, serialAlso);
    QFETCH(bool, ok);
    QFETCH(QString, file);
    QFETCH(qint32, rowSerial);
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(f.load());
    QCOMPARE(f.store->renameFile(newName, serialAlso), ok);
    QCOMPARE(f.rowFile(0), file);
    QCOMPARE(f.ws->readers.current(), 0);
    QVERIFY(QFile::exists(f.path(file)));
    QCOMPARE(QFile::exists(f.path("a.vtd")), file == "a.vtd");
    QCOMPARE(serialInFile(f.path("b.vtd")), 2);
    QCOMPARE(f.ws->readers.storedValue(0, ReaderField::KDRSerial).toInt(), rowSerial);
    QCOMPARE(serialInFile(f.path(file)), 1); // the file keeps its serial until a parameter save
    QCOMPARE(f.ws->cards.recordCount(), kSlots2000);
    QCOMPARE(f.ws->readerBaseName(), QFileInfo(file).completeBaseName());
    QCOMPARE(f.prompter.asked.size(), ok ? 0 : 1); // a refused rename says why
}

void TestReaderStore::remove_movesToInactiveFolder()
{
    Fixture f;
    QVERIFY(writeReader(f.path("123456.vtd"), 123456));
    QVERIFY(writeReader(f.path("2.vtd"), 2));
    QVERIFY(f.load());
    QCOMPARE(f.rowFiles(), QStringList({"123456.vtd", "2.vtd"}));

    f.prompter.queueButton(Btn::Cancel);
    QVERIFY(!f.store->removeFile());
    QVERIFY(QFile::exists(f.path("123456.vtd")));
    QCOMPARE(f.ws->readers.recordCount(), 2);
    QCOMPARE(f.prompter.asked[0].text, QString("Remove file: 123456.vtd to inactive folder?"));
    QCOMPARE(f.prompter.asked[0].type, DlgType::Warning);

    f.prompter.queueButton(Btn::Ok);
    QVERIFY(f.store->removeFile());
    QVERIFY(!QFile::exists(f.path("123456.vtd")));
    const QStringList moved = QDir(f.path("123456")).entryList(QDir::Files);
    QCOMPARE(moved.size(), 1);
    QVERIFY2(QRegularExpression("^123456_\\d{8}_\\d{6}\\.vtd$").match(moved[0]).hasMatch(), qPrintable(moved[0]));
    const QDateTime stamp = QDateTime::fromString(moved[0].mid(7, 15), "yyyyMMdd_HHmmss");
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 10);
    QCOMPARE(serialInFile(f.path("123456/" + moved[0])), 123456);
    QCOMPARE(f.rowFiles(), QStringList({"2.vtd"}));
    QCOMPARE(f.selectedFile(), QString("2.vtd"));
    QCOMPARE(f.cardsSerial(), 2);
    QCOMPARE(f.prompter.asked.last().text, QString("File: 123456.vtd is removed to inactive folder"));
    QCOMPARE(f.prompter.asked.last().type, DlgType::Information);
}

void TestReaderStore::remove_lastRowNeverSavedUnderRemovedName()
{
    Fixture f;
    QVERIFY(writeReader(f.path("9.vtd"), 9));
    QVERIFY(f.load());
    f.prompter.queueButton(Btn::Ok);
    QVERIFY(f.store->removeFile());
    QCOMPARE(f.ws->readers.recordCount(), 0);
    QCOMPARE(f.ws->cards.recordCount(), 0);
    QVERIFY(f.ws->readerBaseName().isEmpty());
    QVERIFY(!f.ws->saveCards());
    f.ws->SaveChangeParamToTable();
    QVERIFY(!f.store->changeNote("x"));
    QVERIFY(!f.store->changeSerial("5"));
    QVERIFY(!QFile::exists(f.path("9.vtd")));
    QCOMPARE(f.store->lastCardIdText(), QString("?"));
}

void TestReaderStore::changeSerial_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("online");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");  // empty: refused with an error before asking
    QTest::addColumn<qint32>("serial");     // the selected reader's serial afterwards
    const QString q = "Are you sure to change KDR serial number?";
    QTest::newRow("new number") << "777" << false << int(Btn::Ok) << q << 777;
    QTest::newRow("cancelled") << "777" << false << int(Btn::Cancel) << q << 1;
    QTest::newRow("already used") << "2" << false << int(Btn::Ok) << q + "\r\nThis serial number already exists!?" << 2;
    QTest::newRow("online filter") << "777" << true << int(Btn::Ok) << q + "\r\nKDR will be set to offline!" << 777;
    QTest::newRow("empty") << "" << false << 0 << QString() << 1;
    QTest::newRow("not a number") << "12a" << false << 0 << QString() << 1;
    QTest::newRow("seven digits") << "1234567" << false << 0 << QString() << 1;
}

void TestReaderStore::changeSerial()
{
    QFETCH(QString, text);
    QFETCH(bool, online);
    QFETCH(int, answer);
    QFETCH(QString, question);
    QFETCH(qint32, serial);
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QVERIFY(f.load());
    if (online) {
        f.ws->readers.setValue(0, ReaderField::Status, kStatusOnline);
        f.ws->readers.setFiltered(true);
    }
    if (answer) f.prompter.queueButton(Btn(answer));
    f.store->changeSerial(text);
    QCOMPARE(f.prompter.asked.size(), 1);
    if (question.isEmpty()) {
        QCOMPARE(f.prompter.asked[0].type, DlgType::Error);
    } else {
        QCOMPARE(f.prompter.asked[0].type, DlgType::Warning);
        QCOMPARE(f.prompter.asked[0].text, question);
    }
    QCOMPARE(f.ws->readers.storedValue(0, ReaderField::KDRSerial).toInt(), serial);
    QCOMPARE(serialInFile(f.path("a.vtd")), serial);
    QCOMPARE(f.ws->log.contains(QString("> New KDR serial number: %1").arg(serial)), serial != 1);
    if (online)
        QCOMPARE(f.ws->readers.storedValue(0, ReaderField::Status).toText(), QString("OFFLINE"));
}

void TestReaderStore::changeNote()
{
    Fixture f;
    QVERIFY(writeReader(f.path("a.vtd"), 1));
    QVERIFY(f.load());
    QCOMPARE(f.ws->readers.storedValue(0, ReaderField::Note).toText(), kNotePlaceholder);
    QCOMPARE(f.store->noteForEditing(), QString());
    f.ws->cards.setCurrent(99);
    QVERIFY(f.store->changeNote(QString(300, 'n')));
    QCOMPARE(f.ws->cards.current(), 99);
    CardTable onDisk;
    QVERIFY(readVtdFile(f.path("a.vtd"), onDisk).ok);
    QCOMPARE(onDisk.storedValue(0, CardField::Note).toText(), QString(255, 'n'));
    QCOMPARE(f.store->noteForEditing(), QString(255, 'n'));
}

void TestReaderStore::lastCardId_data()
{
    QTest::addColumn<QList<int>>("slotList");   // slots (1-based) given a saved card number
    QTest::addColumn<bool>("firstIsZero");   // slot 1 holds the saved number 0
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("jumpId");
    QTest::newRow("last in 37") << QList<int>{5, 37} << false << "37" << 37;
    QTest::newRow("none") << QList<int>{} << false << "0" << 1;
    QTest::newRow("slot 1 holds 0") << QList<int>{} << true << "1" << 1;
    QTest::newRow("last slot") << QList<int>{2000} << false << "2000" << 2000;
}

void TestReaderStore::lastCardId()
{
    QFETCH(QList<int>, slotList);
    QFETCH(bool, firstIsZero);
    QFETCH(QString, shown);
    QFETCH(int, jumpId);
    Fixture f;
    CardTable t;
    t.resetToSlots(kSlots2000);
    for (int s : slotList) t.setValue(s - 1, CardField::CardNoSaved, Value(qint32(1000 + s)));
    if (firstIsZero) t.setValue(0, CardField::CardNoSaved, Value(qint32(0)));
    QVERIFY(SaveTableToFile(t, f.path("a.vtd")).isEmpty());
    QVERIFY(writeReader(f.path("b.vtd"), 2));
    QSignalSpy shownSpy(f.store.get(), &ReaderStore::lastCardIdChanged);
    QVERIFY(f.load());
    QCOMPARE(f.store->lastCardIdText(), shown);
    QCOMPARE(shownSpy.last().value(0).toString(), shown);
    f.ws->cards.setCurrent(500);
    f.store->jumpToLastCard();
    QCOMPARE(f.ws->cards.storedValue(f.ws->cards.current(), CardField::ID).toInt(), jumpId);
}

QTEST_GUILESS_MAIN(TestReaderStore)
#include "tst_readerstore.moc"
