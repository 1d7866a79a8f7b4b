#include "bus/QtSerialLink.h"

#include <QFileInfo>
#include <QMetaObject>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kdr {

QtSerialLink::QtSerialLink(QObject *parent) : SerialLink(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialLink::onReadyRead);
    connect(&m_port, &QSerialPort::bytesWritten, this, [this](qint64 n) { emit dataSent(n); });
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLink::onError);
}

QtSerialLink::~QtSerialLink()
{
    if (m_port.isOpen()) m_port.close();
}

QString QtSerialLink::devicePath(const QString &portName)
{
    return portName.contains(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

QString QtSerialLink::explainOpenFailure(const QString &portName, QSerialPort::SerialPortError qtError,
                                         const QString &qtText)
{
    const QString path = devicePath(portName);
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || qtError == QSerialPort::DeviceNotFoundError)
        return QStringLiteral("Port %1 does not exist (no device %2); unplugged or renamed?").arg(portName, path);
    // Qt says PermissionError both for missing rights and for a port another program holds.
    if (::access(native.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        const struct group *g = ::getgrgid(st.st_gid);
        const QString group = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
        return QStringLiteral("No permission to use %1 (it belongs to group \"%2\"). Add your user to that group: "
                              "sudo usermod -a -G %2 $USER, then log out and in again.")
            .arg(path, group);
    }
    if (qtError == QSerialPort::PermissionError)
        return QStringLiteral("Port %1 is busy: another program holds it (often ModemManager or brltty; "
                              "stop or uninstall them, or close the other program).")
            .arg(portName);
    return QStringLiteral("Port %1 cannot be opened: %2").arg(portName, qtText);
}

bool QtSerialLink::open(const QString &portName, int baudRate, int stopBits, QString *error)
{
    if (m_port.isOpen()) close();
    m_name = portName;
    m_baud = baudRate;
    m_rx.clear();
    m_lossPending = false;
    ++m_generation;
    m_port.setPortName(devicePath(portName));
    m_port.setBaudRate(baudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(LineBuffer::kCapacity);
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (error) *error = explainOpenFailure(portName, m_port.error(), m_port.errorString());
        m_port.clearError();
        return false;
    }
    // A pseudo-terminal has no modem lines: Qt reports UnsupportedOperationError, which is harmless.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(true);
    m_port.clearError();
    return true;
}

void QtSerialLink::close()
{
    m_rx.clear();
    if (m_port.isOpen()) m_port.close();
}

void QtSerialLink::purge()
{
    m_rx.clear();
    if (m_port.isOpen()) m_port.clear(QSerialPort::AllDirections);
}

bool QtSerialLink::send(const QByteArray &data)
{
    if (!m_port.isOpen()) return false;
    return m_port.write(data) == data.size();
}

void QtSerialLink::onReadyRead()
{
    m_rx.append(m_port.readAll());
    while (auto it = m_rx.take()) {
        if (it->dropped)
            emit lineDiscarded(it->dropped);
        else
            emit lineReceived(it->line);
    }
}

void QtSerialLink::onError(QSerialPort::SerialPortError e)
{
    if (e != QSerialPort::ReadError && e != QSerialPort::ResourceError) return;
    if (!m_port.isOpen() || m_lossPending) return;
    // Qt 6.4 keeps the port open and repeats the error for ever when the device vanishes:
    // close it once, outside the signal that reports it.
    m_lossPending = true;
    const QString reason = m_port.errorString();
    const quint64 gen = m_generation;
    QMetaObject::invokeMethod(
        this, [this, reason, gen] {
            if (gen == m_generation) closeAfterLoss(reason);
        },
        Qt::QueuedConnection);
}

void QtSerialLink::closeAfterLoss(const QString &reason)
{
    if (!m_port.isOpen()) return;
    m_rx.clear();
    m_port.close();
    emit portLost(QStringLiteral("Port %1 was lost: %2").arg(m_name, reason));
}

} // namespace kdr
