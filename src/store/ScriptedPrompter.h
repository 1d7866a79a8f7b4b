#pragma once
// A prompter that answers from a queue and records every question: used by the tests and by kdrctl.
#include "store/Prompter.h"

#include <QList>

namespace kdr {

class ScriptedPrompter : public Prompter {
public:
    struct Asked {
        DlgType type;
        QString text;
        BtnSet buttons;
    };

    // Answers are taken in order; when none is queued the fallback answers (default: the first
    // button offered, or Cancel for inputs and file dialogs).
    void queueButton(Btn b) { m_buttons.append(b); }
    void queueInput(std::optional<QString> s) { m_inputs.append(s); }
    void queueFile(const QString &path, int filterIndex = 0) { m_files.append({path, filterIndex}); }
    void setFallbackButton(std::optional<Btn> b) { m_fallback = b; }

    QList<Asked> asked;       // every message shown
    QStringList inputPrompts; // every input prompt shown
    QList<FileDialogRequest> fileRequests;

    Btn message(DlgType type, const QString &text, const BtnSet &buttons, const QStringList &) override
    {
        asked.append({type, text, buttons});
        if (!m_buttons.isEmpty()) return m_buttons.takeFirst();
        if (m_fallback) return *m_fallback;
        return buttons.isEmpty() ? Btn::Ok : buttons.first();
    }
    std::optional<QString> inputText(const QString &, const QString &prompt, const QString &) override
    {
        inputPrompts.append(prompt);
        return m_inputs.isEmpty() ? std::nullopt : m_inputs.takeFirst();
    }
    FileDialogResult openFile(const FileDialogRequest &req) override { return nextFile(req); }
    FileDialogResult saveFile(const FileDialogRequest &req) override { return nextFile(req); }

    bool wasAsked(const QString &text) const
    {
        for (const Asked &a : asked)
            if (a.text == text) return true;
        return false;
    }

private:
    FileDialogResult nextFile(const FileDialogRequest &req)
    {
        fileRequests.append(req);
        return m_files.isEmpty() ? FileDialogResult{} : m_files.takeFirst();
    }
    QList<Btn> m_buttons;
    QList<std::optional<QString>> m_inputs;
    QList<FileDialogResult> m_files;
    std::optional<Btn> m_fallback;
};

} // namespace kdr
