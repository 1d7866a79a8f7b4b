#pragma once
// Settings work shared by the window and the settings dialog: the active subfolder choices, the
// fallback of a stored choice that no longer exists, and saving the settings file.
#include "store/Settings.h"

#include <QList>
#include <QString>

namespace kdr {

class Workspace;

struct FolderChoice {
    QString path; // relative to the program folder, "/" separated; empty: the program folder itself
    int level = 0; // 0 for the program folder, otherwise the number of "/" in path + 1
};

// The empty entry, then every subfolder of `programFolder` at any depth, depth first in name order.
QList<FolderChoice> activeFolderChoices(const QString &programFolder);

// The stored subfolder when it is among the choices, otherwise the program folder (empty).
QString resolveActiveSubfolder(const QList<FolderChoice> &choices, const QString &stored);

// What the active-folder label shows for a choice.
QString folderChoiceLabel(const QString &subfolder); // "" -> "root folder"

// SaveSettings: writes every key but the last port from ws.settings; with showMessage the user is
// told "Settings are sucessfully saved!". A write failure is shown as an error. Returns success.
bool SaveSettings(Workspace &ws, bool showMessage);
// At program end: writes the settings file when it does not exist yet, without a message.
bool SaveSettingsIfMissing(Workspace &ws);

} // namespace kdr
