#include "store/ReaderStore.h"

#include "store/FolderLoader.h"
#include "store/Search.h"
#include "store/SettingsActions.h"
#include "store/TableRoutines.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace kdr {

namespace {
constexpr int kAddedWaitMs = 500; // lets the writer of an added file finish

// The temporary file of an atomic save: "." + target + "." + six characters, in the same folder.
bool isTempName(const QString &n) { return n.size() >= 9 && n.startsWith(QLatin1Char('.')) && n.at(n.size() - 7) == QLatin1Char('.'); }
bool isAtomicTempFor(const QString &tmp, const QString &target)
{
    return tmp.size() == target.size() + 8 && tmp.startsWith(QLatin1Char('.') + target + QLatin1Char('.'));
}
QString baseNameOf(const QString &fileName) { return QFileInfo(fileName).completeBaseName(); }

// Freezes a table's display and keeps the card table's "closed" look for a moment.
void clearTable(Table &t)
{
    t.disableControls();
    t.clear();
    t.enableControls();
}
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
            clearTable(m_ws.cards); // no half table: nothing of it may be saved back
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
    clearTable(m_ws.cards);
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
    if ((e.kind == FolderEvent::Added || e.kind == FolderEvent::Removed) && isTempName(e.name)) return true;

    if (m_ws.ignoreNextWatchEvent) {
        // The program's own change; a rename's old and new name go together.
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
        } else if (rowNew < 0) {
            const ReaderRowResult rr = readReaderRow(m_ws.activeFolderPath(), e.name);
            if (rr.ok)
                appendReaderRow(m_ws.readers, rr.row);
            else
                error = QStringLiteral("Cannot read the data file %1").arg(rr.error);
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
    if (m_ws.readers.findFile(name) < 0) { // a pass may have listed it meanwhile
        const ReaderRowResult rr = readReaderRow(m_ws.activeFolderPath(), name);
        if (rr.ok) {
            m_handlerAttached = false;
            m_ws.readers.disableControls();
            appendReaderRow(m_ws.readers, rr.row);
            m_ws.readers.enableControls();
            m_handlerAttached = true;
        } else if (QFile::exists(m_ws.activeFolderPath() + name)) {
            error = QStringLiteral("Cannot read the added data file %1").arg(rr.error);
        }
    }
    m_ws.log.append(QStringLiteral("KDR data table updated"));
    restoreSelection(remembered, false);
    emitMainFileButtons();
    m_watchBusy = false;
    emit watchEventHandled();
    if (!error.isEmpty() && m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, error);
    processPending();
}

void ReaderStore::rescan()
{
    // Notifications were lost: compare the list with the folder.
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

// ---------------------------------------------------------------- reader file management

QString ReaderStore::checkNewName(const QString &name) const
{
    const QString why = QStringLiteral("Invalid file name \"%1\": %2").arg(name);
    if (name.trimmed().isEmpty()) return QStringLiteral("The file name is empty!");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return why.arg(QStringLiteral("a file name must not contain a path separator."));
    if (name.contains(QLatin1String(".."))) return why.arg(QStringLiteral("a file name must not contain \"..\"."));
    if (name.startsWith(QLatin1Char('.'))) return why.arg(QStringLiteral("a file name must not start with a dot."));
    for (const QChar c : name)
        if (c.unicode() < 0x20) return why.arg(QStringLiteral("a file name must not contain control characters."));
    return QString();
}

QString ReaderStore::selectedFileName() const
{
    if (m_selectedRow < 0 || m_selectedRow >= m_ws.readers.recordCount()) return QString();
    return m_ws.readers.storedValue(m_selectedRow, ReaderField::VtdFileN).toText();
}

void ReaderStore::reloadSelected()
{
    if (m_selectedRow >= 0 && m_selectedRow < m_ws.readers.recordCount()) {
        const int row = m_selectedRow;
        m_selectedRow = -1;
        selectReader(row);
    }
}

void ReaderStore::createFile()
{
    if (m_ws.loadingFiles || !m_ws.prompter()) return;
    FileDialogRequest req;
    req.title = QStringLiteral("Input new file name");
    req.folder = m_ws.activeFolderPath();
    req.filters = {QStringLiteral("VTD File (*.vtd)")};
    const FileDialogResult res = m_ws.prompter()->saveFile(req);
    if (res.path.isEmpty()) return;
    createFileAt(res.path);
}

bool ReaderStore::createFileAt(const QString &path)
{
    if (m_ws.loadingFiles) return false;
    Prompter *p = m_ws.prompter();
    const QString folder = m_ws.activeFolderPath();
    QString name = path;
    if (path.contains(QLatin1Char('/'))) {
        // The command is for the active folder: a file elsewhere would be listed by name only.
        const QFileInfo fi(path);
        const QString dir = QDir::cleanPath(fi.absolutePath());
        const QString active = QDir::cleanPath(folder);
        const bool same = dir == active || (!QDir(dir).canonicalPath().isEmpty() && QDir(dir).canonicalPath() == QDir(active).canonicalPath());
        if (!same) {
            if (p) p->message(DlgType::Error, QStringLiteral("New data files can be created in the active folder only (%1).").arg(folder));
            return false;
        }
        name = fi.fileName();
    }
    const QString bad = checkNewName(name);
    if (!bad.isEmpty()) {
        if (p) p->message(DlgType::Error, bad);
        return false;
    }
    bool extended = false;
    if (!hasVtdExtension(name)) {
        name += QStringLiteral(".vtd");
        extended = true;
    }
    const QString full = folder + name;
    // The dialog asked about the name it returned; a name we extended is asked about here.
    if (extended && QFileInfo::exists(full) && p &&
        p->message(DlgType::Confirmation, QStringLiteral("%1 already exists.\r\nDo you want to replace it?").arg(name),
                   {Btn::Yes, Btn::No}) != Btn::Yes)
        return false;

    const int previous = m_selectedRow;
    int row = m_ws.readers.findFile(name); // replacing a listed file keeps its one row
    const bool appended = row < 0;
    m_handlerAttached = false;
    if (appended) row = m_ws.readers.appendRecord();
    for (int f = 0; f < ReaderField::Version_calc; ++f) m_ws.readers.setValue(row, f, Value());
    m_ws.readers.setValue(row, ReaderField::VtdFileN, name);
    m_ws.readers.setValue(row, ReaderField::KDRSerial, Value(qint32(0)));
    m_ws.readers.setValue(row, ReaderField::Status, kStatusOffline);
    m_ws.readers.setValue(row, ReaderField::ASAdr, Value(qint32(0)));
    m_ws.readers.setValue(row, ReaderField::RelayT, Value(qint32(6)));
    m_ws.readers.setValue(row, ReaderField::REX, Value(qint32(0)));
    m_handlerAttached = true;

    m_ws.ignoreNextWatchEvent = true;
    if (!m_ws.CreateNewTable(full)) { // it has shown the error
        m_ws.ignoreNextWatchEvent = false;
        m_handlerAttached = false;
        if (appended) m_ws.readers.removeRecord(row);
        m_handlerAttached = true;
        m_selectedRow = -1;
        if (previous >= 0 && previous < m_ws.readers.recordCount())
            selectReader(previous);
        else
            restoreSelection(-1, true);
        return false;
    }
    // The new reader's values go into its reader values record, as a parameter save would.
    CardTable &c = m_ws.cards;
    c.setValue(0, CardField::KDRSerial, Value(qint32(0)));
    c.setValue(0, CardField::ASAdr, Value(qint32(0)));
    c.setValue(0, CardField::RelayT, Value(qint32(6)));
    c.setValue(0, CardField::REX, Value(qint32(0)));
    for (int f : {int(CardField::FreeProt1), int(CardField::FreeProt2), int(CardField::FreeProt3), int(CardField::FreeProt4),
                  int(CardField::MasterCard)})
        c.setValue(0, f, Value(QString()));
    c.setValue(0, CardField::FuncKDR_RcvOpenDoor, Value(false));
    c.setValue(0, CardField::DevMode, Value(qint32(0)));
    c.setValue(0, CardField::DevMode_MSB, Value(qint32(0)));
    c.setValue(0, CardField::IsStandalone, Value(qint32(0)));
    c.setValue(0, CardField::IsParamChanged, Value(false));
    m_ws.readers.setValue(row, ReaderField::ChangeParam, Value(false));
    m_handlerAttached = false;
    m_ws.readers.setCurrent(row);
    m_handlerAttached = true;
    m_selectedRow = row;
    m_selectedFile = name;
    saveSelected();
    m_selectedRow = -1;
    selectReader(row); // the new file is the selected reader
    emitMainFileButtons();
    return true;
}

bool ReaderStore::renameFile(const QString &newName, bool changeSerialAlso)
{
    if (m_ws.loadingFiles || m_selectedRow < 0) return false;
    Prompter *p = m_ws.prompter();
    const QString bad = checkNewName(newName);
    if (!bad.isEmpty()) {
        if (p) p->message(DlgType::Error, bad);
        return false;
    }
    QString name = newName;
    if (!hasVtdExtension(name)) name += QStringLiteral(".vtd");
    const QString folder = m_ws.activeFolderPath();
    const QString oldName = selectedFileName();
    const QString from = folder + oldName, to = folder + name;

    clearTable(m_ws.cards); // closed while its file moves
    m_ws.ignoreNextWatchEvent = true;
    QString failure;
    if (QFileInfo::exists(to) || m_ws.readers.findFile(name) >= 0) {
        failure = QStringLiteral("a file of that name exists.");
    } else {
        QFile f(from);
        if (!f.rename(to)) failure = f.errorString();
    }
    if (!failure.isEmpty()) {
        m_ws.ignoreNextWatchEvent = false;
        if (p) p->message(DlgType::Error, QStringLiteral("Cannot rename %1 to %2: %3").arg(oldName, name, failure));
        reloadSelected(); // the file is unchanged: show it again
        return false;
    }
    const QString base = baseNameOf(name);
    m_ws.setReaderFileName(name);
    const VtdReadResult r = readVtdFile(to, m_ws.cards);
    m_ws.readers.setValue(m_selectedRow, ReaderField::VtdFileN, name);
    m_selectedFile = name;
    if (changeSerialAlso) {
        bool ok = false;
        const qint32 serial = base.toInt(&ok);
        // The file keeps its serial until the next parameter read or save.
        if (ok && serial >= 0) m_ws.readers.setValue(m_selectedRow, ReaderField::KDRSerial, Value(serial));
    }
    if (!r.ok) clearTable(m_ws.cards);
    UpdateLastSavedCardID();
    emit m_ws.buttonStateChanged();
    if (!r.ok && p) p->message(DlgType::Error, QStringLiteral("Cannot load the data file %1:\n%2").arg(name, r.error));
    return true;
}

bool ReaderStore::removeFile()
{
    if (m_ws.loadingFiles || m_selectedRow < 0) return false;
    Prompter *p = m_ws.prompter();
    const QString base = m_ws.readerBaseName();
    const QString fileName = selectedFileName();
    if (!checkNewName(base).isEmpty() || fileName.isEmpty()) {
        // The inactive folder is named after the file: such a name would lead out of the active folder.
        if (p) p->message(DlgType::Error, QStringLiteral("The file %1 cannot be moved to an inactive folder; rename it first.").arg(fileName));
        return false;
    }
    if (!p || p->message(DlgType::Warning, QStringLiteral("Remove file: ") + base + QStringLiteral(".vtd to inactive folder?"),
                         {Btn::Ok, Btn::Cancel}) != Btn::Ok)
        return false;
    const QString folder = m_ws.activeFolderPath();
    const QString inactive = folder + base;
    if (!QDir().mkpath(inactive)) {
        p->message(DlgType::Error, QStringLiteral("Cannot create the inactive folder %1").arg(inactive));
        return false;
    }
    const QString target = inactive + QLatin1Char('/') + base + QLatin1Char('_') +
                           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".vtd");
    clearTable(m_ws.cards);
    m_ws.ignoreNextWatchEvent = true;
    QString failure;
    if (QFileInfo::exists(target)) {
        failure = QStringLiteral("%1 already exists.").arg(target);
    } else {
        QFile f(folder + fileName);
        if (!f.rename(target)) failure = f.errorString();
    }
    if (!failure.isEmpty()) {
        m_ws.ignoreNextWatchEvent = false;
        p->message(DlgType::Error, QStringLiteral("Cannot move %1 to the inactive folder: %2").arg(fileName, failure));
        reloadSelected();
        return false;
    }
    const int row = m_selectedRow;
    m_handlerAttached = false;
    m_ws.readers.removeRecord(row);
    m_handlerAttached = true;
    m_selectedRow = -1;
    m_selectedFile.clear();
    m_ws.setReaderBaseName(QString()); // nothing is saved under the removed name any more
    restoreSelection(row, true);
    emitMainFileButtons();
    p->message(DlgType::Information, QStringLiteral("File: ") + base + QStringLiteral(".vtd is removed to inactive folder"), {Btn::Ok});
    return true;
}

bool ReaderStore::canEditReader() const
{
    return !m_ws.loadingFiles && m_selectedRow >= 0 && m_ws.cards.recordCount() > 0 && !m_ws.readerBaseName().isEmpty();
}

bool ReaderStore::changeSerial(const QString &text)
{
    if (!canEditReader()) return false;
    Prompter *p = m_ws.prompter();
    const QString t = text.trimmed();
    bool digits = !t.isEmpty() && t.size() <= 6;
    for (const QChar c : t) digits = digits && c.isDigit() && c.unicode() < 128;
    if (!digits) {
        if (p) p->message(DlgType::Error, t.isEmpty() ? QStringLiteral("Enter the new serial number!")
                                                      : QStringLiteral("\"%1\" is not a serial number (up to 6 digits)!").arg(text));
        return false;
    }
    const qint32 serial = t.toInt();
    ReaderList &rl = m_ws.readers;
    const qint32 oldSerial = rl.storedValue(m_selectedRow, ReaderField::KDRSerial).toInt();
    bool exists = false; // over all rows, whatever the online filter shows
    for (int r = 0; r < rl.recordCount(); ++r) {
        const Value v = rl.storedValue(r, ReaderField::KDRSerial);
        if (!v.isNull() && v.toInt() == serial) exists = true;
    }
    QString question = QStringLiteral("Are you sure to change KDR serial number?");
    if (exists) question += QStringLiteral("\r\nThis serial number already exists!?");
    if (rl.isFiltered()) question += QStringLiteral("\r\nKDR will be set to offline!");
    if (!p || p->message(DlgType::Warning, question, {Btn::Ok, Btn::Cancel}) != Btn::Ok) return false;
    if (rl.isFiltered()) {
        for (int r = 0; r < rl.recordCount(); ++r)
            if (rl.storedValue(r, ReaderField::KDRSerial).toInt() == oldSerial) {
                rl.setValue(r, ReaderField::Status, kStatusOffline);
                break;
            }
    }
    rl.setValue(m_selectedRow, ReaderField::KDRSerial, Value(serial));
    {
        TableWalk walk(m_ws.cards);
        m_ws.cards.setValue(0, CardField::KDRSerial, Value(serial));
    }
    saveSelected();
    m_ws.log.append(QStringLiteral("> New KDR serial number: %1").arg(serial));
    return true;
}

QString ReaderStore::noteForEditing() const
{
    if (m_selectedRow < 0) return QString();
    const QString note = m_ws.readers.storedValue(m_selectedRow, ReaderField::Note).toText();
    return note == kNotePlaceholder ? QString() : note;
}

bool ReaderStore::changeNote(const QString &note)
{
    if (!canEditReader()) return false;
    const QString n = note.left(255);
    m_ws.readers.setValue(m_selectedRow, ReaderField::Note, n.isEmpty() ? kNotePlaceholder : n);
    {
        TableWalk walk(m_ws.cards);
        m_ws.cards.setValue(0, CardField::Note, Value(n));
    }
    return saveSelected();
}

bool ReaderStore::saveSelected()
{
    // The file the table was loaded from, whatever the letter case of its extension.
    const QString name = selectedFileName();
    if (name.isEmpty() || m_ws.cards.recordCount() == 0) return false;
    const QString err = SaveTableToFile(m_ws.cards, m_ws.activeFolderPath() + name);
    if (err.isEmpty()) return true;
    m_ws.log.append(QStringLiteral("> ") + err);
    if (m_ws.prompter()) m_ws.prompter()->message(DlgType::Error, err);
    return false;
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
