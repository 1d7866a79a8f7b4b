#pragma once
// The general error handler: an unexpected error ends the handler it happened in, is shown to the
// user, and leaves a bug report file in the program folder ("bugreports/"). With automatic sending
// off, the user is asked first.
#include <QApplication>
#include <QString>

namespace kdr {

class Log;
class Prompter;

class CrashReporter {
public:
    QString subject = QStringLiteral("bug report - KDR");
    QString product;      // "KDR02. Version 3.0; 64bit"
    bool autoSend = true; // "Automatically send bug report"
    QString folder;       // where reports go
    Log *log = nullptr;   // its last lines go into the report
    Prompter *prompter = nullptr;

    // Shows the error and writes the report; returns the report's path (empty when none was written).
    QString report(const QString &error);
    // The report text for an error.
    QString reportText(const QString &error) const;
};

// Runs every event through the crash reporter's net.
class KdrApplication : public QApplication {
public:
    KdrApplication(int &argc, char **argv) : QApplication(argc, argv) {}
    CrashReporter reporter;
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace kdr
