#pragma once
// Everything that asks the user goes through this interface: the window shows dialogs, tests and
// kdrctl answer from a script.
#include <QString>
#include <QStringList>
#include <optional>

namespace kdr {

enum class DlgType { Warning, Error, Information, Confirmation };

// Buttons of a message; the value of the pressed one is returned. Closing a dialog counts as Cancel.
enum class Btn { Ok = 1, Cancel = 2, Yes = 4, No = 8, Abort = 16, Retry = 32, Ignore = 64 };
using BtnSet = QList<Btn>;

struct FileDialogRequest {
    QString title;
    QString folder;       // initial folder
    QString proposedName; // save dialogs
    QStringList filters;  // "CSV file (*.csv)", ...
    int filterIndex = 0;
};

struct FileDialogResult {
    QString path;         // empty when cancelled
    int filterIndex = 0;  // the filter chosen
};

class Prompter {
public:
    virtual ~Prompter() = default;
    // Modal message with icon and buttons; captions, when given, replace the buttons' own texts in order.
    virtual Btn message(DlgType type, const QString &text, const BtnSet &buttons = {Btn::Ok},
                        const QStringList &captions = {}) = 0;
    // A line of text; nullopt when cancelled.
    virtual std::optional<QString> inputText(const QString &title, const QString &prompt, const QString &initial) = 0;
    virtual FileDialogResult openFile(const FileDialogRequest &req) = 0;
    virtual FileDialogResult saveFile(const FileDialogRequest &req) = 0;
};

} // namespace kdr
