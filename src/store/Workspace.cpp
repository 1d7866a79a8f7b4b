#include "store/Workspace.h"

#include "store/AtomicFile.h"
#include "store/VtdFile.h"

#include <QDateTime>
#include <QFile>

#include <QDir>
#include <QFileInfo>

namespace kdr {

Workspace::Workspace(const QString &programPath, QObject *parent)
    : QObject(parent), m_programPath(QFileInfo(programPath).absoluteFilePath())
{
    setActiveSubfolder(QString());
}

QString Workspace::programFolder() const { return QFileInfo(m_programPath).absolutePath() + QLatin1Char('/'); }

void Workspace::setActiveSubfolder(const QString &sub)
{
    QString s = sub;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (s.endsWith(QLatin1Char('/'))) s.chop(1);
    m_activeSubfolder = s;
    m_activeFolderPath = programFolder() + (s.isEmpty() ? QString() : s + QLatin1Char('/'));
}

void Workspace::setReaderFileName(const QString &fileName)
{
    m_fileName = fileName;
    m_baseName = fileName.isEmpty() ? QString() : QFileInfo(fileName).completeBaseName();
}

QString Workspace::readerFilePath() const
{
    return m_fileName.isEmpty() ? QString() : m_activeFolderPath + m_fileName;
}

QString Workspace::inactiveFolder() const
{
    return m_baseName.isEmpty() ? QString() : m_activeFolderPath + m_baseName;
}

bool Workspace::hasRestorableBackups() const
{
    const QString dir = inactiveFolder();
    if (dir.isEmpty()) return false;
    const QDir d(dir);
    return d.exists() && !d.entryList({QStringLiteral("*.vtd")}, QDir::Files).isEmpty();
}

QString Workspace::backupPathFor(const QString &baseName) const
{
    return m_activeFolderPath + baseName + QLatin1Char('/') + baseName + QLatin1Char('_') +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".vtd");
}

QString Workspace::copyToInactiveFolder(const QString &fileName, QString *backupPath) const
{
    const QString base = QFileInfo(fileName).completeBaseName();
    const QString target = backupPathFor(base);
    if (!QDir().mkpath(m_activeFolderPath + base)) return QStringLiteral("Cannot create the inactive folder %1").arg(m_activeFolderPath + base);
    if (QFileInfo::exists(target)) return QStringLiteral("%1 already exists.").arg(target);
    QFile src(m_activeFolderPath + fileName);
    if (!src.open(QIODevice::ReadOnly)) return QStringLiteral("Cannot read %1: %2").arg(src.fileName(), src.errorString());
    const QString err = writeFileAtomically(target, src.readAll());
    if (!err.isEmpty()) return err;
    if (backupPath) *backupPath = target;
    return QString();
}

bool Workspace::selectedReaderOnline() const
{
    const int r = selectedReaderRow();
    return r >= 0 && readers.storedValue(r, ReaderField::Status).toText() == kStatusOnline;
}

bool Workspace::saveCards()
{
    const QString path = readerFilePath();
    if (path.isEmpty()) return false;
    // An empty table means the reader's file could not be loaded: never write it over the file.
    if (cards.recordCount() == 0) return false;
    const QString err = SaveTableToFile(cards, path);
    if (err.isEmpty()) return true;
    if (m_prompter) m_prompter->message(DlgType::Error, err);
    log.append(QStringLiteral("> ") + err);
    return false;
}

bool Workspace::CreateNewTable(const QString &fileName)
{
    cards.resetToSlots(kSlots2000);
    const QString err = SaveTableToFile(cards, fileName);
    setReaderFileName(QFileInfo(fileName).fileName());
    emit buttonStateChanged();
    if (!err.isEmpty()) {
        if (m_prompter) m_prompter->message(DlgType::Error, err);
        return false;
    }
    return true;
}

void Workspace::CheckAndAppendTable()
{
    if (cards.recordCount() != kSlots2000) return;
    cards.disableControls();
    cards.growToSlots(kSlots4000);
    cards.setCurrent(0);
    const int row = selectedReaderRow();
    if (row >= 0) {
        const QString path = m_activeFolderPath + readers.storedValue(row, ReaderField::VtdFileN).toText();
        const QString err = SaveTableToFile(cards, path);
        if (!err.isEmpty()) log.append(QStringLiteral("> ") + err);
    }
    log.append(QStringLiteral("> Applied 4000 possible cards."));
    cards.enableControls();
}

void Workspace::SaveChangeParamToTable()
{
    if (cards.recordCount() == 0) return;
    TableWalk walk(cards);
    cards.setCurrent(0);
    const int row = selectedReaderRow();
    const bool changed = row >= 0 && readers.storedValue(row, ReaderField::ChangeParam).toBool();
    cards.setValue(0, CardField::IsParamChanged, Value(changed));
    saveCards();
}

} // namespace kdr
