#pragma once
// A kdr::SerialLink wired to an in-process simulated bus (library kdrsimlink).
//
// It behaves like a serial port with the interface attached:
// - open() succeeds for any port name unless setPortNames() limited them; a second link open
//   on the same bus at the same time fails as a busy port would;
// - send() hands the bytes to the bus with the link's baud rate and stop bits (a speed the
//   interface does not run at gets no answer) and emits dataSent() from the event loop;
// - answers are cut at EOT and delivered, EOT included, through lineReceived(), always from a
//   timer, never from inside send();
// - the fault "portlost" closes the link and emits portLost() once.
//
//     kdr::sim::Bus bus(kdr::sim::Model::KIM3121);
//     bus.addReader(123456, 4000, 0x20C);
//     kdr::sim::SimSerialLink link(&bus);
//     QString err;
//     link.open("sim", 28800, 2, &err);

#include "bus/LineBuffer.h"
#include "bus/SerialLink.h"
#include "kdrsim/SimBus.h"

#include <QPointer>
#include <QStringList>

namespace kdr::sim {

class SimSerialLink : public kdr::SerialLink {
    Q_OBJECT
public:
    explicit SimSerialLink(Bus *bus, QObject *parent = nullptr);
    ~SimSerialLink() override;

    // Names that open; empty (the default) accepts every name.
    void setPortNames(const QStringList &names) { m_names = names; }

    bool open(const QString &portName, int baudRate, int stopBits, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString portName() const override { return m_portName; }
    int baudRate() const override { return m_baud; }
    int stopBits() const { return m_stopBits; }
    void purge() override;
    bool send(const QByteArray &data) override;

    Bus *bus() const { return m_bus; }

private:
    void onBytes(const QByteArray &bytes);
    void onPortLost(const QString &reason);

    QPointer<Bus> m_bus;
    QStringList m_names;
    QString m_portName;
    int m_baud = 9600;
    int m_stopBits = 1;
    bool m_open = false;
    kdr::LineBuffer m_rx; // the program's side of the port: same buffer as a real one
};

} // namespace kdr::sim
