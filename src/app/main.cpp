// KDR02 simple programator: program start.
#include "app/AppController.h"
#include "app/ProcessStart.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char **argv)
{
    // A downloaded copy ("_KDR02.x64") installs itself, starts the installed program and ends
    // before any window exists.
    if (kdr::runHandOver(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())) return 0;
    QApplication app(argc, argv);
    kdr::AppController controller(QCoreApplication::applicationFilePath());
    controller.window().show();
    return app.exec();
}
