#pragma once
// The window's way of asking the user: message boxes, input dialogs and file dialogs.
#include "store/Prompter.h"

class QWidget;

namespace kdr {

class WidgetPrompter : public Prompter {
public:
    explicit WidgetPrompter(QWidget *parent) : m_parent(parent) {}
    Btn message(DlgType type, const QString &text, const BtnSet &buttons, const QStringList &captions) override;
    std::optional<QString> inputText(const QString &title, const QString &prompt, const QString &initial) override;
    FileDialogResult openFile(const FileDialogRequest &req) override;
    FileDialogResult saveFile(const FileDialogRequest &req) override;

private:
    QWidget *m_parent;
};

} // namespace kdr
