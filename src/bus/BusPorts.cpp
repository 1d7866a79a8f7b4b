// The port list, opening a port, the interface scan (9600 baud, then M:BUS at 28800 baud) and
// going offline.
#include "bus/BusEngine.h"

#include "store/Records.h"
#include "store/TableRoutines.h"
#include "store/Workspace.h"

#include <QCollator>
#include <QCoreApplication>
#include <QSerialPortInfo>
#include <QThread>

namespace kdr {

using namespace Codec;

namespace {
const QString kOffline = QStringLiteral("offline");
const QString kRefresh = QStringLiteral("refresh");

// Lets pending events run, then waits: the port's last bytes drain before it is closed or reopened.
void settle(int ms)
{
    QCoreApplication::processEvents();
    QThread::msleep(ms);
}
} // namespace

QStringList BusEngine::systemPortNames()
{
    QStringList names;
    for (const QSerialPortInfo &i : QSerialPortInfo::availablePorts()) names.append(i.portName());
    QCollator c;
    c.setNumericMode(true);
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) { return c.compare(a, b) < 0; });
    names.removeDuplicates();
    return names;
}

bool BusEngine::isPortEntry(const QString &entry) { return !entry.isEmpty() && entry != kOffline && entry != kRefresh; }

bool BusEngine::scanning() const { return m_timeOutScan.isActive() || m_closePort.isActive(); }

void BusEngine::setScanEnabled(bool on)
{
    m_scanEnabled = on;
    emit scanPortEnabledChanged(on);
}

void BusEngine::setFindEnabled(bool on)
{
    m_findEnabled = on;
    emit findKdrEnabledChanged(on);
}

void BusEngine::cbPortDropDown()
{
    if (m_entries.size() >= 3) return;
    fillPortList();
}

void BusEngine::fillPortList()
{
    QStringList ports = m_lister ? m_lister() : QStringList();
    for (const QString &extra : m_ws.settings.extraPorts.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString e = extra.trimmed();
        if (!e.isEmpty() && !ports.contains(e)) ports.append(e);
    }
    m_entries.clear();
    int remembered = -1;
    if (ports.isEmpty()) {
        log(QStringLiteral("> [ERROR] Ports do not exists: 0 found!"));
    } else {
        for (const QString &p : ports) {
            log(QStringLiteral("> Found ") + p);
            if (p == m_ws.settings.lastPort) remembered = int(m_entries.size());
            m_entries.append(p);
        }
    }
    m_entries << kOffline << kRefresh;
    m_selected = remembered >= 0 ? m_entries.at(remembered) : kOffline;
    emit portListChanged(m_entries, m_selected);
}

void BusEngine::cbPortSelect(const QString &entry)
{
    if (entry == kOffline || entry == kRefresh) {
        m_selected = kOffline;
        goOffline(entry == kRefresh);
        return;
    }
    if (m_entries.contains(entry)) m_selected = entry;
}

void BusEngine::goOffline(bool refill)
{
    if (m_port->isOpen()) {
        m_port->purge();
        m_port->close();
        busPortClosed();
        log(QStringLiteral("Port: ") + m_port->portName() + QStringLiteral(" is closed."));
        m_filterTimer.stop(); // a pending filter would hide every reader once all are OFFLINE
        markAllReadersOffline();
        emit m_ws.buttonStateChanged();
    }
    if (refill) {
        m_entries.clear();
        fillPortList();
    }
}

bool BusEngine::OpenKDRPort(SerialLink *link, const QString &name, bool mbus, QString *why)
{
    if (link->isOpen()) {
        link->close();
        settle(250);
    }
    if (!link->open(name, mbus ? 28800 : 9600, mbus ? 2 : 1, why)) return false;
    if (link == m_scanPort) m_scanBaud = mbus ? 28800 : 9600;
    log(QStringLiteral("Port ") + name + QStringLiteral(" is opened"));
    return true;
}

void BusEngine::startupScan()
{
    setScanEnabled(true);
    if (m_selected != kOffline) btnScanPortClick();
}

void BusEngine::btnScanPortClick()
{
    if (m_selected == kOffline) {
        log(QStringLiteral("ERROR: You are in offline mode!"));
        return;
    }
    if (!isPortEntry(m_selected)) return;
    setScanEnabled(false);
    setFindEnabled(false);
    m_interfaceFound = false;
    m_interfaceModel.clear();
    emit m_ws.buttonStateChanged();

    if (m_port->isOpen()) {
        log(QStringLiteral("> Detected open port for KDR search"));
        settle(200);
        const QString name = m_port->portName();
        m_port->close();
        busPortClosed();
        log(QStringLiteral("Port: ") + name + QStringLiteral(" is closed."));
        emit m_ws.buttonStateChanged();
    }
    m_timeOutScan.stop();
    QString why;
    m_scanBaud = 9600;
    if (!OpenKDRPort(m_scanPort, m_selected, false, &why)) {
        log(QStringLiteral("[ERROR] Port ") + m_selected + QStringLiteral(" is not accessible!"));
        if (!why.isEmpty()) log(QStringLiteral("> ") + why);
        m_closePort.start(m_ws.settings.timeOutProtokol);
        return;
    }
    log(QStringLiteral("> Searching Interface on ") + m_selected + QStringLiteral("..."));
    log(QStringLiteral("> ") + now() + QStringLiteral(" Sending: ") + NormalizeLine(ScanTelegram));
    m_scanPort->send(ScanTelegram);
    m_timeOutScan.start();
}

void BusEngine::TTimeOutScanTimer()
{
    const QString name = m_scanPort->portName().isEmpty() ? m_selected : m_scanPort->portName();
    if (m_scanBaud == 9600) {
        log(QStringLiteral(">> Interface not found on ") + name);
        QString why;
        if (OpenKDRPort(m_scanPort, m_selected, true, &why)) {
            log(QStringLiteral("> Searching Interface(M) on ") + m_selected + QStringLiteral("..."));
            log(QStringLiteral("> ") + now() + QStringLiteral(" Sending: ") + NormalizeLine(MBusScanTelegram));
            m_scanPort->send(MBusScanTelegram);
        } else {
            m_scanBaud = 28800; // the next expiry ends the scan
            if (!why.isEmpty()) log(QStringLiteral("> ") + why);
        }
        return;
    }
    log(QStringLiteral(">> Interface(M) not found on ") + name);
    m_closePort.start(m_ws.settings.timeOutProtokol);
    m_timeOutScan.stop();
}

void BusEngine::ScanPortDataAvailable(const QByteArray &raw)
{
    const QString line = NormalizeLine(raw); // scan lines keep their first character
    QString model, serial;
    if (m_scanBaud == 9600) {
        if (line == QLatin1String(".3F")) {
            log(QStringLiteral("> Response to SearchInterface ") + line);
        } else if (Field(line, 2, 1) == QLatin1String("0")) {
            model = QStringLiteral("KIM3100");
            serial = FieldRange(line, 3, 6);
        } else if (Field(line, 1, 2) == QLatin1String("08")) {
            log(QStringLiteral("> Received data: ") + line);
            log(QStringLiteral("> No video signal and/or M-wire missing: ") + line);
        } else {
            model = QStringLiteral("KIM3110");
            serial = FieldRange(line, 2, 6);
        }
    } else if (line.startsWith(QLatin1Char('-')) && line.size() == 4) {
        model = QStringLiteral("KIM3121");
    }

    if (!model.isEmpty()) {
        QString serialText = QStringLiteral("0 (not used)");
        bool identified = true;
        if (model != QLatin1String("KIM3121")) {
            try {
                serialText = HexToDecimalText(serial);
            } catch (const ConversionError &) {
                // Not an interface answer after all: say so and let the scan run on.
                log(QStringLiteral("> Received data: ") + line);
                log(QStringLiteral("> ERROR: no interface serial number in the answer: ") + line);
                identified = false;
            }
        }
        if (identified) {
            m_timeOutScan.stop();
            log(QStringLiteral("> Received data: ") + line);
            log(QStringLiteral("> Interface found on ") + m_scanPort->portName());
            log(QStringLiteral("> Interface type: ") + model);
            log(QStringLiteral("> Interface serial number: ") + serialText);
            m_interfaceFound = true;
            m_interfaceModel = model;
        }
    }

    if (m_interfaceFound) {
        m_ws.settings.lastPort = m_scanPort->portName();
        const QString err = m_ws.settings.saveLastPort(m_ws.settingsPath());
        if (!err.isEmpty()) log(QStringLiteral("> ") + err);
    }
    m_closePort.start(m_ws.settings.timeOutProtokol);
}

void BusEngine::TClosePortTimer()
{
    m_closePort.stop();
    if (m_scanPort->isOpen()) {
        const QString name = m_scanPort->portName();
        m_scanPort->close();
        log(QStringLiteral("> Port ") + name + QStringLiteral(" is closed."));
    }
    setScanEnabled(true);
    setFindEnabled(m_entries.size() > 1 && m_interfaceFound);
}

void BusEngine::onPortLost(SerialLink *link, const QString &reason)
{
    log(QStringLiteral("> ") + reason + QStringLiteral(" The port is closed."));
    if (link == m_port) {
        busPortClosed();
        emit m_ws.buttonStateChanged();
    }
}

void BusEngine::busPortClosed()
{
    for (QTimer &t : m_steps) t.stop();
    stopRequestWatchdog();
}

} // namespace kdr
