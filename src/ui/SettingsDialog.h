#pragma once
// The "Settings" dialog: step time-outs with port-type presets, the active folder choice, automatic
// bug reports, the report list, and "Apply settings". It edits the workspace's settings; the window
// follows its signals (timers, label, refresh, crash reporter).
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace kdr {

class Workspace;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(Workspace &ws, QWidget *parent = nullptr);

    // Refills the active folder list and selects the settings' subfolder; one that no longer exists
    // selects the program folder (and the settings follow). Call when the main window is shown.
    void rebuildFolderList();
    // The chosen subfolder, "" for the program folder.
    QString folderChoice() const;

    // "Apply settings": takes the fields into the settings, saves the file, asks about a refresh when
    // the folder changed, closes. A file that cannot be written keeps the dialog open.
    void applySettings();

    // Controls, for the window (report list) and for tests.
    QSpinBox *protocolField() const { return m_protocol; }
    QSpinBox *readField() const { return m_read; }
    QSpinBox *writeField() const { return m_write; }
    QButtonGroup *portTypeGroup() const { return m_portType; }
    QComboBox *folderList() const { return m_folders; }
    QToolButton *folderRefreshButton() const { return m_refresh; }
    QCheckBox *sendReportBox() const { return m_sendReport; }
    QListWidget *reportList() const { return m_reports; }
    QPushButton *applyButton() const { return m_apply; }

signals:
    void timeoutsApplied(int protocol, int read, int write); // set the step timers
    void folderChoiceChanged(const QString &subfolder);      // the label follows at once
    void refreshRequested();                                  // run "Refresh .vtd list"
    void sendReportChanged(bool on);                          // the crash reporter follows at once
    void designReportRequested();
    void refreshReportListRequested();

protected:
    void showEvent(QShowEvent *e) override;

private:
    void portTypeClicked(int id);
    void folderIndexChanged(int index);

    Workspace &m_ws;
    QSpinBox *m_protocol, *m_read, *m_write;
    QButtonGroup *m_portType;
    QComboBox *m_folders;
    QToolButton *m_refresh;
    QCheckBox *m_sendReport;
    QListWidget *m_reports;
    QPushButton *m_apply;
    bool m_folderChanged = false;
    bool m_filling = false;
};

} // namespace kdr
