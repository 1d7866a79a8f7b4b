// KDR02 simple programator: program start.
#include "app/AppController.h"
#include "app/ProcessStart.h"
#include "ui/MainWindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // A downloaded copy ("_KDR02.x64") installs itself and starts the installed program.
    if (argc > 0 && kdr::runHandOver(QString::fromLocal8Bit(argv[0]).contains(QLatin1Char('/'))
                                         ? QString::fromLocal8Bit(argv[0])
                                         : QString()))
        return 0;
    QApplication app(argc, argv);
    if (kdr::runHandOver(QCoreApplication::applicationFilePath())) return 0;
    kdr::AppController controller(QCoreApplication::applicationFilePath());
    controller.window().show();
    return app.exec();
}
