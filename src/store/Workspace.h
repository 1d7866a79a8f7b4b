#pragma once
// The program's state outside the bus: the selected reader's card table, the reader list, the log,
// the settings, the folders and the process flags. The window, kdrctl and the tests all drive it.
#include "store/Log.h"
#include "store/Prompter.h"
#include "store/Records.h"
#include "store/Settings.h"

#include <QObject>
#include <QString>

namespace kdr {

class Workspace : public QObject {
    Q_OBJECT
public:
    // programPath: the program file; its folder holds the settings and the active folders.
    explicit Workspace(const QString &programPath, QObject *parent = nullptr);

    CardTable cards;    // tblCards
    ReaderList readers; // tblKDRReaders
    Log log;
    Settings settings;

    Prompter *prompter() const { return m_prompter; }
    void setPrompter(Prompter *p) { m_prompter = p; }

    QString programPath() const { return m_programPath; }
    QString programFolder() const; // with trailing "/"
    QString settingsPath() const { return Settings::fileFor(m_programPath); }

    // ActiveFolderPath: program folder + active subfolder, ending with "/".
    QString activeFolderPath() const { return m_activeFolderPath; }
    void setActiveSubfolder(const QString &sub);
    QString activeSubfolder() const { return m_activeSubfolder; }

    QString readerBaseName() const { return m_baseName; }
    // The selected reader's data file name; the base name follows it. A file listed as "X.VTD"
    // is saved under that name, not beside it as "X.vtd".
    void setReaderFileName(const QString &fileName);
    void setReaderBaseName(const QString &n) { setReaderFileName(n.isEmpty() ? QString() : n + QStringLiteral(".vtd")); }
    QString readerFileName() const { return m_fileName; }
    QString readerFilePath() const; // ActiveFolderPath + base name + ".vtd"; empty without a reader
    QString inactiveFolder() const; // ActiveFolderPath + base name
    bool hasRestorableBackups() const;
    // A backup name in a reader's inactive folder: base + "_" + "yyyymmdd_hhnnss" + ".vtd".
    QString backupPathFor(const QString &baseName) const;
    // Copies a data file of the active folder into its reader's inactive folder under a backup
    // name. Returns the error in plain words, empty on success.
    QString copyToInactiveFolder(const QString &fileName, QString *backupPath = nullptr) const;

    int selectedReaderRow() const { return readers.current(); }
    bool selectedReaderOnline() const;

    // Process flags, UI thread only.
    bool loadingFiles = false;
    bool downloadingFiles = false;
    bool startupChainPending = true;
    // Set just before the program's own file operations in the active folder, so that the folder
    // watch drops the notification they cause.
    bool ignoreNextWatchEvent = false;

    // Saves the card table to the selected reader's file; errors go to a message and the result.
    bool saveCards();
    // Replaces the card table by a new 2000-slot table written to `fileName` (full path).
    bool CreateNewTable(const QString &fileName);
    // Grows a 2000-slot table to 4000 slots and saves it; any other size is left alone.
    void CheckAndAppendTable();
    // Stores the selected reader's ChangeParam into the reader values record and saves.
    void SaveChangeParamToTable();

signals:
    // The command availability may have changed (UpdateBtnState).
    void buttonStateChanged();

private:
    QString m_programPath;
    QString m_activeFolderPath;
    QString m_activeSubfolder;
    QString m_baseName;
    QString m_fileName;
    Prompter *m_prompter = nullptr;
};

} // namespace kdr
