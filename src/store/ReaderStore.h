#pragma once
// The reader store: builds the reader list from the active folder on a background thread, keeps it
// in step with the folder through the folder watch, loads the selected reader's data file into the
// card table, and carries the reader file commands and the two searches. It works on a Workspace;
// the window calls its methods from the buttons and follows its signals.
#include "store/FolderWatch.h"
#include "store/ReaderRows.h"

#include <QObject>
#include <QPointer>
#include <QQueue>

namespace kdr {

class FolderLoader;
class Workspace;

class ReaderStore : public QObject {
    Q_OBJECT
public:
    explicit ReaderStore(Workspace &ws, QObject *parent = nullptr);
    ~ReaderStore() override;

    Workspace &workspace() const { return m_ws; }
    FolderWatch &watch() { return m_watch; }

    // --- Active folder and load pass ---
    // Start-up: the stored subfolder (settings) is checked against the folders that exist; a missing
    // one falls back to the program folder. Forms ActiveFolderPath.
    void initActiveFolder();
    // Starts a load pass; ignored while one runs.
    void FillAndSelectKDRTable();
    // "Refresh .vtd list": ActiveFolderPath from the current folder choice, a load pass, the watch
    // moved to the new folder. Ignored while a load pass runs.
    void refresh();
    // The loader thread's identifier while a pass runs ("> Operation running! [th%d]"), else 0.
    qint64 loaderThreadId() const;
    // The active-folder label: "LOADING", "DOWNLOADING", the chosen subfolder or "root folder".
    QString activeFolderLabel() const;
    // The folder choice changed (settings dialog): the label follows at once.
    void folderChoiceChanged();

    // --- Reader selection ---
    // Makes `row` the selected reader and loads its data file (also when it is already current).
    void selectReader(int row);
    // The row whose file is in the card table; -1 when none.
    int selectedRow() const { return m_selectedRow; }
    // UpdateLastSavedCardID: refreshes the "Last card ID" display.
    void UpdateLastSavedCardID();
    QString lastCardIdText() const { return m_lastCardId; }
    // lblLastCardIDClick: the slot shown by "Last card ID" becomes the current card.
    void jumpToLastCard();

    // --- Reader file management ---
    // "Create file": asks for the name with a save dialog on the active folder.
    void createFile();
    // The same after the dialog: `path` as the dialog returned it.
    bool createFileAt(const QString &path);
    // "Rename file" after the "Input new file name" dialog.
    bool renameFile(const QString &newName, bool changeSerialAlso);
    // "Remove file": asks, then moves the file into the reader's inactive folder.
    bool removeFile();
    // The serial number and note can be changed: a reader is selected and its table is loaded.
    bool canEditReader() const;
    // After the "Input new serial number" dialog.
    bool changeSerial(const QString &text);
    // The note the note editor starts with (the placeholder shows as empty).
    QString noteForEditing() const;
    // The note editor closed with OK.
    bool changeNote(const QString &note);

    // --- Search and "Compare cards" ---
    // Enter or the search button in a search box: `fieldIndex` is the selector's item.
    bool searchReaders(int fieldIndex, const QString &text);
    bool searchCards(int fieldIndex, const QString &text);
    bool compareCards() const { return m_compare; }
    void setCompareCards(bool on);

    // Watch notifications waiting (during a load pass or an addition's wait).
    int pendingWatchEvents() const { return int(m_pending.size()); }

signals:
    void loadStarted();
    void loadFinished(); // after every pass; the start-up chain continues from here
    void activeFolderLabelChanged(const QString &text);
    void progressMaximum(int max);
    void progressValue(int value); // 0 when the pass ends
    void mainFileButtonsEnabled(bool on); // SetMainFileBtn
    void paramsHighlighted(bool on);      // "Set parameters" caption in navy
    void lastCardIdChanged(const QString &text);
    void readerSelected(int row);
    void scrollRefreshRequested(); // "Auto-scroll refresh" is on and a reader was selected
    void compareCardsChanged(bool on);
    void watchEventHandled(); // one folder notification was applied or dropped

private:
    void onLoaderRow(const kdr::ReaderRowData &row, int done);
    void onLoaderDone(qint64 tid);
    void onReaderCurrentChanged(int rec);
    void readerAfterScroll(int rec);
    void clearSelection();
    void emitMainFileButtons();
    int firstVisibleRow() const;
    int nearestVisibleRow(int rec) const;

    // Folder watch.
    void onWatchEvent(const kdr::FolderEvent &e);
    void processPending();
    // Returns false when the event waits (an addition's 500 ms); processing resumes by itself.
    bool handleEvent(const FolderEvent &e);
    void finishAdded(const QString &name);
    void rescan();
    // The list already shows the change: what a notification of the program's own file command is.
    bool alreadyInList(const FolderEvent &e) const;
    void replaceRow(int row, const ReaderRowData &data, int remembered);
    void deleteRow(int row, int &remembered, bool &rememberedGone);
    void restoreSelection(int remembered, bool rememberedGone);

    // File commands.
    QString checkNewName(const QString &name) const; // error text for an unsafe name
    QString selectedFileName() const;
    void reloadSelected();
    bool saveSelected();

    Workspace &m_ws;
    FolderWatch m_watch;
    QPointer<FolderLoader> m_loader;
    qint64 m_loaderTid = 0;
    bool m_handlerAttached = true;
    bool m_inSelection = false;
    int m_selectedRow = -1;
    QString m_selectedFile;
    QString m_lastCardId = QStringLiteral("?");
    bool m_compare = false;

    QQueue<FolderEvent> m_pending;
    bool m_watchBusy = false;
    QString m_oldWatchName; // OldWatchName
};

} // namespace kdr
