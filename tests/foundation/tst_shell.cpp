// The main window shell: command availability, closing, the start-up chain, the label, the log,
// geometry, and the hand-over start of a downloaded copy.
#include "app/CommandRules.h"
#include "app/CrashReporter.h"
#include "app/ProcessStart.h"
#include "store/ScriptedPrompter.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"
#include "ui/AboutDialog.h"
#include "ui/GridStyle.h"
#include "ui/MainWindow.h"
#include "ui/TableModel.h"
#include "TestUtil.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace kdr;

namespace {
const QStringList kAllRuleButtons = {"btnToSelForDel", "btnSaveReadCards", "btnWriteAllCards", "btnChangeParams",
                                     "btnChangeCard", "btnGetParams", "btnReadKDR", "btnReadKDRFunc", "btnUpdateCards",
                                     "btnSaveAs", "btnImportAs", "btnSmplAppend", "btnRestoreCards",
                                     "btnAutoFillPerson", "btnPrint"};

QStringList enabledOf(const QHash<QString, bool> &states)
{
    QStringList out;
    for (auto it = states.begin(); it != states.end(); ++it)
        if (it.value()) out << it.key();
    out.sort();
    return out;
}

QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}
} // namespace

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void commandTable_data();
    void commandTable();
    void closingRules_data();
    void closingRules();
    void elapsedFormat();
    void handOverReplacesProgram();
    void handOverFailsOnBusyTarget();
    void cellColours_data();
    void cellColours();
    void windowElements();
    void startTimeState();
    void updateBtnStateFollowsWorkspace();
    void restoreNeedsBackupFile();
    void cardButtonsFollowCursor();
    void labelTexts();
    void closeRefusedWhileLoading();
    void startupChainScansUnlessOffline_data();
    void startupChainScansUnlessOffline();
    void sortingReordersDisplayOnly();
    void aboutDialog();
    void bugReports();
    void elapsedCounter();
    void modelsFollowTheirTables();
};

void TestShell::commandTable_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("bus9600");
    QTest::addColumn<int>("cards");
    QTest::addColumn<bool>("backups");
    QTest::addColumn<QStringList>("enabled");
    const QStringList always = {"btnToSelForDel", "btnSaveReadCards", "btnWriteAllCards", "btnChangeParams", "btnChangeCard"};
    const QStringList withCards = {"btnSaveAs", "btnImportAs", "btnSmplAppend", "btnAutoFillPerson", "btnPrint"};
    QTest::newRow("empty folder") << false << false << 0 << false << always;
    QTest::newRow("empty folder, backups do not count") << false << true << 0 << true << always;
    QTest::newRow("offline reader") << false << true << 2000 << false << always + withCards;
    QTest::newRow("offline reader with backups") << false << true << 2000 << true << always + withCards + QStringList{"btnRestoreCards"};
    QTest::newRow("online on M:BUS") << true << false << 4000 << false
                                     << always + withCards + QStringList{"btnGetParams", "btnReadKDR", "btnUpdateCards"};
    QTest::newRow("online on HLX:BUS") << true << true << 2000 << false
                                       << always + withCards + QStringList{"btnGetParams", "btnReadKDR", "btnUpdateCards", "btnReadKDRFunc"};
}

void TestShell::commandTable()
{
    QFETCH(bool, online);
    QFETCH(bool, bus9600);
    QFETCH(int, cards);
    QFETCH(bool, backups);
    QFETCH(QStringList, enabled);
    const auto states = commandStates({online, bus9600, cards, backups});
    QCOMPARE(sorted(states.keys()), sorted(kAllRuleButtons));
    QCOMPARE(enabledOf(states), sorted(enabled));
}

void TestShell::closingRules_data()
{
    QTest::addColumn<bool>("loading");
    QTest::addColumn<bool>("downloading");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("line");
    QTest::newRow("idle") << false << false << true << "";
    QTest::newRow("loading") << true << false << false << "> Operation running! [th11]";
    QTest::newRow("downloading") << false << true << false << "> Operation running! [th22]";
    QTest::newRow("both: the loader is named") << true << true << false << "> Operation running! [th11]";
}

void TestShell::closingRules()
{
    QFETCH(bool, loading);
    QFETCH(bool, downloading);
    QFETCH(bool, allowed);
    QFETCH(QString, line);
    const CloseDecision d = decideClose(loading, 11, downloading, 22);
    QCOMPARE(d.allowed, allowed);
    QCOMPARE(d.logLine, line);
}

void TestShell::elapsedFormat()
{
    QCOMPARE(MainWindow::formatElapsed(0), QStringLiteral("00:00:00"));
    QCOMPARE(MainWindow::formatElapsed(61999), QStringLiteral("00:01:01"));
    QCOMPARE(MainWindow::formatElapsed((25 * 3600 + 2 * 60 + 3) * 1000LL), QStringLiteral("25:02:03"));
}

void TestShell::handOverReplacesProgram()
{
    QTemporaryDir dir;
    const QString installed = dir.filePath(QStringLiteral("KDR02.x64"));
    const QString copy = dir.filePath(QStringLiteral("_KDR02.x64"));
    QVERIFY(testutil::writeAll(installed, "old program"));
    // A stand-in program that leaves a mark when started.
    QVERIFY(testutil::writeAll(copy, QByteArray("#!/bin/sh\ntouch \"$(dirname \"$0\")/started\"\n")));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner));
    QVERIFY(isHandOverCopy(copy));
    QVERIFY(!isHandOverCopy(installed));
    QVERIFY(runHandOver(copy));
    QCOMPARE(testutil::readAll(installed), testutil::readAll(copy));
    QVERIFY(QFileInfo(installed).isExecutable());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("started"))), 5000);
    QVERIFY(!runHandOver(installed));
}

void TestShell::handOverFailsOnBusyTarget()
{
    QTemporaryDir dir;
    const QString installed = dir.filePath(QStringLiteral("KDR02.x64"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), installed));
    QProcess running;
    running.start(installed, {QStringLiteral("10")});
    QVERIFY(running.waitForStarted());
    const QByteArray before = testutil::readAll(installed);
    const QString copy = dir.filePath(QStringLiteral("_KDR02.x64"));
    QVERIFY(testutil::writeAll(copy, "new program"));
    QVERIFY(installHandOverCopy(copy).isEmpty());
    QCOMPARE(testutil::readAll(installed), before);
    running.kill();
    running.waitForFinished();
}

void TestShell::cellColours_data()
{
    QTest::addColumn<int>("column"); // index into the card grid columns
    QTest::addColumn<bool>("changed");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("compare");
    QTest::addColumn<QVariant>("read"); // invalid: NULL
    QTest::addColumn<int>("recordNumber");
    QTest::addColumn<QColor>("back");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<bool>("bold");
    QTest::newRow("odd row") << 3 << false << false << false << QVariant() << 1 << GridColor::OddBack << GridColor::Black << false;
    QTest::newRow("even row") << 3 << false << false << false << QVariant() << 2 << GridColor::EvenBack << GridColor::Black << false;
    QTest::newRow("read column is green") << 2 << false << false << false << QVariant() << 1 << GridColor::OddBack << GridColor::Green << false;
    QTest::newRow("marked ID selected") << 0 << true << true << false << QVariant() << 1 << GridColor::SelectedBack << GridColor::Red << true;
    QTest::newRow("marked saved") << 1 << true << false << false << QVariant() << 2 << GridColor::EvenBack << GridColor::Red << false;
    QTest::newRow("marked person stays black") << 3 << true << false << false << QVariant() << 1 << GridColor::OddBack << GridColor::Black << false;
    QTest::newRow("compare differs") << 3 << false << false << true << QVariant(200) << 1 << GridColor::CompareBack << GridColor::Black << false;
    QTest::newRow("compare equal") << 3 << false << false << true << QVariant(100) << 1 << GridColor::OddBack << GridColor::Black << false;
    QTest::newRow("compare with NULL read") << 3 << false << false << true << QVariant() << 1 << GridColor::OddBack << GridColor::Black << false;
    QTest::newRow("compare off") << 3 << false << false << false << QVariant(200) << 1 << GridColor::OddBack << GridColor::Black << false;
}

void TestShell::cellColours()
{
    QFETCH(int, column);
    QFETCH(bool, changed);
    QFETCH(bool, selected);
    QFETCH(bool, compare);
    QFETCH(QVariant, read);
    QFETCH(int, recordNumber);
    QFETCH(QColor, back);
    QFETCH(QColor, text);
    QFETCH(bool, bold);
    CardTable t;
    t.resetToSlots(1);
    t.setValue(0, CardField::CardNoSaved, Value(qint32(100)));
    if (changed) t.setValue(0, CardField::IsCardChanged, Value(true));
    if (read.isValid()) t.setValue(0, CardField::CardNoRead, Value(qint32(read.toInt())));
    const CellStyle s = cellStyle(GridKind::Cards, t, 0, recordNumber, cardGridColumns().at(column), selected, compare);
    QCOMPARE(s.back, back);
    QCOMPARE(s.text, text);
    QCOMPARE(s.bold, bold);

    // Reader grid: status and parameter colours.
    ReaderList readers;
    readers.appendFromCardTable(QStringLiteral("a.vtd"), t);
    const auto cols = readerGridColumns();
    QCOMPARE(cellStyle(GridKind::Readers, readers, 0, 1, cols[3], false, false).text, GridColor::Red);
    readers.setValue(0, ReaderField::Status, Value(kStatusOnline));
    readers.setValue(0, ReaderField::ChangeParam, Value(true));
    QCOMPARE(cellStyle(GridKind::Readers, readers, 0, 1, cols[3], false, false).text, GridColor::Green);
    for (int c : {4, 5, 6}) QCOMPARE(cellStyle(GridKind::Readers, readers, 0, 1, cols[c], false, false).text, GridColor::Navy);
    QCOMPARE(cellStyle(GridKind::Readers, readers, 0, 1, cols[1], false, false).text, GridColor::Black);
}

void TestShell::windowElements()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    QCOMPARE(w.windowTitle(), QStringLiteral("KDR02 simple programator"));
    const QHash<QString, QString> groups = {{"GroupBox3", "KDR data table"}, {"GroupBox7", "KDR info"},
                                            {"GroupBox8", "KDR card table"}, {"GroupBox2", "Operations with cards"},
                                            {"GroupBox4", "Operations with parameters"}, {"GroupBox1", "Select COM Port"}};
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        auto *g = w.findChild<QGroupBox *>(it.key());
        QVERIFY2(g, qPrintable(it.key()));
        QCOMPARE(g->title(), it.value());
    }
    const QHash<QString, QString> buttons = {
        {"btnNewVTD", "Create file"}, {"btnRenameVTD", "Rename file"}, {"btnRemoveVTD", "Remove file"},
        {"btnSaveAs", "Export As..."}, {"btnImportAs", "Import As..."}, {"btnSmplAppend", "Add data..."},
        {"btnRestoreCards", "Restore..."}, {"btnAutoFillPerson", "Auto-fill person"}, {"btnPrint", "Print"},
        {"btnReadKDR", "Read All Cards"}, {"btnSaveReadCards", "+"}, {"btnReadKDRFunc", "Read All functions"},
        {"btnUpdateCards", "Update cards"}, {"btnWriteAllCards", "+"}, {"btnChangeCard", "Change(Add) card"},
        {"btnDelCard", "Delete card(s)"}, {"btnToSelForDel", "+"}, {"btnChangeFunction", "Set function(s)"},
        {"btnGetParams", "Get parameters"}, {"btnChangeParams", "Set parameters"}, {"btnScanPort", "Scan Port"},
        {"btnFindKDR", "Check KDR status"}};
    for (auto it = buttons.begin(); it != buttons.end(); ++it) {
        QPushButton *b = w.button(it.key());
        QVERIFY2(b, qPrintable(it.key()));
        QCOMPARE(b->text(), it.value());
    }
    for (const CommandRuleRow &row : kCommandRules) QCOMPARE(w.button(QString::fromLatin1(row.button))->text(), QString::fromLatin1(row.caption));

    QCOMPARE(w.findChild<QLabel *>("lblLastCardID")->text(), QStringLiteral("?"));
    QCOMPARE(w.findChild<QLabel *>("lblLastCardID")->toolTip(), QStringLiteral("Click to find"));
    QCOMPARE(w.findChild<QLabel *>("txtNote")->toolTip(), QStringLiteral("Click to change"));
    QCOMPARE(w.compareBox()->text(), QStringLiteral("Compare cards"));
    QCOMPARE(w.compareBox()->toolTip(), QStringLiteral("is read = saved"));
    QCOMPARE(w.readerSearchBox()->placeholderText(), QStringLiteral("Search"));
    QCOMPARE(w.readerSearchField()->currentText(), QStringLiteral("File name (*.vtd)"));
    QCOMPARE(w.cardSearchField()->currentText(), QStringLiteral("ID"));
    QCOMPARE(w.statusBar()->objectName(), QStringLiteral("SB"));
    QCOMPARE(w.elapsedLabel()->text(), QStringLiteral("00:00:00"));

    QStringList menus;
    for (QAction *a : w.menuBar()->actions()) {
        menus << a->text();
        for (QAction *sub : a->menu()->actions()) menus << QStringLiteral("  ") + (sub->isSeparator() ? QStringLiteral("-") : sub->text());
    }
    QCOMPARE(menus, (QStringList{"Functions", "  Settings", "  New version", "  Auto-scroll refresh", "  Refresh .vtd list",
                                 "  -", "  Exit", "About", "  About"}));
    QVERIFY(w.autoScrollAction()->isCheckable());
    QVERIFY(w.autoScrollAction()->isChecked());

    QStringList readerTitles, cardTitles;
    for (int c = 0; c < w.readerModel()->columnCount(); ++c) readerTitles << w.readerModel()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    for (int c = 0; c < w.cardModel()->columnCount(); ++c) cardTitles << w.cardModel()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    QCOMPARE(readerTitles, (QStringList{".vtd FileName", "KDRSerial:", "Version:", "Status:", "AS adr.:", "Rel. time:", "REX function:"}));
    QCOMPARE(cardTitles, (QStringList{"ID:", "Card saved:", "Card read:", "Person:", "R:", "Card function:"}));
}

void TestShell::startTimeState()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    for (QPushButton *b : w.findChildren<QPushButton *>()) {
        if (b->objectName().isEmpty() || !b->objectName().startsWith(QLatin1String("btn"))) continue;
        QCOMPARE(b->isEnabled(), b->objectName() == QLatin1String("btnNewVTD"));
    }
    for (QAction *a : w.saveReadCardsMenu()->actions()) QVERIFY(!a->isEnabled());
    QVERIFY(w.portSelector()->isEnabled());
    QVERIFY(w.readerSearchBox()->isEnabled());
    QVERIFY(w.compareBox()->isEnabled());
}

void TestShell::updateBtnStateFollowsWorkspace()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    // Empty folder after the load.
    w.UpdateBtnState();
    w.SetMainFileBtn(ws.readers.recordCount() > 0);
    for (const char *n : {"btnChangeParams", "btnChangeCard", "btnToSelForDel", "btnSaveReadCards", "btnWriteAllCards"})
        QVERIFY2(w.button(n)->isEnabled(), n);
    for (const char *n : {"btnRenameVTD", "btnRemoveVTD", "btnSaveAs", "btnPrint", "btnReadKDR", "btnRestoreCards"})
        QVERIFY2(!w.button(n)->isEnabled(), n);
    QVERIFY(!w.findChild<QLabel *>("txtNote")->isEnabled());

    // An online reader on M:BUS, created through the workspace (which asks for UpdateBtnState).
    ws.CreateNewTable(ws.activeFolderPath() + QStringLiteral("5.vtd"));
    ws.readers.appendFromCardTable(QStringLiteral("5.vtd"), ws.cards);
    ws.readers.setValue(0, ReaderField::Status, Value(kStatusOnline));
    ws.readers.setCurrent(0);
    w.setBus9600(false);
    for (const char *n : {"btnReadKDR", "btnGetParams", "btnUpdateCards", "btnSaveAs", "btnPrint"}) QVERIFY2(w.button(n)->isEnabled(), n);
    QVERIFY(!w.button("btnReadKDRFunc")->isEnabled());
    w.setBus9600(true);
    QVERIFY(w.button("btnReadKDRFunc")->isEnabled());
}

void TestShell::restoreNeedsBackupFile()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    ws.CreateNewTable(ws.activeFolderPath() + QStringLiteral("9.vtd"));
    QVERIFY(QDir().mkpath(ws.inactiveFolder()));
    testutil::writeAll(ws.inactiveFolder() + QStringLiteral("/note.txt"), "x");
    w.UpdateBtnState();
    QVERIFY(!w.button("btnRestoreCards")->isEnabled());
    QVERIFY(QFile::copy(ws.readerFilePath(), ws.inactiveFolder() + QStringLiteral("/9_20261211_101500.vtd")));
    w.UpdateBtnState();
    QVERIFY(w.button("btnRestoreCards")->isEnabled());
}

void TestShell::cardButtonsFollowCursor()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    ws.cards.resetToSlots(10);
    ws.cards.setValue(4, CardField::CardNoSaved, Value(qint32(1234)));
    ws.cards.setCurrent(3);
    QVERIFY(!w.button("btnDelCard")->isEnabled());
    QVERIFY(!w.button("btnChangeFunction")->isEnabled());
    ws.cards.setCurrent(4);
    QVERIFY(w.button("btnDelCard")->isEnabled());
    QVERIFY(w.button("btnChangeFunction")->isEnabled());
    ws.cards.setCurrent(5);
    QVERIFY(!w.button("btnDelCard")->isEnabled());
}

void TestShell::labelTexts()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    w.initLabel();
    QCOMPARE(w.activeFolderLabel()->text(), QStringLiteral("root folder"));
    ws.setActiveSubfolder(QStringLiteral("site/door1"));
    w.initLabel();
    QCOMPARE(w.activeFolderLabel()->text(), QStringLiteral("site/door1"));
    QCOMPARE(ws.activeFolderPath(), QDir(dir.path()).absolutePath() + QStringLiteral("/site/door1/"));
    ws.downloadingFiles = true;
    w.initLabel();
    QCOMPARE(w.activeFolderLabel()->text(), QStringLiteral("DOWNLOADING"));
    ws.loadingFiles = true;
    w.initLabel();
    QCOMPARE(w.activeFolderLabel()->text(), QStringLiteral("LOADING"));
}

void TestShell::closeRefusedWhileLoading()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ws.loadingFiles = true;
    w.setLoaderThreadId(4242);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(ws.log.lines().last(), QStringLiteral("> Operation running! [th4242]"));
    QCOMPARE(w.logView()->toPlainText().split('\n').last(), QStringLiteral("> Operation running! [th4242]"));
    QVERIFY(!QFile::exists(ws.settingsPath()));
    ws.loadingFiles = false;
    QVERIFY(w.close());
    // Closing writes the missing settings file with the current values.
    Settings back;
    QVERIFY(QFile::exists(ws.settingsPath()));
    QVERIFY(back.load(ws.settingsPath()));
    QCOMPARE(back.timeOutProtokol, 300);
    QCOMPARE(back.usbOrSerial, 1);
}

void TestShell::startupChainScansUnlessOffline_data()
{
    QTest::addColumn<bool>("newVersion");
    QTest::addColumn<int>("scans");
    QTest::newRow("no new version: go on to the port scan") << false << 1;
    QTest::newRow("new version started: the window closes") << true << 0;
}

void TestShell::startupChainScansUnlessOffline()
{
    QFETCH(bool, newVersion);
    QFETCH(int, scans);
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    w.show();
    QSignalSpy scan(&w, &MainWindow::startupScanRequested);
    QSignalSpy check(&w, &MainWindow::newVersionRequested);
    w.firstLoadFinished();
    QCOMPARE(check.count(), 1);
    w.updateCheckFinished(newVersion);
    QCOMPARE(scan.count(), scans);
    QCOMPARE(w.isVisible(), !newVersion);
    QVERIFY(!ws.startupChainPending);
    // Later loads and checks do not repeat the chain.
    w.firstLoadFinished();
    w.updateCheckFinished(false);
    QCOMPARE(check.count(), 1);
    QCOMPARE(scan.count(), scans);
}

void TestShell::sortingReordersDisplayOnly()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    ws.cards.resetToSlots(5);
    const int values[] = {30, 10, 50, 20, 40};
    for (int i = 0; i < 5; ++i) ws.cards.setValue(i, CardField::CardNoSaved, Value(qint32(values[i])));
    w.cardGrid()->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(w.cardGrid()->model()->index(0, 1).data().toString(), QStringLiteral("10"));
    QCOMPARE(w.cardGrid()->model()->index(4, 1).data().toString(), QStringLiteral("50"));
    // The table itself keeps its order: the reader values record stays first.
    QCOMPARE(ws.cards.value(0, CardField::CardNoSaved).toInt(), 30);
    const QByteArray image = writeVtd(ws.cards);
    CardTable back;
    QVERIFY(readVtd(image, back).ok);
    QCOMPARE(back.value(0, CardField::ID).toInt(), 1);
}

void TestShell::aboutDialog()
{
    AboutDialog d;
    QCOMPARE(AboutDialog::versionText(), QStringLiteral("ver. 3.0\r\n64bit"));
    auto *changes = d.findChild<QPlainTextEdit *>("memoChanges");
    QVERIFY(changes);
    QVERIFY(changes->isReadOnly());
    QVERIFY(!changes->toPlainText().isEmpty());
    d.show();
    QVERIFY(!changes->isVisible());
    d.findChild<QPushButton *>("btnChanges")->click();
    QVERIFY(changes->isVisible());
    d.findChild<QPushButton *>("btnChanges")->click();
    QVERIFY(!changes->isVisible());
}

void TestShell::bugReports()
{
    QTemporaryDir dir;
    Log log;
    log.append(QStringLiteral("> Reading card 7"));
    ScriptedPrompter prompts;
    CrashReporter r;
    r.product = QStringLiteral("KDR02. Version 3.0; 64bit");
    r.folder = dir.filePath(QStringLiteral("bugreports"));
    r.log = &log;
    r.prompter = &prompts;

    // Automatic: the error is shown and the report written without a question.
    const QString path = r.report(QStringLiteral("vector::_M_range_check"));
    QVERIFY(!path.isEmpty());
    const QString text = QString::fromUtf8(testutil::readAll(path));
    QVERIFY(text.contains(QStringLiteral("Subject: bug report - KDR")));
    QVERIFY(text.contains(QStringLiteral("Product: KDR02. Version 3.0; 64bit")));
    QVERIFY(text.contains(QStringLiteral("Error: vector::_M_range_check")));
    QVERIFY(text.contains(QStringLiteral("> Reading card 7")));
    QCOMPARE(prompts.asked.size(), 1);
    QCOMPARE(prompts.asked[0].type, DlgType::Error);

    // Not automatic: the user decides.
    r.autoSend = false;
    QDir(r.folder).removeRecursively();
    prompts.queueButton(Btn::No);
    QVERIFY(r.report(QStringLiteral("boom")).isEmpty());
    QVERIFY(!QDir(r.folder).exists());
    prompts.queueButton(Btn::Yes);
    QVERIFY(!r.report(QStringLiteral("boom")).isEmpty());
}

void TestShell::elapsedCounter()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    MainWindow w(ws);
    w.startElapsed();
    QTRY_COMPARE_WITH_TIMEOUT(w.elapsedLabel()->text(), QStringLiteral("00:00:01"), 3000);
    w.stopElapsed();
    const QString stopped = w.elapsedLabel()->text();
    QTest::qWait(1100);
    QCOMPARE(w.elapsedLabel()->text(), stopped); // a stopped counter stands still
    w.startElapsed(false);                        // ... and goes on without a reset
    QCOMPARE(w.elapsedLabel()->text(), stopped);
    w.startElapsed(true);
    QCOMPARE(w.elapsedLabel()->text(), QStringLiteral("00:00:00"));
}

void TestShell::modelsFollowTheirTables()
{
    ReaderList readers;
    CardTable cards;
    cards.resetToSlots(3);
    for (const char *n : {"a.vtd", "b.vtd", "c.vtd"}) readers.appendFromCardTable(QString::fromLatin1(n), cards);
    TableModel rm(readers, GridKind::Readers, readerGridColumns());
    QCOMPARE(rm.rowCount(), 3);

    // The online filter: only ONLINE rows, and a row that goes online appears.
    readers.setValue(2, ReaderField::Status, Value(kStatusOnline));
    readers.setFiltered(true);
    QCOMPARE(rm.rowCount(), 1);
    QCOMPARE(rm.index(0, 0).data().toString(), QStringLiteral("c.vtd"));
    readers.setValue(0, ReaderField::Status, Value(kStatusOnline));
    QCOMPARE(rm.rowCount(), 2);
    QCOMPARE(rm.recordAt(0), 0);
    readers.setFiltered(false);
    QCOMPARE(rm.rowCount(), 3);

    // Detached while a table is refilled: no rows, nothing read; attached again: the new content.
    rm.setDetached(true);
    QCOMPARE(rm.rowCount(), 0);
    readers.disableControls();
    readers.clear();
    readers.appendFromCardTable(QStringLiteral("z.vtd"), cards);
    readers.enableControls();
    QCOMPARE(rm.rowCount(), 0);
    rm.setDetached(false);
    QCOMPARE(rm.rowCount(), 1);
    QCOMPARE(rm.index(0, 0).data().toString(), QStringLiteral("z.vtd"));

    // A frozen table that shrank is never read past its end by a stale view.
    TableModel cm(cards, GridKind::Cards, cardGridColumns());
    QCOMPARE(cm.rowCount(), 3);
    cards.disableControls();
    cards.clear();
    QVERIFY(!cm.index(2, 1).data().isValid());
    QVERIFY(!cm.index(2, 1).data(Qt::BackgroundRole).isValid());
    cards.enableControls();
    QCOMPARE(cm.rowCount(), 0);

    // The R column is a check box: ticked, empty, or nothing for a slot without function.
    cards.resetToSlots(3);
    cards.setValue(0, CardField::FuncKDR, Value(QStringLiteral("41")));
    cards.setValue(1, CardField::FuncKDR, Value(QStringLiteral("01")));
    QCOMPARE(cm.index(0, 4).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(cm.index(1, 4).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(!cm.index(2, 4).data(Qt::CheckStateRole).isValid());
    QCOMPARE(cm.index(0, 5).data().toString(), QStringLiteral("control function no. 1 with own serial number"));
    QVERIFY(!cm.index(0, 4).data(Qt::DisplayRole).isValid());
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
