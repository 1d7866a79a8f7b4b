#pragma once
// Builds the program: the workspace, the reader store, the bus engine, the main window and its
// dialogs, and the wiring between the window's commands and the core handlers.
#include "store/Workspace.h"

#include <QObject>
#include <memory>

namespace kdr {

class BusEngine;
class MainWindow;
class ReaderStore;
class SettingsDialog;

class AppController : public QObject {
    Q_OBJECT
public:
    explicit AppController(const QString &programPath, QObject *parent = nullptr);
    ~AppController() override;

    Workspace &workspace() { return m_ws; }
    MainWindow &window() { return *m_window; }
    ReaderStore &store() { return *m_store; }
    BusEngine &bus() { return *m_bus; }
    SettingsDialog &settingsDialog() { return *m_settings; }

signals:
    // "Automatically send bug report" was clicked in the settings.
    void sendReportChanged(bool on);

private:
    void wireStartup();
    void wireReaderStore();
    void wireSearch();
    void wireBus();

    Workspace m_ws;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ReaderStore> m_store;
    std::unique_ptr<BusEngine> m_bus;
    SettingsDialog *m_settings = nullptr; // owned by the window
};

} // namespace kdr
