#include "app/CrashReporter.h"

#include "store/AtomicFile.h"
#include "store/Log.h"
#include "store/Prompter.h"

#include <QDateTime>
#include <QDir>
#include <QSysInfo>

#include <exception>

namespace kdr {

QString CrashReporter::reportText(const QString &error) const
{
    QString t;
    t += QStringLiteral("Subject: ") + subject + QLatin1Char('\n');
    t += QStringLiteral("Product: ") + product + QLatin1Char('\n');
    t += QStringLiteral("Date: ") + QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char('\n');
    t += QStringLiteral("System: ") + QSysInfo::prettyProductName() + QStringLiteral(", ") + QSysInfo::currentCpuArchitecture() + QLatin1Char('\n');
    t += QStringLiteral("Error: ") + error + QStringLiteral("\n\nLog (last lines):\n");
    if (log) {
        const QStringList &lines = log->lines();
        for (qsizetype i = std::max<qsizetype>(0, lines.size() - 100); i < lines.size(); ++i) t += lines[i] + QLatin1Char('\n');
    }
    return t;
}

QString CrashReporter::report(const QString &error)
{
    bool write = autoSend;
    if (prompter) {
        if (autoSend)
            prompter->message(DlgType::Error, error);
        else
            write = prompter->message(DlgType::Error, error + QStringLiteral("\n\nSave a bug report?"), {Btn::Yes, Btn::No}) == Btn::Yes;
    }
    if (!write || folder.isEmpty()) return QString();
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("bugreport_%1.txt").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"))));
    if (!writeFileAtomically(path, reportText(error).toUtf8()).isEmpty()) return QString();
    if (log) log->append(QStringLiteral("> Bug report saved: ") + path);
    return path;
}

bool KdrApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        reporter.report(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reporter.report(QStringLiteral("Unknown error"));
    }
    return false;
}

} // namespace kdr
