#pragma once
// Serves a simulated bus on a pseudo-terminal: the program opens the slave side like a serial
// port; the line speed and stop bits it sets there are read back for every request.
#include "kdrsim/SimBus.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <memory>

namespace kdr::sim {

// Speed (any value, e.g. 28800) and stop bits of a terminal, through termios2.
bool readPtyLineSettings(int slaveFd, int *baud, int *stopBits);
bool setPtyLineSettings(int fd, int baud, int stopBits);

class PtyHost : public QObject {
    Q_OBJECT
public:
    // linkPath: optional symlink to the slave, replaced when it is a symlink, removed at stop().
    PtyHost(Bus *bus, const QString &linkPath, QObject *parent = nullptr);
    ~PtyHost() override;

    bool start(QString *error);
    void stop();
    QString slavePath() const { return m_slavePath; }

signals:
    // A new pseudo-terminal replaced the old one (after the fault "portlost").
    void reopened(const QString &slavePath);
    void failed(const QString &error);

private:
    bool openPty(QString *error);
    void closePty();
    bool makeLink(QString *error);
    void removeLink();
    void onReadable();
    void onWritable();
    void write(const QByteArray &bytes);
    void onPortLost();

    Bus *m_bus;
    QString m_linkPath;
    QString m_slavePath;
    int m_master = -1;
    int m_slave = -1; // held open so the pty does not hang up between program connections
    std::unique_ptr<QSocketNotifier> m_readN;
    std::unique_ptr<QSocketNotifier> m_writeN;
    QByteArray m_pendingOut;
};

} // namespace kdr::sim
