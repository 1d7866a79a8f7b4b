#include "store/SettingsActions.h"

#include "store/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace kdr {

namespace {
void addSubfolders(const QString &root, const QString &rel, QList<FolderChoice> &out, QSet<QString> &seen)
{
    const QDir dir(rel.isEmpty() ? root : root + QLatin1Char('/') + rel);
    const QString canon = dir.canonicalPath();
    if (canon.isEmpty() || seen.contains(canon)) return; // a link back up must not loop
    seen.insert(canon);
    const QStringList subs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &s : subs) {
        const QString path = rel.isEmpty() ? s : rel + QLatin1Char('/') + s;
        out.append({path, int(path.count(QLatin1Char('/'))) + 1});
        addSubfolders(root, path, out, seen);
    }
}
} // namespace

QList<FolderChoice> activeFolderChoices(const QString &programFolder)
{
    QList<FolderChoice> out{{QString(), 0}};
    QString root = programFolder;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/'))) root.chop(1);
    QSet<QString> seen;
    addSubfolders(root, QString(), out, seen);
    return out;
}

QString resolveActiveSubfolder(const QList<FolderChoice> &choices, const QString &stored)
{
    QString s = stored;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    for (const FolderChoice &c : choices)
        if (c.path == s) return s;
    return QString();
}

QString folderChoiceLabel(const QString &subfolder)
{
    return subfolder.isEmpty() ? QStringLiteral("root folder") : subfolder;
}

bool SaveSettings(Workspace &ws, bool showMessage)
{
    const QString err = ws.settings.save(ws.settingsPath());
    if (!err.isEmpty()) {
        if (ws.prompter()) ws.prompter()->message(DlgType::Error, err);
        return false;
    }
    if (showMessage && ws.prompter())
        ws.prompter()->message(DlgType::Confirmation, QStringLiteral("Settings are sucessfully saved!"), {Btn::Ok});
    return true;
}

bool SaveSettingsIfMissing(Workspace &ws)
{
    if (QFileInfo::exists(ws.settingsPath())) return true;
    return SaveSettings(ws, false);
}

} // namespace kdr
