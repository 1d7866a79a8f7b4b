// Reader file commands: create, rename and remove data files, change a reader's serial number and
// note. Nothing outside the active folder is created, renamed or moved.
#include "store/ReaderStore.h"

#include "store/AtomicFile.h"
#include "store/Search.h"
#include "store/TableRoutines.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kdr {

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
    // The reader list keeps the name in a field of fixed width: a longer name would be cut there and
    // the row would name another file, to which the next save would write.
    const int width = m_ws.readers.fields()[ReaderField::VtdFileN].size;
    const qsizetype full = name.size() + (hasVtdExtension(name) ? 0 : 4);
    if (full > width) return why.arg(QStringLiteral("a file name can have at most %1 characters with \".vtd\".").arg(width));
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

    // Replacing a reader's file keeps its card list: a copy goes into its inactive folder first.
    if (QFileInfo::exists(full)) {
        const QString err = m_ws.copyToInactiveFolder(name);
        if (!err.isEmpty()) {
            if (p) p->message(DlgType::Error, QStringLiteral("%1 is not replaced: no backup copy could be made (%2).").arg(name, err));
            return false;
        }
    }

    const int previous = m_selectedRow;
    int row = m_ws.readers.findFile(name); // replacing a listed file keeps its one row
    const bool appended = row < 0;
    m_handlerAttached = false;
    if (appended) row = m_ws.readers.appendRecord();
    QList<Value> oldValues; // a replace that fails leaves the file, so its row stays as it was
    for (int f = 0; f < ReaderField::Version_calc; ++f) oldValues.append(m_ws.readers.storedValue(row, f));
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
        if (appended)
            m_ws.readers.removeRecord(row);
        else
            for (int f = 0; f < ReaderField::Version_calc; ++f) m_ws.readers.setValue(row, f, oldValues[f]);
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

    m_ws.cards.clear(); // closed while its file moves
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
    const QString base = QFileInfo(name).completeBaseName();
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
    if (!r.ok) m_ws.cards.clear();
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
    const QString target = m_ws.backupPathFor(base);
    m_ws.cards.clear();
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

} // namespace kdr
