// The settings file, the active folder choices and the settings and input dialogs (offscreen).
#include "StoreFixture.h"

#include "store/IniFile.h"
#include "store/SettingsActions.h"
#include "ui/FileDialogs.h"
#include "ui/SettingsDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

using namespace kdr;
using namespace storetest;

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void defaultsWithoutFile();
    void folderChoices();
    void missingStoredSubfolderFallsBack();
    void dialog_portTypePresetApplied_data();
    void dialog_portTypePresetApplied();
    void dialog_fieldsShowCurrentIntervals();
    void dialog_sendReport();
    void dialog_folderChangeAsksRefresh_data();
    void dialog_folderChangeAsksRefresh();
    void dialog_unwritableFileKeepsDialogOpen();
    void inputDialogs();
};

namespace {
QString iniValue(const QString &path, const char *section, const char *key)
{
    IniFile ini;
    ini.load(path);
    return ini.contains(section, key) ? ini.value(section, key) : QStringLiteral("<missing>");
}
} // namespace

void TestSettings::defaultsWithoutFile()
{
    Fixture f;
    QVERIFY(f.ws->settings.load(f.ws->settingsPath()));
    QCOMPARE(f.ws->settings.timeOutProtokol, 300);
    QCOMPARE(f.ws->settings.timeOutRead, 300);
    QCOMPARE(f.ws->settings.timeOutWrite, 300);
    QCOMPARE(f.ws->settings.usbOrSerial, 1);
    QVERIFY(f.ws->settings.refreshScroll);
    QVERIFY(f.ws->settings.sendReport);
    QCOMPARE(f.ws->settings.reportIndex, -1);
    QCOMPARE(f.ws->settingsPath(), f.dir.filePath("KDR02.x64.ini"));

    // At program end a missing file is written with those values, without a message; an existing one is left.
    QVERIFY(SaveSettingsIfMissing(*f.ws));
    QVERIFY(f.prompter.asked.isEmpty());
    const QString ini = f.ws->settingsPath();
    QCOMPARE(iniValue(ini, "TimeSett", "TimeOutProtokol"), QString("300"));
    QCOMPARE(iniValue(ini, "TimeSett", "aUSBorSerial"), QString("1"));
    QCOMPARE(iniValue(ini, "ProgSett", "aRefreshScroll"), QString("1"));
    QCOMPARE(iniValue(ini, "ProgSett", "aVTDFolderPath"), QString(""));
    QCOMPARE(iniValue(ini, "ProgSett", "aReportIndx"), QString("-1"));
    QCOMPARE(iniValue(ini, "ReportSett", "aSendReport"), QString("1"));
    QCOMPARE(iniValue(ini, "ProgSett", "aLastPortNo"), QString("<missing>"));
    f.ws->settings.timeOutRead = 250;
    QVERIFY(SaveSettingsIfMissing(*f.ws));
    QCOMPARE(iniValue(ini, "TimeSett", "TimeOutRead"), QString("300"));
}

void TestSettings::folderChoices()
{
    QTemporaryDir d;
    for (const char *p : {"Site1/Old/Deep", "Site2", "Site1/New"}) QVERIFY(QDir(d.path()).mkpath(p));
    QFile::link(d.path(), d.filePath("Site2/loop")); // a link back up must not loop
    const QList<FolderChoice> c = activeFolderChoices(d.path() + "/");
    QStringList paths;
    QList<int> levels;
    for (const FolderChoice &x : c) {
        paths << x.path;
        levels << x.level;
    }
    QCOMPARE(paths.mid(0, 6), QStringList({"", "Site1", "Site1/New", "Site1/Old", "Site1/Old/Deep", "Site2"}));
    QCOMPARE(levels.mid(0, 6), QList<int>({0, 1, 2, 2, 3, 1}));
    QVERIFY(paths.size() <= 7);

    QCOMPARE(resolveActiveSubfolder(c, "Site1/Old"), QString("Site1/Old"));
    QCOMPARE(resolveActiveSubfolder(c, "Site1\\Old"), QString("Site1/Old"));
    QCOMPARE(resolveActiveSubfolder(c, "Site3"), QString());
    QCOMPARE(resolveActiveSubfolder(c, "site1"), QString());
}

void TestSettings::missingStoredSubfolderFallsBack()
{
    Fixture f;
    QVERIFY(QDir(f.dir.path()).mkpath("Kept"));
    QVERIFY(writeReader(f.dir.filePath("root.vtd"), 5));
    QVERIFY(writeReader(f.dir.filePath("Kept/kept.vtd"), 6));
    {
        IniFile ini;
        ini.setValue("ProgSett", "aVTDFolderPath", "Deleted");
        QVERIFY(ini.save(f.ws->settingsPath()).isEmpty());
    }
    QVERIFY(f.ws->settings.load(f.ws->settingsPath()));
    QCOMPARE(f.ws->settings.vtdFolderPath, QString("Deleted"));
    QSignalSpy label(f.store.get(), &ReaderStore::activeFolderLabelChanged);
    f.store->initActiveFolder();
    QCOMPARE(f.ws->activeFolderPath(), f.dir.path() + "/");
    QCOMPARE(f.store->activeFolderLabel(), QString("root folder"));
    QCOMPARE(label.last().value(0).toString(), QString("root folder"));
    QVERIFY(f.load());
    QCOMPARE(f.rowFiles(), QStringList({"root.vtd"}));

    SettingsDialog dlg(*f.ws);
    QCOMPARE(dlg.folderChoice(), QString());
    QCOMPARE(dlg.folderList()->currentIndex(), 0);

    // A stored subfolder that exists is used.
    f.ws->settings.vtdFolderPath = "Kept";
    f.store->initActiveFolder();
    QCOMPARE(f.ws->activeFolderPath(), f.dir.path() + "/Kept/");
    QCOMPARE(f.store->activeFolderLabel(), QString("Kept"));
}

void TestSettings::dialog_portTypePresetApplied_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<int>>("timeouts");
    QTest::newRow("RS232") << 0 << QList<int>{500, 400, 400};
    QTest::newRow("HLXBUS USB") << 1 << QList<int>{300, 300, 300};
    QTest::newRow("MBUS USB") << 2 << QList<int>{250, 225, 225};
}

void TestSettings::dialog_portTypePresetApplied()
{
    QFETCH(int, type);
    QFETCH(QList<int>, timeouts);
    Fixture f;
    f.ws->settings.timeOutProtokol = 777;
    f.ws->settings.timeOutRead = 666;
    f.ws->settings.timeOutWrite = 555;
    f.ws->settings.usbOrSerial = type == 1 ? 0 : 1;
    SettingsDialog dlg(*f.ws);
    dlg.show();
    QSignalSpy applied(&dlg, &SettingsDialog::timeoutsApplied);
    dlg.portTypeGroup()->button(type)->click();
    QCOMPARE(f.ws->settings.timeOutProtokol, 777); // a click sets the fields only
    dlg.applyButton()->click();

    const QString ini = f.ws->settingsPath();
    QCOMPARE(iniValue(ini, "TimeSett", "TimeOutProtokol"), QString::number(timeouts[0]));
    QCOMPARE(iniValue(ini, "TimeSett", "TimeOutRead"), QString::number(timeouts[1]));
    QCOMPARE(iniValue(ini, "TimeSett", "TimeOutWrite"), QString::number(timeouts[2]));
    QCOMPARE(iniValue(ini, "TimeSett", "aUSBorSerial"), QString::number(type));
    QCOMPARE(applied.size(), 1);
    QCOMPARE(applied[0], QVariantList({timeouts[0], timeouts[1], timeouts[2]}));
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked[0].text, QString("Settings are sucessfully saved!"));
    QVERIFY(!dlg.isVisible());

    Settings reread;
    QVERIFY(reread.load(ini));
    QCOMPARE(reread.timeOutProtokol, timeouts[0]);
    QCOMPARE(reread.usbOrSerial, type);
    QCOMPARE(portTypeLogLine(reread.timeOutProtokol),
             QStringList({"RS232 speed is set!", "HLXBUS USB speed is set!", "MBUS USB speed is set!"})[type]);
}

void TestSettings::dialog_fieldsShowCurrentIntervals()
{
    Fixture f;
    f.ws->settings.timeOutProtokol = 250;
    f.ws->settings.timeOutRead = 1000; // out of range in the file: shown at the limit, never written so
    f.ws->settings.timeOutWrite = 150;
    f.ws->settings.usbOrSerial = 2;
    SettingsDialog dlg(*f.ws);
    dlg.show();
    QCOMPARE(dlg.protocolField()->value(), 250);
    QCOMPARE(dlg.readField()->value(), 999);
    QCOMPARE(dlg.writeField()->value(), 200);
    QCOMPARE(dlg.portTypeGroup()->checkedId(), 2);
    dlg.protocolField()->setValue(2000);
    QCOMPARE(dlg.protocolField()->value(), 999);
    dlg.applySettings();
    QCOMPARE(iniValue(f.ws->settingsPath(), "TimeSett", "TimeOutRead"), QString("999"));
    QCOMPARE(iniValue(f.ws->settingsPath(), "TimeSett", "TimeOutWrite"), QString("200"));
}

void TestSettings::dialog_sendReport()
{
    Fixture f;
    SettingsDialog dlg(*f.ws);
    QVERIFY(dlg.sendReportBox()->isChecked());
    QSignalSpy changed(&dlg, &SettingsDialog::sendReportChanged);
    dlg.sendReportBox()->click();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].toBool(), false);
    QVERIFY(!QFile::exists(f.ws->settingsPath())); // only Apply writes
    dlg.applySettings();
    QCOMPARE(iniValue(f.ws->settingsPath(), "ReportSett", "aSendReport"), QString("0"));

    Workspace again(f.ws->programPath());
    QVERIFY(again.settings.load(again.settingsPath()));
    SettingsDialog dlg2(again);
    QVERIFY(!dlg2.sendReportBox()->isChecked());
}

void TestSettings::dialog_folderChangeAsksRefresh_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("yes") << int(Btn::Yes);
    QTest::newRow("no") << int(Btn::No);
}

void TestSettings::dialog_folderChangeAsksRefresh()
{
    QFETCH(int, answer);
    Fixture f;
    QVERIFY(QDir(f.dir.path()).mkpath("Site1/Old"));
    QVERIFY(writeReader(f.dir.filePath("root.vtd"), 1));
    QVERIFY(writeReader(f.dir.filePath("Site1/Old/old.vtd"), 2));
    f.store->initActiveFolder();
    QVERIFY(f.load());
    SettingsDialog dlg(*f.ws);
    QObject::connect(&dlg, &SettingsDialog::folderChoiceChanged, f.store.get(), &ReaderStore::folderChoiceChanged);
    QObject::connect(&dlg, &SettingsDialog::refreshRequested, f.store.get(), &ReaderStore::refresh);
    dlg.show();
    QCOMPARE(dlg.folderList()->count(), 3);
    QCOMPARE(dlg.folderList()->itemText(2), QString("      Site1/Old")); // indented by its level
    QSignalSpy label(f.store.get(), &ReaderStore::activeFolderLabelChanged);
    QSignalSpy refresh(&dlg, &SettingsDialog::refreshRequested);
    dlg.folderList()->setCurrentIndex(2);
    QCOMPARE(label.last().value(0).toString(), QString("Site1/Old")); // the label follows at once

    f.prompter.queueButton(Btn::Ok); // "Settings are sucessfully saved!"
    f.prompter.queueButton(Btn(answer));
    QSignalSpy loaded(f.store.get(), &ReaderStore::loadFinished);
    dlg.applySettings();
    QCOMPARE(iniValue(f.ws->settingsPath(), "ProgSett", "aVTDFolderPath"), QString("Site1/Old"));
    QCOMPARE(f.prompter.asked.size(), 2);
    QCOMPARE(f.prompter.asked[1].text, QString("Refresh *.vtd file list?"));
    QCOMPARE(f.prompter.asked[1].buttons, BtnSet({Btn::Yes, Btn::No}));
    if (Btn(answer) == Btn::Yes) {
        QCOMPARE(refresh.size(), 1);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(f.rowFiles(), QStringList({"old.vtd"}));
        QCOMPARE(f.ws->activeFolderPath(), f.dir.path() + "/Site1/Old/");
    } else {
        QCOMPARE(refresh.size(), 0);
        QCOMPARE(f.rowFiles(), QStringList({"root.vtd"}));
        QCOMPARE(f.store->activeFolderLabel(), QString("Site1/Old"));
    }
    // The question comes once per change.
    dlg.applySettings();
    QCOMPARE(f.prompter.asked.size(), 3);
}

void TestSettings::dialog_unwritableFileKeepsDialogOpen()
{
    Fixture f;
    QVERIFY(QDir(f.dir.path()).mkdir("KDR02.x64.ini")); // a folder where the file should be
    SettingsDialog dlg(*f.ws);
    dlg.show();
    QSignalSpy applied(&dlg, &SettingsDialog::timeoutsApplied);
    dlg.portTypeGroup()->button(2)->click();
    dlg.applySettings();
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked[0].type, DlgType::Error);
    QVERIFY(dlg.isVisible());
    QCOMPARE(applied.size(), 1); // the timers keep the new intervals
    QCOMPARE(f.ws->settings.timeOutProtokol, 250);
}

void TestSettings::inputDialogs()
{
    NewFileNameDialog name;
    QCOMPARE(name.windowTitle(), QString("Input new file name"));
    QCOMPARE(name.serialAlsoBox()->text(), QString("Change serial number also"));
    QVERIFY(name.serialAlsoBox()->isChecked());
    name.nameField()->setText("old text");
    name.show();
    QVERIFY(name.nameField()->text().isEmpty());

    SerialNumberDialog serial;
    QCOMPARE(serial.windowTitle(), QString("Input new serial number"));
    serial.show();
    QTest::keyClicks(serial.serialField(), "12a34567");
    QCOMPARE(serial.serial(), QString("123456"));

    NoteDialog note("abc");
    QCOMPARE(note.windowTitle(), QString("Enter Note text - 252 chars left"));
    note.noteField()->setPlainText(QString(300, 'x'));
    QCOMPARE(note.note().size(), 255);
    QCOMPARE(note.windowTitle(), QString("Enter Note text - 0 chars left"));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
