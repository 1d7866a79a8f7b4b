#pragma once
// The background load of the active folder: lists the data files and builds one reader list row
// per file. It never touches the shared tables; rows, log lines and progress go to the user-interface
// thread through queued signals, in order, followed by passDone().
#include "store/ReaderRows.h"

#include <QThread>
#include <optional>

namespace kdr {

class FolderLoader : public QThread {
    Q_OBJECT
public:
    explicit FolderLoader(const QString &folder, QObject *parent = nullptr);
    // A pass over a listing made earlier (the folder may have changed since).
    FolderLoader(const QString &folder, const QStringList &names, QObject *parent = nullptr);
    // The loader thread's identifier as logged ("[th%d]"); 0 before the thread runs.
    qint64 threadIdentifier() const { return m_tid.loadAcquire(); }

signals:
    void logLine(const QString &line);
    void filesFound(int count);
    void rowReady(const kdr::ReaderRowData &row, int filesDone);
    // A listed file was gone by the time it was read.
    void rowSkipped(int filesDone);
    // The pass stopped at an unreadable file; the rows before it were delivered.
    void fileFailed(const QString &name, const QString &error);
    void passDone(qint64 threadId);

protected:
    void run() override;

private:
    QString m_folder;
    std::optional<QStringList> m_names;
    QAtomicInteger<qint64> m_tid;
};

} // namespace kdr
