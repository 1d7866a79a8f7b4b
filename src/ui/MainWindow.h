#pragma once
// The main window: reader list, card table, command groups, log and status bar. It holds no
// program logic of its own beyond applying the command rules; handlers live in the core.
#include "app/CommandRules.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QAction;
class QMenu;
class QSortFilterProxyModel;

namespace kdr {

class Workspace;
class TableModel;
class WidgetPrompter;
class AboutDialog;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(Workspace &ws, QWidget *parent = nullptr);
    ~MainWindow() override;

    Workspace &workspace() const { return m_ws; }
    WidgetPrompter *prompter() const { return m_prompter; }

    // Controls by name, for wiring and tests.
    QPushButton *button(const QString &name) const;
    QTableView *readerGrid() const { return m_readerGrid; }
    QTableView *cardGrid() const { return m_cardGrid; }
    TableModel *readerModel() const { return m_readerModel; }
    TableModel *cardModel() const { return m_cardModel; }
    QComboBox *portSelector() const { return m_cbPort; }
    QProgressBar *progressBar() const { return m_pb; }
    QLabel *elapsedLabel() const { return m_timeElapsed; }
    QLabel *activeFolderLabel() const { return m_lblActiveFolder; }
    QLabel *lastCardIdLabel() const { return m_lblLastCardID; }
    QPlainTextEdit *logView() const { return m_memo; }
    QAction *autoScrollAction() const { return m_actAutoScroll; }
    QAction *refreshAction() const { return m_actRefresh; }
    QAction *newVersionAction() const { return m_actNewVersion; }
    QAction *settingsAction() const { return m_actSettings; }
    QMenu *saveReadCardsMenu() const { return m_menuSaveRead; }
    QMenu *writeAllCardsMenu() const { return m_menuWriteAll; }
    QMenu *selForDelMenu() const { return m_menuSelForDel; }
    QLineEdit *readerSearchBox() const { return m_searchBox1; }
    QLineEdit *cardSearchBox() const { return m_searchBox2; }
    QComboBox *readerSearchField() const { return m_cbSearchField1; }
    QComboBox *cardSearchField() const { return m_cbSearchField2; }
    QCheckBox *compareBox() const { return m_cbCompare; }

    // UpdateBtnState: the command table applied to the current state.
    void UpdateBtnState();
    // SetMainFileBtn: "Rename file", "Remove file" and the note text follow the reader list.
    void SetMainFileBtn(bool isEnabled);
    // initLabel: "LOADING", "DOWNLOADING", the subfolder's name or "root folder".
    void initLabel();
    // "Delete card(s)" / "Set function(s)" after a move of the card cursor.
    void updateCardButtons();
    // Whether the bus port runs at 9600 baud (set by the bus side).
    void setBus9600(bool on);

    // Progress bar and elapsed-time counter.
    void startElapsed(bool reset = true);
    void stopElapsed();
    static QString formatElapsed(qint64 ms);

    // Thread ids for the closing rule's log line, set by the background work.
    void setLoaderThreadId(qint64 id) { m_loaderThreadId = id; }
    void setDownloadThreadId(qint64 id) { m_downloadThreadId = id; }

    // The start-up chain: the first load has ended / the update check has ended.
    void firstLoadFinished();
    void updateCheckFinished(bool newVersionStarted);

    void showAbout();
    // "Auto-scroll refresh": a reader was selected.
    void requestScrollRefresh();
    // While the active folder loads, both grids show nothing.
    void setGridsDetached(bool detached);

signals:
    void refreshRequested();       // "Refresh .vtd list" and the start-up load
    void newVersionRequested();    // "New version"
    void settingsRequested();      // "Settings"
    void scanPortRequested();      // "Scan Port"
    void startupScanRequested();   // the start-up chain reached the port scan
    void showPortsRequested();     // fill the port list and select the last port
    void portListAboutToShow();    // the port selector drops down
    void serialClicked();          // "KDR Serial:" value
    void noteClicked();            // "Note:" value
    void lastCardIdClicked();      // "Last card ID:" value

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    void buildUi();
    QWidget *buildReaderGroup();
    QWidget *buildCardGroup();
    QWidget *buildRightColumn();
    void buildMenus();
    void buildStatusBar();
    QPushButton *makeButton(const QString &name, const QString &caption, QWidget *parent);
    void syncSelection(QTableView *view, TableModel *model);
    void followCurrent(QTableView *view, QSortFilterProxyModel *proxy, TableModel *model);
    void refreshScroll();
    void layoutStatusPanels();

    Workspace &m_ws;
    WidgetPrompter *m_prompter;
    AboutDialog *m_about = nullptr;
    QHash<QString, QPushButton *> m_buttons;
    TableModel *m_readerModel, *m_cardModel;
    QSortFilterProxyModel *m_readerProxy, *m_cardProxy;
    QTableView *m_readerGrid = nullptr, *m_cardGrid = nullptr;
    QComboBox *m_cbPort = nullptr, *m_cbSearchField1 = nullptr, *m_cbSearchField2 = nullptr;
    QLineEdit *m_searchBox1 = nullptr, *m_searchBox2 = nullptr;
    QCheckBox *m_cbCompare = nullptr;
    QLabel *m_lblActiveFolder = nullptr, *m_lblLastCardID = nullptr, *m_txtKDRSerial = nullptr, *m_txtNote = nullptr;
    QLabel *m_panel0 = nullptr, *m_timeElapsed = nullptr;
    QProgressBar *m_pb = nullptr;
    QPlainTextEdit *m_memo = nullptr;
    QAction *m_actSettings = nullptr, *m_actNewVersion = nullptr, *m_actAutoScroll = nullptr, *m_actRefresh = nullptr, *m_actExit = nullptr;
    QMenu *m_menuSaveRead = nullptr, *m_menuWriteAll = nullptr, *m_menuSelForDel = nullptr;
    QTimer m_blink, m_elapsedTick, m_scrollRefresh;
    QElapsedTimer m_elapsed;
    qint64 m_elapsedBase = 0, m_stoppedAt = 0;
    bool m_bus9600 = false;
    bool m_shown = false;
    qint64 m_loaderThreadId = 0, m_downloadThreadId = 0;
};

} // namespace kdr
