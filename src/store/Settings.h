#pragma once
// The program's settings, kept in "<program file>.ini" next to the program.
#include <QString>

namespace kdr {

enum class PortType { RS232 = 0, HlxBusUsb = 1, MBusUsb = 2 };

struct TimeoutSet {
    int protocol, read, write;
};
TimeoutSet timeoutsFor(PortType t);
// The start-up log line for a protocol time-out ("MBUS USB speed is set!", ...); empty for none.
QString portTypeLogLine(int protocolTimeoutMs);

struct Settings {
    int timeOutProtokol = 300;
    int timeOutRead = 300;
    int timeOutWrite = 300;
    int usbOrSerial = 1;          // PortType
    bool refreshScroll = true;
    QString vtdFolderPath;        // active subfolder relative to the program folder, "/" separated
    int reportIndex = -1;
    int lastPortNo = 0;           // kept as found
    QString lastPort;             // port name last used
    QString extraPorts;           // ";"-separated device paths added to the port list
    bool sendReport = true;

    static QString fileFor(const QString &programPath) { return programPath + QStringLiteral(".ini"); }
    // Missing file, section or key: the default. Returns false when the file exists but cannot be read.
    bool load(const QString &iniPath);
    // Every key except the last port number (and the last port, written when a port is used).
    QString save(const QString &iniPath) const;
    QString saveLastPort(const QString &iniPath) const;
};

} // namespace kdr
