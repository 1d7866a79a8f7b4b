#include "store/ReaderStore.h"

#include "store/AtomicFile.h"
#include "store/FolderLoader.h"
#include "store/Search.h"
#include "store/SettingsActions.h"
#include "store/TableRoutines.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace kdr {

namespace {
constexpr int kAddedWaitMs = 500; // lets the writer of an added file finish

} // namespace

ReaderStore::ReaderStore(Workspace &ws, QObject *parent) : QObject(parent), m_ws(ws)
{
    connect(&ws.readers, &Table::currentChanged, this, &ReaderStore::onReaderCurrentChanged);
    connect(&ws.readers, &Table::recordRemoved, this, &ReaderStore::emitMainFileButtons);
    connect(&ws.readers, &Table::recordsAppended, this, &ReaderStore::emitMainFileButtons);
    connect(&m_watch, &FolderWatch::event, this, &ReaderStore::onWatchEvent);
}

ReaderStore::~ReaderStore()
{
    if (m_loader) {
        m_loader->requestInterruption();
        m_loader->wait();
        delete m_loader.data();
    }
}

// ---------------------------------------------------------------- active folder and load pass

void ReaderStore::initActiveFolder()
{
    const QString sub = resolveActiveSubfolder(activeFolderChoices(m_ws.programFolder()), m_ws.settings.vtdFolderPath);
    m_ws.settings.vtdFolderPath = sub;
    m_ws.setActiveSubfolder(sub);
    emit activeFolderLabelChanged(activeFolderLabel());
}

void ReaderStore::FillAndSelectKDRTable()
{
    if (m_ws.loadingFiles) return;
    m_ws.loadingFiles = true;
    // Changes seen before now are in the listing the pass makes.
    m_pending.clear();
    m_oldWatchName.clear();
    emit loadStarted();
    emit activeFolderLabelChanged(activeFolderLabel());

    m_handlerAttached = false;
    m_ws.cards.disableControls();
    m_ws.readers.disableControls();
    m_ws.readers.clear();
    m_ws.cards.clear();
    m_selectedRow = -1;
    m_selectedFile.clear();

    auto *loader = new FolderLoader(m_ws.activeFolderPath());
    m_loader = loader;
    m_loaderTid = 0;
    connect(loader, &FolderLoader::logLine, this, [this](const QString &line) { m_ws.log.append(line); });
    connect(loader, &FolderLoader::filesFound, this, &ReaderStore::progressMaximum);
    connect(loader, &FolderLoader::rowReady, this, &ReaderStore::onLoaderRow);
    connect(loader, &FolderLoader::rowSkipped, this, &ReaderStore::progressValue);
    connect(loader, &FolderLoader::passDone, this, &ReaderStore::onLoaderDone);
    connect(loader, &QThread::finished, loader, &QObject::deleteLater);
    loader->start();
}

void ReaderStore::refresh()
{
    if (m_ws.loadingFiles) return;
    m_ws.setActiveSubfolder(m_ws.settings.vtdFolderPath);
    m_watch.stop();
    m_watch.start(m_ws.activeFolderPath()); // a failure is reported when the pass ends
    FillAndSelectKDRTable();
}

qint64 ReaderStore::loaderThreadId() const
{
    if (!m_ws.loadingFiles) return 0;
    return m_loader ? m_loader->threadIdentifier() : m_loaderTid;
}

QString ReaderStore::activeFolderLabel() const
{
    if (m_ws.loadingFiles) return QStringLiteral("LOADING");
    if (m_ws.downloadingFiles) return QStringLiteral("DOWNLOADING");
    return folderChoiceLabel(m_ws.settings.vtdFolderPath);
}

void ReaderStore::folderChoiceChanged() { emit activeFolderLabelChanged(activeFolderLabel()); }

void ReaderStore::onLoaderRow(const ReaderRowData &row, int done)
{
    appendReaderRow(m_ws.readers, row); // the list is frozen: views see it once at the end
    emit progressValue(done);
}

void ReaderStore::onLoaderDone(qint64 tid)
{
    m_loaderTid = tid;
    m_ws.log.append(QStringLiteral("> Loading completed.") + Log::threadTag(tid));
    m_ws.loadingFiles = false;
    emit activeFolderLabelChanged(activeFolderLabel());
    emit progressValue(0);

    m_ws.cards.enableControls();
    m_ws.readers.setFiltered(false);
    m_ws.readers.enableControls();
    m_handlerAttached = true;
    const int first = firstVisibleRow();
    if (first >= 0)
        selectReader(first);
    else
        readerAfterScroll(-1);
    emitMainFileButtons();

    const QString err = m_watch.start(m_ws.activeFolderPath());
    if (!err.isEmpty() && m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, err);
    emit loadFinished();
    processPending();
}

// ---------------------------------------------------------------- reader selection

void ReaderStore::selectReader(int row)
{
    if (m_ws.loadingFiles) return;
    const int count = m_ws.readers.recordCount();
    if (row < -1 || row >= count || (row == -1 && count > 0)) return;
    const bool attached = m_handlerAttached;
    m_handlerAttached = false;
    m_ws.readers.setCurrent(row);
    m_handlerAttached = attached;
    readerAfterScroll(row);
}

void ReaderStore::onReaderCurrentChanged(int rec)
{
    if (!m_handlerAttached || m_inSelection || m_ws.loadingFiles) return;
    // Display refreshes re-announce the same row: the reader in the card table stays as it is.
    if (rec == m_selectedRow && (rec < 0 || m_ws.readers.storedValue(rec, ReaderField::VtdFileN).toText() == m_selectedFile))
        return;
    readerAfterScroll(rec);
}

void ReaderStore::readerAfterScroll(int rec)
{
    if (m_inSelection) return;
    m_inSelection = true;
    QString error;
    if (rec >= 0 && rec < m_ws.readers.recordCount()) {
        const QString name = m_ws.readers.storedValue(rec, ReaderField::VtdFileN).toText();
        const VtdReadResult r = readVtdFile(m_ws.activeFolderPath() + name, m_ws.cards);
        if (!r.ok) {
            m_ws.cards.clear(); // no half table: nothing of it may be saved back
            error = QStringLiteral("Cannot load the data file %1:\n%2").arg(name, r.error);
        }
        m_selectedRow = rec;
        m_selectedFile = name;
        if (!name.isEmpty()) m_ws.setReaderFileName(name);
        emit paramsHighlighted(m_ws.readers.storedValue(rec, ReaderField::ChangeParam).toBool());
        UpdateLastSavedCardID();
        if (m_ws.readers.storedValue(rec, ReaderField::Note).toText().isEmpty())
            m_ws.readers.setValue(rec, ReaderField::Note, kNotePlaceholder); // the list only
    } else {
        clearSelection();
    }
    emit m_ws.buttonStateChanged();
    if (m_ws.settings.refreshScroll) emit scrollRefreshRequested();
    m_inSelection = false;
    emit readerSelected(rec);
    if (!error.isEmpty() && m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, error);
}

void ReaderStore::clearSelection()
{
    m_selectedRow = -1;
    m_selectedFile.clear();
    m_ws.cards.clear();
    m_ws.setReaderBaseName(QString());
    emit paramsHighlighted(false);
    UpdateLastSavedCardID();
}

void ReaderStore::emitMainFileButtons()
{
    if (!m_ws.loadingFiles) emit mainFileButtonsEnabled(m_ws.readers.recordCount() > 0);
}

int ReaderStore::firstVisibleRow() const { return nearestVisibleRow(0); }

int ReaderStore::nearestVisibleRow(int rec) const
{
    const Table &t = m_ws.readers;
    rec = std::clamp(rec, 0, std::max(0, t.recordCount() - 1));
    for (int r = rec; r < t.recordCount(); ++r)
        if (t.isVisible(r)) return r;
    for (int r = rec - 1; r >= 0; --r)
        if (t.isVisible(r)) return r;
    return -1;
}

void ReaderStore::UpdateLastSavedCardID()
{
    m_lastCardId = m_ws.cards.recordCount() == 0 ? QStringLiteral("?")
                                                 : QString::number(LastNonZeroRecNo(m_ws.cards, CardField::CardNoSaved));
    emit lastCardIdChanged(m_lastCardId);
}

void ReaderStore::jumpToLastCard()
{
    bool ok = false;
    const int n = m_lastCardId.toInt(&ok);
    if (!ok) return;
    const qint32 id = n == 0 ? 1 : n;
    for (int r = 0; r < m_ws.cards.recordCount(); ++r)
        if (m_ws.cards.storedValue(r, CardField::ID).toInt() == id) {
            m_ws.cards.setCurrent(r);
            return;
        }
}

// ---------------------------------------------------------------- folder watch

void ReaderStore::onWatchEvent(const FolderEvent &e)
{
    m_pending.enqueue(e);
    processPending();
}

void ReaderStore::processPending()
{
    // One notification at a time; none touches the tables while a load pass owns them.
    if (m_watchBusy || m_ws.loadingFiles) return;
    m_watchBusy = true;
    while (!m_pending.isEmpty() && !m_ws.loadingFiles) {
        const FolderEvent e = m_pending.dequeue();
        if (!handleEvent(e)) return; // an addition waits; finishAdded() continues
        emit watchEventHandled();
    }
    m_watchBusy = false;
}

bool ReaderStore::handleEvent(const FolderEvent &ev)
{
    if (ev.kind == FolderEvent::Overflow) {
        rescan();
        return true;
    }
    FolderEvent e = ev;
    if (e.kind == FolderEvent::Renamed && isAtomicTempFor(e.oldName, e.name)) {
        // A save that replaced the file: its content changed, its name did not. New to the list,
        // it is an addition.
        if (m_ws.readers.findFile(e.name) >= 0) {
            m_ws.ignoreNextWatchEvent = false;
            return true;
        }
        e = {FolderEvent::Added, e.name, QString()};
    }
    if ((e.kind == FolderEvent::Added || e.kind == FolderEvent::Removed) && isAtomicTempName(e.name)) return true;

    if (m_ws.ignoreNextWatchEvent && alreadyInList(e)) {
        // The program's own change; a rename's old and new name go together. A change the list does
        // not show yet was made by someone else before it, still unread: it is applied, and the
        // mark waits for the program's own notification.
        m_ws.ignoreNextWatchEvent = false;
        return true;
    }
    if (e.kind == FolderEvent::Renamed) {
        const bool oldVtd = hasVtdExtension(e.oldName), newVtd = hasVtdExtension(e.name);
        if (!oldVtd && !newVtd) return true;
        if (oldVtd && !newVtd) e = {FolderEvent::Removed, e.oldName, QString()};
        else if (!oldVtd) e = {FolderEvent::Added, e.name, QString()};
    } else if (!hasVtdExtension(e.name)) {
        return true;
    }

    const QString label = activeFolderLabel();
    if (e.kind == FolderEvent::Added) {
        m_ws.log.append(QStringLiteral("File ") + e.name + QStringLiteral(" added in folder: ") + label);
        QTimer::singleShot(kAddedWaitMs, this, [this, name = e.name] { finishAdded(name); });
        return false;
    }

    int remembered = m_ws.readers.current();
    bool gone = false;
    m_handlerAttached = false;
    m_ws.readers.disableControls();
    QString error;
    if (e.kind == FolderEvent::Removed) {
        m_ws.log.append(QStringLiteral("File ") + e.name + QStringLiteral(" removed in folder: ") + label);
        const int r = m_ws.readers.findFile(e.name);
        if (r >= 0) deleteRow(r, remembered, gone);
    } else {
        m_oldWatchName = e.oldName;
        m_ws.log.append(QStringLiteral("File ") + m_oldWatchName + QStringLiteral(" renamed to ") + e.name +
                        QStringLiteral(" in folder: ") + label);
        int rowOld = m_ws.readers.findFile(m_oldWatchName);
        const int rowNew = m_ws.readers.findFile(e.name);
        if (rowOld >= 0) {
            // Moved onto a listed file: that file's row is gone, the moved one carries on.
            if (rowNew >= 0 && rowNew != rowOld) {
                deleteRow(rowNew, remembered, gone);
                rowOld = m_ws.readers.findFile(m_oldWatchName);
            }
            m_ws.readers.setValue(rowOld, ReaderField::VtdFileN, e.name);
            if (rowOld == remembered && !gone) {
                m_selectedFile = e.name;
                m_ws.setReaderFileName(e.name);
            }
        } else {
            const ReaderRowResult rr = readReaderRow(m_ws.activeFolderPath(), e.name);
            if (!rr.ok)
                error = QStringLiteral("Cannot read the data file %1").arg(rr.error);
            else if (rowNew < 0)
                appendReaderRow(m_ws.readers, rr.row);
            else
                replaceRow(rowNew, rr.row, remembered);
        }
    }
    m_ws.log.append(QStringLiteral("KDR data table updated"));
    m_ws.readers.enableControls();
    m_handlerAttached = true;
    restoreSelection(remembered, gone);
    emitMainFileButtons();
    if (!error.isEmpty() && m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, error);
    return true;
}

void ReaderStore::finishAdded(const QString &name)
{
    if (m_ws.loadingFiles) {
        // A pass started meanwhile: its listing holds the file.
        m_watchBusy = false;
        return;
    }
    QString error;
    const int remembered = m_ws.readers.current();
    const ReaderRowResult rr = readReaderRow(m_ws.activeFolderPath(), name);
    if (rr.ok) {
        m_handlerAttached = false;
        m_ws.readers.disableControls();
        // A listed name: the file was moved or renamed onto it, or a pass listed it meanwhile.
        if (const int listed = m_ws.readers.findFile(name); listed >= 0)
            replaceRow(listed, rr.row, remembered);
        else
            appendReaderRow(m_ws.readers, rr.row);
        m_ws.readers.enableControls();
        m_handlerAttached = true;
    } else if (QFile::exists(m_ws.activeFolderPath() + name)) {
        error = QStringLiteral("Cannot read the added data file %1").arg(rr.error);
    }
    m_ws.log.append(QStringLiteral("KDR data table updated"));
    restoreSelection(remembered, false);
    emitMainFileButtons();
    m_watchBusy = false;
    emit watchEventHandled();
    if (!error.isEmpty() && m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, error);
    processPending();
}

bool ReaderStore::alreadyInList(const FolderEvent &e) const
{
    const ReaderList &rl = m_ws.readers;
    switch (e.kind) {
    case FolderEvent::Added: return rl.findFile(e.name) >= 0;
    case FolderEvent::Removed: return rl.findFile(e.name) < 0;
    case FolderEvent::Renamed: return rl.findFile(e.oldName) < 0 && rl.findFile(e.name) >= 0;
    case FolderEvent::Overflow: break;
    }
    return false;
}

void ReaderStore::replaceRow(int row, const ReaderRowData &data, int remembered)
{
    // Another file now has this name: the row shows it, and the selected reader's card table is
    // loaded again, or its next save would write the old cards over the new file.
    for (int f = 0; f < ReaderField::Version_calc; ++f) m_ws.readers.setValue(row, f, data.values.value(f));
    if (row == remembered && row == m_selectedRow) m_selectedRow = -1;
}

void ReaderStore::rescan()
{
    // Notifications were lost: compare the list with the folder. Whatever the program's own change
    // was, the comparison covers it.
    m_ws.ignoreNextWatchEvent = false;
    const QStringList disk = listVtdFiles(m_ws.activeFolderPath());
    const QString label = activeFolderLabel();
    int remembered = m_ws.readers.current();
    bool gone = false;
    m_handlerAttached = false;
    m_ws.readers.disableControls();
    for (int r = m_ws.readers.recordCount() - 1; r >= 0; --r) {
        const QString name = m_ws.readers.storedValue(r, ReaderField::VtdFileN).toText();
        if (hasVtdExtension(name) && !disk.contains(name)) {
            m_ws.log.append(QStringLiteral("File ") + name + QStringLiteral(" removed in folder: ") + label);
            deleteRow(r, remembered, gone);
        }
    }
    for (const QString &name : disk) {
        if (!hasVtdExtension(name) || m_ws.readers.findFile(name) >= 0) continue;
        const ReaderRowResult rr = readReaderRow(m_ws.activeFolderPath(), name);
        if (!rr.ok) continue;
        m_ws.log.append(QStringLiteral("File ") + name + QStringLiteral(" added in folder: ") + label);
        appendReaderRow(m_ws.readers, rr.row);
    }
    m_ws.log.append(QStringLiteral("KDR data table updated"));
    m_ws.readers.enableControls();
    m_handlerAttached = true;
    restoreSelection(remembered, gone);
    emitMainFileButtons();
}

void ReaderStore::deleteRow(int row, int &remembered, bool &rememberedGone)
{
    m_ws.readers.removeRecord(row);
    if (row < remembered)
        --remembered;
    else if (row == remembered)
        rememberedGone = true; // the row after it takes its place
}

void ReaderStore::restoreSelection(int remembered, bool rememberedGone)
{
    const int count = m_ws.readers.recordCount();
    if (count == 0) {
        readerAfterScroll(-1);
        return;
    }
    const int target = nearestVisibleRow(remembered < 0 ? 0 : std::min(remembered, count - 1));
    if (target < 0) return;
    const bool sameReader = !rememberedGone && remembered >= 0 && target == remembered && m_selectedRow >= 0 &&
                            m_ws.readers.storedValue(target, ReaderField::VtdFileN).toText() == m_selectedFile;
    if (sameReader) {
        // The selected reader is unchanged: its card table (and any unsaved read column) stays.
        m_handlerAttached = false;
        m_ws.readers.setCurrent(target);
        m_handlerAttached = true;
        m_selectedRow = target;
        return;
    }
    selectReader(target);
}

// ---------------------------------------------------------------- search

bool ReaderStore::searchReaders(int fieldIndex, const QString &text)
{
    const auto &fields = readerSearchFields();
    if (m_ws.loadingFiles || fieldIndex < 0 || fieldIndex >= fields.size()) return false;
    const SearchOutcome out = invokeSearch(m_ws.readers, fields[fieldIndex], text);
    if (!out.error.isEmpty()) {
        if (m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, out.error);
        return false;
    }
    if (out.record < 0) return false;
    if (out.record != m_selectedRow) selectReader(out.record);
    return true;
}

bool ReaderStore::searchCards(int fieldIndex, const QString &text)
{
    const auto &fields = cardSearchFields();
    if (m_ws.loadingFiles || fieldIndex < 0 || fieldIndex >= fields.size()) return false;
    const SearchOutcome out = invokeSearch(m_ws.cards, fields[fieldIndex], text);
    if (!out.error.isEmpty()) {
        if (m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, out.error);
        return false;
    }
    if (out.record < 0) return false;
    m_ws.cards.setCurrent(out.record);
    return true;
}

void ReaderStore::setCompareCards(bool on)
{
    m_compare = on;
    emit compareCardsChanged(on);
}

} // namespace kdr
