#pragma once
// The serial link on a real port (or a pseudo-terminal given by its path) through QSerialPort.
#include "bus/LineBuffer.h"
#include "bus/SerialLink.h"

#include <QSerialPort>

namespace kdr {

class QtSerialLink : public SerialLink {
    Q_OBJECT
public:
    explicit QtSerialLink(QObject *parent = nullptr);
    ~QtSerialLink() override;

    // portName: a system name ("ttyUSB0") or a device path ("/dev/pts/3").
    bool open(const QString &portName, int baudRate, int stopBits, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    QString portName() const override { return m_name; }
    int baudRate() const override { return m_baud; }
    void purge() override;
    bool send(const QByteArray &data) override;

    // Device path of a port name: names without "/" live in /dev.
    static QString devicePath(const QString &portName);
    // Why a device cannot be opened, in plain words, for an open that failed with `qtError`.
    static QString explainOpenFailure(const QString &portName, QSerialPort::SerialPortError qtError,
                                      const QString &qtText);

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError e);
    void closeAfterLoss(const QString &reason);

    QSerialPort m_port;
    QString m_name;
    int m_baud = 9600;
    LineBuffer m_rx;
    bool m_lossPending = false;
    quint64 m_generation = 0; // one per open: a queued close never hits a later open
};

} // namespace kdr
