#pragma once
// Watches one folder (not its subfolders) for file names appearing, disappearing and being renamed,
// on inotify. A rename inside the folder comes as one Renamed event (old and new name); a file moved
// out of the folder is a removal, one moved in an addition. Directories are not reported, nor are
// changes of a file's content. Events are delivered on the thread that owns the watch.
#include <QElapsedTimer>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace kdr {

struct FolderEvent {
    enum Kind { Added, Removed, Renamed, Overflow };
    Kind kind = Added;
    QString name;    // Added, Removed: the file; Renamed: the new name
    QString oldName; // Renamed: the name before
};

class FolderWatch : public QObject {
    Q_OBJECT
public:
    explicit FolderWatch(QObject *parent = nullptr);
    ~FolderWatch() override;

    // Starts watching `folder`; a running watch moves to the new folder. Returns the reason in plain
    // words when the folder cannot be watched (the watch is then stopped), empty on success.
    QString start(const QString &folder);
    void stop();
    bool isRunning() const { return m_wd >= 0; }
    QString folder() const { return m_folder; }

    // How long a moved-away name waits for its new name before it counts as removed.
    static constexpr int kPairWindowMs = 50;

signals:
    void event(const kdr::FolderEvent &e);

private:
    struct Raw {
        quint32 mask;
        quint32 cookie;
        QString name;
        qint64 at; // ms on m_clock
    };
    void readEvents();
    void dispatch();

    int m_fd = -1;
    int m_wd = -1;
    QString m_folder;
    QSocketNotifier *m_notifier = nullptr;
    QList<Raw> m_raw;
    QTimer m_pairTimer;
    bool m_dispatching = false;
    QElapsedTimer m_clock;
};

} // namespace kdr

Q_DECLARE_METATYPE(kdr::FolderEvent)
