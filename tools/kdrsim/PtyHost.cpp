#include "kdrsim/PtyHost.h"

#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kdr::sim {

namespace {
QString errnoText(const char *what) { return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno))); }
}

PtyHost::PtyHost(Bus *bus, const QString &linkPath, QObject *parent) : QObject(parent), m_bus(bus), m_linkPath(linkPath)
{
    connect(m_bus, &Bus::toProgram, this, &PtyHost::write);
    connect(m_bus, &Bus::portLost, this, &PtyHost::onPortLost);
}

PtyHost::~PtyHost() { stop(); }

bool PtyHost::start(QString *error)
{
    if (!openPty(error)) return false;
    if (!makeLink(error)) {
        closePty();
        return false;
    }
    return true;
}

void PtyHost::stop()
{
    removeLink();
    closePty();
}

bool PtyHost::openPty(QString *error)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        *error = errnoText("posix_openpt");
        return false;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error = errnoText("grantpt/unlockpt");
        closePty();
        return false;
    }
    const char *name = ptsname(m_master);
    if (!name) {
        *error = errnoText("ptsname");
        closePty();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        *error = errnoText("open slave");
        closePty();
        return false;
    }
    // Raw both ways: no echo of our answers back to us, no line editing, bytes as they are.
    termios t{};
    for (int fd : {m_master, m_slave}) {
        if (tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            cfsetspeed(&t, m_bus->baud() == 28800 ? B38400 : B9600);
            tcsetattr(fd, TCSANOW, &t);
        }
    }
    m_readN = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_readN.get(), &QSocketNotifier::activated, this, &PtyHost::onReadable);
    m_writeN = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeN->setEnabled(false);
    connect(m_writeN.get(), &QSocketNotifier::activated, this, &PtyHost::onWritable);
    return true;
}

void PtyHost::closePty()
{
    m_readN.reset();
    m_writeN.reset();
    m_pendingOut.clear();
    if (m_master >= 0) ::close(m_master);
    if (m_slave >= 0) ::close(m_slave);
    m_master = m_slave = -1;
}

bool PtyHost::makeLink(QString *error)
{
    if (m_linkPath.isEmpty()) return true;
    const QByteArray link = QFile::encodeName(m_linkPath);
    struct stat st {};
    if (lstat(link.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a symbolic link; not replacing it").arg(m_linkPath);
            return false;
        }
        ::unlink(link.constData());
    }
    if (::symlink(QFile::encodeName(m_slavePath).constData(), link.constData()) != 0) {
        *error = errnoText("symlink") + QStringLiteral(" (%1)").arg(m_linkPath);
        return false;
    }
    return true;
}

void PtyHost::removeLink()
{
    if (m_linkPath.isEmpty() || m_slavePath.isEmpty()) return;
    // Only our own link: another simulator may have taken the path meanwhile.
    if (QFileInfo(m_linkPath).isSymLink() && QFileInfo(m_linkPath).symLinkTarget() == m_slavePath)
        ::unlink(QFile::encodeName(m_linkPath).constData());
}

void PtyHost::onReadable()
{
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            LineSettings ls{m_bus->baud(), m_bus->stopBits()};
            int baud = 0, stop = 1;
            if (readPtyLineSettings(m_slave, &baud, &stop)) ls = LineSettings{baud, stop};
            m_bus->fromProgram(QByteArray(buf, int(n)), ls);
            continue;
        }
        if (n < 0 && (errno == EINTR)) continue;
        // EAGAIN: all read. EIO: no program has the slave open (cannot happen while we hold it).
        return;
    }
}

void PtyHost::write(const QByteArray &bytes)
{
    if (m_master < 0) return;
    m_pendingOut.append(bytes);
    onWritable();
}

void PtyHost::onWritable()
{
    while (!m_pendingOut.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pendingOut.constData(), size_t(m_pendingOut.size()));
        if (n > 0) {
            m_pendingOut.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break; // EAGAIN: the program is not reading; wait until it does
    }
    if (m_writeN) m_writeN->setEnabled(!m_pendingOut.isEmpty());
}

void PtyHost::onPortLost()
{
    // Hang up under the program, then offer a fresh pseudo-terminal behind the same link.
    m_bus->cancelPending();
    m_bus->purgeInput();
    removeLink();
    closePty();
    QTimer::singleShot(200, this, [this] {
        QString err;
        if (!openPty(&err) || !makeLink(&err)) {
            emit failed(err);
            return;
        }
        emit reopened(m_slavePath);
    });
}

} // namespace kdr::sim
