#include "store/Settings.h"

#include "store/IniFile.h"

namespace kdr {

namespace {
const QString kTime = QStringLiteral("TimeSett");
const QString kProg = QStringLiteral("ProgSett");
const QString kReport = QStringLiteral("ReportSett");
} // namespace

TimeoutSet timeoutsFor(PortType t)
{
    switch (t) {
    case PortType::RS232: return {500, 400, 400};
    case PortType::HlxBusUsb: return {300, 300, 300};
    case PortType::MBusUsb: return {250, 225, 225};
    }
    return {300, 300, 300};
}

QString portTypeLogLine(int ms)
{
    if (ms >= 200 && ms <= 299) return QStringLiteral("MBUS USB speed is set!");
    if (ms >= 300 && ms <= 499) return QStringLiteral("HLXBUS USB speed is set!");
    if (ms >= 500 && ms <= 999) return QStringLiteral("RS232 speed is set!");
    return QString();
}

bool Settings::load(const QString &iniPath)
{
    IniFile ini;
    const bool ok = ini.load(iniPath);
    const Settings d;
    timeOutProtokol = ini.intValue(kTime, QStringLiteral("TimeOutProtokol"), d.timeOutProtokol);
    timeOutRead = ini.intValue(kTime, QStringLiteral("TimeOutRead"), d.timeOutRead);
    timeOutWrite = ini.intValue(kTime, QStringLiteral("TimeOutWrite"), d.timeOutWrite);
    usbOrSerial = ini.intValue(kTime, QStringLiteral("aUSBorSerial"), d.usbOrSerial);
    refreshScroll = ini.boolValue(kProg, QStringLiteral("aRefreshScroll"), d.refreshScroll);
    vtdFolderPath = ini.value(kProg, QStringLiteral("aVTDFolderPath"), d.vtdFolderPath).replace(QLatin1Char('\\'), QLatin1Char('/'));
    reportIndex = ini.intValue(kProg, QStringLiteral("aReportIndx"), d.reportIndex);
    lastPortNo = ini.intValue(kProg, QStringLiteral("aLastPortNo"), d.lastPortNo);
    lastPort = ini.value(kProg, QStringLiteral("aLastPort"), d.lastPort);
    extraPorts = ini.value(kProg, QStringLiteral("aExtraPorts"), d.extraPorts);
    sendReport = ini.boolValue(kReport, QStringLiteral("aSendReport"), d.sendReport);
    return ok;
}

QString Settings::save(const QString &iniPath) const
{
    IniFile ini;
    ini.load(iniPath); // keep keys we do not own, e.g. aLastPortNo
    ini.setInt(kTime, QStringLiteral("TimeOutProtokol"), timeOutProtokol);
    ini.setInt(kTime, QStringLiteral("TimeOutRead"), timeOutRead);
    ini.setInt(kTime, QStringLiteral("TimeOutWrite"), timeOutWrite);
    ini.setInt(kTime, QStringLiteral("aUSBorSerial"), usbOrSerial);
    ini.setBool(kProg, QStringLiteral("aRefreshScroll"), refreshScroll);
    ini.setValue(kProg, QStringLiteral("aVTDFolderPath"), vtdFolderPath);
    ini.setInt(kProg, QStringLiteral("aReportIndx"), reportIndex);
    if (!extraPorts.isEmpty()) ini.setValue(kProg, QStringLiteral("aExtraPorts"), extraPorts);
    ini.setBool(kReport, QStringLiteral("aSendReport"), sendReport);
    return ini.save(iniPath);
}

QString Settings::saveLastPort(const QString &iniPath) const
{
    IniFile ini;
    ini.load(iniPath);
    ini.setValue(kProg, QStringLiteral("aLastPort"), lastPort);
    return ini.save(iniPath);
}

} // namespace kdr
