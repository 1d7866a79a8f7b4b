#pragma once
// Builds the program: the workspace, the main window, and the wiring between the window's
// commands and the core handlers.
#include "store/Workspace.h"

#include <QObject>
#include <memory>

namespace kdr {

class MainWindow;

class AppController : public QObject {
    Q_OBJECT
public:
    explicit AppController(const QString &programPath, QObject *parent = nullptr);
    ~AppController() override;

    Workspace &workspace() { return m_ws; }
    MainWindow &window() { return *m_window; }

private:
    void wireStartup();

    Workspace m_ws;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace kdr
