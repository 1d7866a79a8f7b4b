// KDR02 simple programator: program start.
#include "app/AppController.h"
#include "app/CrashReporter.h"
#include "app/ProcessStart.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char **argv)
{
    // A downloaded copy ("_KDR02.x64") installs itself, starts the installed program and ends
    // before any window exists.
    if (kdr::runHandOver(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())) return 0;
    kdr::KdrApplication app(argc, argv);
    kdr::AppController controller(QCoreApplication::applicationFilePath());
    kdr::CrashReporter &r = app.reporter;
    r.product = QStringLiteral("KDR02. Version ") + kdr::kProgramVersion + QStringLiteral("; 64bit");
    r.autoSend = controller.workspace().settings.sendReport;
    r.folder = controller.workspace().programFolder() + QStringLiteral("bugreports");
    r.log = &controller.workspace().log;
    r.prompter = controller.workspace().prompter();
    QObject::connect(&controller, &kdr::AppController::sendReportChanged, &app, [&r](bool on) { r.autoSend = on; });
    controller.window().show();
    return app.exec();
}
