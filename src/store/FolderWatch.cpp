#include "store/FolderWatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace kdr {

namespace {
constexpr quint32 kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR | IN_EXCL_UNLINK;
}

FolderWatch::FolderWatch(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<kdr::FolderEvent>();
    m_pairTimer.setSingleShot(true);
    connect(&m_pairTimer, &QTimer::timeout, this, &FolderWatch::dispatch);
    m_clock.start();
}

FolderWatch::~FolderWatch() { stop(); }

QString FolderWatch::start(const QString &folder)
{
    QString f = folder;
    while (f.size() > 1 && f.endsWith(QLatin1Char('/'))) f.chop(1);
    if (isRunning() && f == m_folder) return QString();
    stop();
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) return QStringLiteral("Cannot watch folder \"%1\": %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    m_wd = ::inotify_add_watch(m_fd, QFile::encodeName(f).constData(), kMask);
    if (m_wd < 0) {
        const int e = errno;
        ::close(m_fd);
        m_fd = -1;
        return QStringLiteral("Cannot watch folder \"%1\": %2").arg(folder, QString::fromLocal8Bit(std::strerror(e)));
    }
    m_folder = f;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatch::readEvents);
    return QString();
}

void FolderWatch::stop()
{
    m_pairTimer.stop();
    m_raw.clear();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0) ::close(m_fd); // also removes the watch
    m_fd = -1;
    m_wd = -1;
    m_folder.clear();
}

void FolderWatch::readEvents()
{
    alignas(struct inotify_event) char buf[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // EAGAIN: drained
        const qint64 now = m_clock.elapsed();
        for (ssize_t off = 0; off + ssize_t(sizeof(struct inotify_event)) <= n;) {
            const auto *ev = reinterpret_cast<const struct inotify_event *>(buf + off);
            off += ssize_t(sizeof(struct inotify_event)) + ev->len;
            if (ev->mask & IN_Q_OVERFLOW) {
                m_raw.append({IN_Q_OVERFLOW, 0, QString(), now});
                continue;
            }
            if (ev->mask & (IN_ISDIR | IN_IGNORED)) continue;
            if (!(ev->mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO))) continue; // content only
            if (ev->len == 0) continue;
            m_raw.append({ev->mask, ev->cookie, QFile::decodeName(QByteArray(ev->name)), now});
        }
    }
    dispatch();
}

void FolderWatch::dispatch()
{
    // Events go out in kernel order. A moved-away name holds the queue until its new name arrives
    // or the pairing window has passed. A receiver that spins an event loop must not re-enter.
    if (m_dispatching) return;
    m_dispatching = true;
    struct Done { bool &f; ~Done() { f = false; } } done{m_dispatching};
    while (!m_raw.isEmpty()) {
        const Raw head = m_raw.first();
        if (head.mask & IN_Q_OVERFLOW) {
            m_raw.removeFirst();
            emit event({FolderEvent::Overflow, QString(), QString()});
            continue;
        }
        if (head.mask & IN_MOVED_FROM) {
            int pair = -1;
            for (int i = 1; i < m_raw.size(); ++i)
                if ((m_raw[i].mask & IN_MOVED_TO) && m_raw[i].cookie == head.cookie) {
                    pair = i;
                    break;
                }
            if (pair > 0) {
                const QString newName = m_raw[pair].name;
                m_raw.removeAt(pair);
                m_raw.removeFirst();
                emit event({FolderEvent::Renamed, newName, head.name});
                continue;
            }
            const qint64 waited = m_clock.elapsed() - head.at;
            if (waited < kPairWindowMs) {
                m_pairTimer.start(int(kPairWindowMs - waited));
                return;
            }
            m_raw.removeFirst();
            emit event({FolderEvent::Removed, head.name, QString()});
            continue;
        }
        m_raw.removeFirst();
        if (head.mask & (IN_CREATE | IN_MOVED_TO))
            emit event({FolderEvent::Added, head.name, QString()});
        else if (head.mask & IN_DELETE)
            emit event({FolderEvent::Removed, head.name, QString()});
    }
}

} // namespace kdr
