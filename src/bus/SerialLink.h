#pragma once
// The one transport seam of the bus code: a serial line in line mode. The window and kdrctl use the
// QSerialPort implementation; unit tests use an in-process one wired to the bus simulator.
#include <QByteArray>
#include <QObject>
#include <QString>

namespace kdr {

inline constexpr char kEOT = 0x04; // line end of every telegram and answer

class SerialLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // 8 data bits, no parity, 1 or 2 stop bits, DTR and RTS on, no handshake.
    // Returns false and fills *error with the reason in plain words when the port cannot be opened.
    virtual bool open(const QString &portName, int baudRate, int stopBits, QString *error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual QString portName() const = 0;
    virtual int baudRate() const = 0;
    // Drops whatever is buffered in either direction, including a partly received line.
    virtual void purge() = 0;
    // Queues bytes for sending; false when the port is not open or refuses them.
    virtual bool send(const QByteArray &data) = 0;

signals:
    // One received line, cut at EOT and delivered with the EOT.
    void lineReceived(const QByteArray &line);
    // A line longer than the 4096-byte receive buffer was dropped, up to and with its EOT.
    void lineDiscarded(qint64 bytes);
    // Bytes handed to the driver.
    void dataSent(qint64 bytes);
    // The port failed or went away under us; it has been closed once.
    void portLost(const QString &reason);
};

} // namespace kdr
