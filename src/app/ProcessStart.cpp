#include "app/ProcessStart.h"

#include "store/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

namespace kdr {

bool isHandOverCopy(const QString &programPath) { return QFileInfo(programPath).fileName().startsWith(QLatin1Char('_')); }

QString installHandOverCopy(const QString &programPath)
{
    const QFileInfo self(programPath);
    const QString target = self.absolutePath() + QLatin1Char('/') + kProgramFileName;
    // A running program cannot be replaced: opening it for writing fails with "Text file busy".
    const int fd = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) return QString();
    if (fd >= 0) ::close(fd);

    QFile src(programPath);
    if (!src.open(QIODevice::ReadOnly)) return QString();
    if (!writeFileAtomically(target, src.readAll()).isEmpty()) return QString();
    QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther |
                                      QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

bool runHandOver(const QString &programPath)
{
    if (!isHandOverCopy(programPath)) return false;
    const QString installed = installHandOverCopy(programPath);
    if (!installed.isEmpty()) QProcess::startDetached(installed, {}, QFileInfo(installed).absolutePath());
    return true;
}

} // namespace kdr
