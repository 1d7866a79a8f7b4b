#include "store/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kdr {

namespace {
QString errnoText(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

bool writeAll(int fd, const char *p, size_t n, int &err)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}
} // namespace

bool isAtomicTempFor(const QString &tempName, const QString &fileName)
{
    return tempName.size() == fileName.size() + 8 && tempName.startsWith(QLatin1Char('.') + fileName + QLatin1Char('.'));
}

bool isAtomicTempName(const QString &name)
{
    return name.size() >= 9 && name.startsWith(QLatin1Char('.')) && name.at(name.size() - 7) == QLatin1Char('.');
}

QString writeFileAtomically(const QString &path, const QByteArray &data)
{
    const QFileInfo fi(path);
    const QString dir = fi.absolutePath();
    const QByteArray tmpl = QFile::encodeName(dir + QLatin1String("/.") + fi.fileName() + QLatin1String(".XXXXXX"));
    QByteArray tmpName = tmpl;
    const int fd = ::mkostemp(tmpName.data(), O_CLOEXEC);
    if (fd < 0) return QStringLiteral("Cannot write \"%1\": %2").arg(path, errnoText(errno));

    int err = 0;
    bool ok = writeAll(fd, data.constData(), size_t(data.size()), err);
    if (ok) {
        // Keep the permissions of the file being replaced; a new file gets the usual 0666 & ~umask.
        struct stat st{};
        mode_t mode;
        if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t um = ::umask(0);
            ::umask(um);
            mode = 0666 & ~um;
        }
        ::fchmod(fd, mode);
        if (::fsync(fd) != 0) { err = errno; ok = false; }
    }
    if (::close(fd) != 0 && ok) { err = errno; ok = false; }
    if (ok && ::rename(tmpName.constData(), QFile::encodeName(path).constData()) != 0) { err = errno; ok = false; }
    if (!ok) {
        ::unlink(tmpName.constData());
        return QStringLiteral("Cannot write \"%1\": %2").arg(path, errnoText(err));
    }
    // Make the rename itself durable.
    const int dfd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return QString();
}

} // namespace kdr
