#pragma once
#include <QDialog>

class QPlainTextEdit;

namespace kdr {

class RippleLogo;

// "About": version, platform, a logo with a ripple, and the release history behind "Changes".
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    static QString versionText();
    static QString releaseHistory();

private:
    QPlainTextEdit *m_changes;
};

} // namespace kdr
