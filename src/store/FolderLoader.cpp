#include "store/FolderLoader.h"

#include "store/Log.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace kdr {

FolderLoader::FolderLoader(const QString &folder, QObject *parent) : QThread(parent), m_folder(folder)
{
    qRegisterMetaType<kdr::ReaderRowData>();
}

FolderLoader::FolderLoader(const QString &folder, const QStringList &names, QObject *parent)
    : FolderLoader(folder, parent)
{
    m_names = names;
}

void FolderLoader::run()
{
    const qint64 tid = qint64(::gettid());
    m_tid.storeRelease(tid);
    const QString tag = Log::threadTag(tid);
    emit logLine(QStringLiteral("> Loading files.") + tag);

    const QStringList names = m_names ? *m_names : listVtdFiles(m_folder);
    emit filesFound(int(names.size()));

    CardTable cards;
    ReaderList list;
    int done = 0;
    for (const QString &name : names) {
        if (isInterruptionRequested()) break;
        const ReaderRowResult r = readReaderRow(m_folder, name, cards, list);
        if (!r.ok && !QFileInfo::exists(QDir(m_folder).filePath(name))) {
            // Removed or renamed since the listing: the folder watch reports that; the pass goes on.
            emit rowSkipped(++done);
            continue;
        }
        if (!r.ok) {
            // A damaged file ends the pass here; the files before it keep their rows.
            emit logLine(QStringLiteral("> Cannot read %1").arg(r.error) + tag);
            emit fileFailed(name, r.error);
            break;
        }
        emit rowReady(r.row, ++done);
    }
    emit passDone(tid);
}

} // namespace kdr
