#include "kdrsim/SimSerialLink.h"

#include <QTimer>

namespace kdr::sim {

SimSerialLink::SimSerialLink(Bus *bus, QObject *parent) : kdr::SerialLink(parent), m_bus(bus) {}

SimSerialLink::~SimSerialLink() { close(); }

bool SimSerialLink::open(const QString &portName, int baudRate, int stopBits, QString *error)
{
    auto fail = [error](const QString &e) {
        if (error) *error = e;
        return false;
    };
    if (m_open) close();
    if (!m_bus) return fail(QStringLiteral("No simulated bus behind this port."));
    if (!m_names.isEmpty() && !m_names.contains(portName))
        return fail(QStringLiteral("Port %1 does not exist.").arg(portName));
    if (baudRate <= 0) return fail(QStringLiteral("Invalid baud rate %1.").arg(baudRate));
    if (stopBits != 1 && stopBits != 2) return fail(QStringLiteral("Invalid number of stop bits %1.").arg(stopBits));
    if (!m_bus->claimPort(this)) return fail(QStringLiteral("Port %1 is busy (already open).").arg(portName));
    m_portName = portName;
    m_baud = baudRate;
    m_stopBits = stopBits;
    m_rx.clear();
    m_open = true;
    connect(m_bus, &Bus::toProgram, this, &SimSerialLink::onBytes);
    connect(m_bus, &Bus::portLost, this, &SimSerialLink::onPortLost);
    return true;
}

void SimSerialLink::close()
{
    if (!m_open) return;
    m_open = false;
    m_rx.clear();
    if (m_bus) {
        disconnect(m_bus, nullptr, this, nullptr);
        m_bus->releasePort(this);
    }
}

void SimSerialLink::purge()
{
    m_rx.clear();
    if (m_open && m_bus) m_bus->purgeInput();
}

bool SimSerialLink::send(const QByteArray &data)
{
    if (!m_open || !m_bus) return false;
    m_bus->fromProgram(data, LineSettings{m_baud, m_stopBits});
    const qint64 n = data.size();
    // Like a driver: the bytes-written notification comes from the event loop.
    QTimer::singleShot(0, this, [this, n] {
        if (m_open) emit dataSent(n);
    });
    return true;
}

void SimSerialLink::onBytes(const QByteArray &bytes)
{
    if (!m_open) return;
    m_rx.append(bytes);
    while (m_open) {
        const auto it = m_rx.take();
        if (!it) break;
        if (it->dropped)
            emit lineDiscarded(it->dropped);
        else
            emit lineReceived(it->line);
    }
}

void SimSerialLink::onPortLost(const QString &reason)
{
    if (!m_open) return;
    close();
    emit portLost(reason);
}

} // namespace kdr::sim
