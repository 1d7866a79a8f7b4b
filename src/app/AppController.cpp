#include "app/AppController.h"

#include "ui/MainWindow.h"
#include "ui/WidgetPrompter.h"

#include <QTimer>

namespace kdr {

AppController::AppController(const QString &programPath, QObject *parent) : QObject(parent), m_ws(programPath)
{
    // Settings first: the window's timers and menu check marks come from them.
    m_ws.settings.load(m_ws.settingsPath());
    m_window = std::make_unique<MainWindow>(m_ws);
    m_ws.setPrompter(m_window->prompter());
    wireStartup();
}

AppController::~AppController()
{
    m_ws.setPrompter(nullptr);
}

void AppController::wireStartup()
{
    MainWindow *w = m_window.get();
    // Until the folder loader and the update check are wired, both end at once so that the
    // start-up chain still runs to its end.
    connect(w, &MainWindow::refreshRequested, this, [w] {
        w->initLabel();
        w->UpdateBtnState();
        w->firstLoadFinished();
    });
    connect(w, &MainWindow::newVersionRequested, this, [w] { w->updateCheckFinished(false); });
}

} // namespace kdr
