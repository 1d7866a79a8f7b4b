#pragma once
// The bus side of the program: the port list, the interface scan on `ScanPort`, the bus port
// `Port`, and the operation engine that runs every bus exchange one request at a time (step timers,
// the receive dispatcher, acknowledges, retries, abort, the request watchdog), with the reader
// search and the version and written-card-count requests built on it.
//
// Wiring for the main window (all on the UI thread):
//   cbPort about to drop down        -> cbPortDropDown()      (also once from the show handler)
//   cbPort entry picked              -> cbPortSelect(text)
//   "Scan Port"                      -> btnScanPortClick()
//   "Check KDR status"               -> btnFindKDRClick()
//   start-up chain ended             -> startupScan()         (enables "Scan Port", scans unless "offline")
//   portListChanged(entries, sel)    -> refill cbPort, select `sel`
//   scanPortEnabledChanged(b)        -> btnScanPort->setEnabled(b)   (starts disabled)
//   findKdrEnabledChanged(b)         -> btnFindKDR->setEnabled(b)    (starts disabled)
//   commandCaptionChanged(cmd, text) -> caption of the command's button ("Abort", "Read All Cards", ...)
//   commandEnabledChanged(cmd, b)    -> enable/disable the command's button
//   saveReadCardsEnabledChanged(b)   -> menu "Save read cards"
//   progressMaximumChanged / progressValueChanged -> PB
//   elapsedStarted(reset) / elapsedStopped()       -> TimeElapsed
//   busAt9600()                      -> UpdateBtnState: "Read All functions" needs the 9600-baud bus
//   Workspace::buttonStateChanged    -> UpdateBtnState (emitted after scans, searches, going offline)
//   Workspace::log                   -> the log panel
// The user's questions go through the workspace's Prompter.
#include "bus/Codec.h"
#include "bus/SerialLink.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>

namespace kdr {

class Workspace;
class BusEngine;

// The command button that started the running operation (`ActiveCommand`).
enum class BusCommand { None, GetParams, ReadKDR, ReadKDRFunc, ChangeCard, UpdateCards, DelCard, SendParams };

inline constexpr int kIdle = 99;

// `OperationState` values at 9600 baud. 3 is the page select while an acknowledge is awaited and
// the card count otherwise.
namespace HlxState {
enum : int {
    InitBus = 0, SearchDevice = 1, GetVersion = 2, SelMemAccess = 3, GetCardNo = 3, SelSubPage = 4,
    ReadData = 5, InitBusForWrite = 6, SelMemAccessWrite = 7, SelSubPageWrite = 8, WriteData = 9,
    ResetDevice = 11
};
}
// `OperationState` values over M:BUS.
namespace MBusState {
enum : int { SearchDevice = 1, GetParameters = 2, GetVersion = 3, GetTotalCardNo = 4, GetCardID = 5, WriteBlock = 6, ResetDevice = 7 };
}

// The step timers. Each sends one request and stops itself; only ReadCards repeats.
enum class Step {
    SearchKDR, GetVersion, GetCardNo, SelMemReadDevice, SelSubMemReadDevice, ReadCards,
    SelMemWriteDevice, SelSubMemWriteDevice, WriteCard, Reset, VerifyWrite, Count
};

// The shared operation state; read and written on the UI thread only.
struct OperationVars {
    int OperationState = 0;
    bool AwaitAck = false;
    int RetryCount = 0;
    bool AbortRequested = false;
    BusCommand ActiveCommand = BusCommand::None;
    bool SubPageSelect = false;
    bool WriteOk = false;
    qint32 CurPage = Codec::FirstPage;
    qint32 CurSubPage = -1;
    qint32 CurLocation = Codec::FirstLocation;
    qint32 TargetPage = 0;
    qint32 TargetSubPage = -1;
    qint32 TargetLocation = 0;
    qint32 LastCardId = 0;
    qint32 ReaderVersion = 0;
    QStringList ReceivedValues;
    QStringList ReceivedFunctions;
    QString WriteData1, WriteData2, WriteData3;
    int WritePart = 0;
    QString LastFoundSerial;
};

// The card-memory operations (reading and writing parameters and cards) plug their data handling
// into the engine here. Without handlers the engine sends and acknowledges as usual, drops the
// data lines of these states and lets the read stream stop after one request.
class MemoryHandlers {
public:
    virtual ~MemoryHandlers() = default;
    // TSelMemReadDevice at 9600, before the page select is built: first location, subpage rule.
    virtual void prepareSelMemRead(BusEngine &e) = 0;
    // After each TReadCards request: advance the location, stop the stream at its end.
    virtual void afterReadRequest(BusEngine &e) = 0;
    // 9600, state ReadData: parameter lines, functions, card numbers or the write verify.
    virtual void readData(BusEngine &e, const QString &line) = 0;
    // M:BUS data lines of GetParameters, GetCardID and WriteBlock.
    virtual void mbusParameterBlock(BusEngine &e, const QString &line) = 0;
    virtual void mbusCardBlock(BusEngine &e, const QString &line) = 0;
    virtual void mbusWriteVerify(BusEngine &e, const QString &line) = 0;
    // 9600 parameter write: the next block of three parts at progress positions 3, 6, 9, 12.
    virtual void nextParameterBlock(BusEngine &e) = 0;
    // TReset, after the reset request went out: the follow-up of a write.
    virtual void afterReset(BusEngine &e) = 0;
    // TVerifyWrite: the read-back after a changed card (9600).
    virtual void verifyWrite(BusEngine &e) = 0;
};

class BusEngine : public QObject {
    Q_OBJECT
public:
    using LinkFactory = std::function<SerialLink *(QObject *parent)>;
    using PortLister = std::function<QStringList()>;

    // The factory makes the two port objects (`ScanPort`, `Port`); the default lister returns the
    // system's serial ports.
    BusEngine(Workspace &ws, LinkFactory makeLink, QObject *parent = nullptr);
    ~BusEngine() override;

    void setPortLister(PortLister l) { m_lister = std::move(l); }
    void setMemoryHandlers(MemoryHandlers *h) { m_memory = h; }
    static QStringList systemPortNames(); // ascending, natural order (ttyS2 before ttyS10)

    Workspace &workspace() const { return m_ws; }
    OperationVars op;

    // Port list and scan.
    QStringList portEntries() const { return m_entries; }
    QString selectedPort() const { return m_selected; }
    static bool isPortEntry(const QString &entry); // not "offline", "refresh" or empty
    void cbPortDropDown();
    void cbPortSelect(const QString &entry);
    void btnScanPortClick();
    void startupScan();
    bool interfaceFound() const { return m_interfaceFound; }
    QString interfaceModel() const { return m_interfaceModel; } // "KIM3100", "KIM3110", "KIM3121"
    bool scanPortEnabled() const { return m_scanEnabled; }
    bool findKdrEnabled() const { return m_findEnabled; }
    bool scanning() const;

    // Bus port.
    SerialLink *scanPort() const { return m_scanPort; }
    SerialLink *port() const { return m_port; }
    bool busOpen() const;
    bool busAt9600() const; // the bus port is open at 9600 baud (HLX:BUS interface)
    bool isMBus() const;    // the bus port runs at 28800 baud

    // Reader search.
    void btnFindKDRClick();
    void InitHLXBUS();

    // The engine's primitives for the operations built on it.
    void startStep(Step s);
    void stopStep(Step s);
    bool stepActive(Step s) const;
    // Abort-guarded start: nothing happens while `AbortRequested` is set.
    void startStepUnlessAborted(Step s);
    // Logs the send line and writes the telegram to `Port`; the data-sent event arms the watchdog.
    void sendRequest(const QByteArray &telegram, bool logSendLine = true);
    // Stops the request watchdog; the request just sent will not start it again (reset step).
    void stopRequestWatchdog();
    bool watchdogRunning() const { return m_watchdog.isActive(); }
    void log(const QString &line);
    qint32 currentSerial() const; // KDRSerial of the selected reader
    void SaveVersionToTable(qint32 version);
    void CalcCardLocation(qint32 id, bool withLog);
    void CalcMBusCardLocation(qint32 id, bool withLog);

    // Progress bar and elapsed-time display.
    void setProgressMaximum(int max);
    void setProgressValue(int value);
    void progressStep();
    int progressMaximum() const { return m_pbMax; }
    int progressValue() const { return m_pbValue; }
    void startElapsed(bool reset);
    void stopElapsed();
    void setCommandCaption(BusCommand c, const QString &caption);
    void setCommandEnabled(BusCommand c, bool on);

    // The receive handler of `Port` (public so that tests can feed a line directly).
    void PortDataAvailable(const QByteArray &raw);

    // The local date and time of the send line; tests may fix it.
    std::function<QString()> now;

signals:
    void portListChanged(const QStringList &entries, const QString &selected);
    void scanPortEnabledChanged(bool on);
    void findKdrEnabledChanged(bool on);
    void commandCaptionChanged(kdr::BusCommand cmd, const QString &caption);
    void commandEnabledChanged(kdr::BusCommand cmd, bool on);
    void saveReadCardsEnabledChanged(bool on);
    void progressMaximumChanged(int max);
    void progressValueChanged(int value);
    void elapsedStarted(bool reset);
    void elapsedStopped();

private:
    // Scan.
    bool OpenKDRPort(SerialLink *link, const QString &name, bool mbus, QString *why);
    void ScanPortDataAvailable(const QByteArray &raw);
    void TTimeOutScanTimer();
    void TClosePortTimer();
    void goOffline(bool refill);
    void fillPortList();
    void setScanEnabled(bool on);
    void setFindEnabled(bool on);
    void markAllReadersOffline();
    void onPortLost(SerialLink *link, const QString &reason);
    // `Port` was closed under the running operation: nothing more can be sent for it.
    void busPortClosed();

    // Engine.
    void runStep(Step s);
    void PortDataSent();
    void TTimeOUTEndOfTime();
    void startWatchdog();
    void stopWatchdog();
    void dispatchHlx(const QString &line);
    void dispatchMBus(const QString &line);

    // Acknowledge actions (see the tables in BusEngine.cpp).
    void ackStartSearch();
    void ackStartVersion();
    void ackSelMemReadOk();
    void ackSelMemReadFailed();
    void ackSelSubReadOk();
    void ackSelSubReadFailed();
    void ackStartSelMemWrite();
    void ackSelMemWriteOk();
    void ackSelMemWriteFailed();
    void ackSelSubWriteOk();
    void ackSelSubWriteFailed();
    void ackWriteDataOk();
    void ackWriteDataFailed();
    void ackMBusWriteBlock(bool positive);

    // Data handlers.
    void dataSearchHlx(const QString &line);
    void dataSearchMBus(const QString &line);
    void acceptReader(const QString &serial, const QString &logPrefix);
    void dataVersionHlx(const QString &line);
    void dataVersionMBus(const QString &line);
    void dataCardCountHlx(const QString &line);
    void dataCardCountMBus(const QString &line);
    void afterCardCount();
    void dataMemoryHlx(const QString &line);
    void dataMBusParameters(const QString &line);
    void dataMBusCardBlock(const QString &line);
    void dataMBusWriteVerify(const QString &line);
    void dataMBusResetDone(const QString &line);
    void FilterTimerTimer();
    bool askLastCardNumber(qint32 *n);

    // Step bodies.
    void TSearchKDR();
    struct ReaderQuery {
        QString logLine;
        int mbusState;
        QString mbusData;
        int hlxState;
        QString hlxGroup, hlxCode;
    };
    void sendReaderQuery(const ReaderQuery &q);
    void sendPageSelect(int state);
    void sendSubPageSelect(int state);
    void TGetVersion();
    void TGetCardNo();
    void TSelMemReadDevice();
    void TSelSubMemReadDevice();
    void TReadCards();
    void TSelMemWriteDevice();
    void TSelSubMemWriteDevice();
    void TWriteCard();
    void TReset();

    friend struct BusTables;

    Workspace &m_ws;
    SerialLink *m_scanPort = nullptr;
    SerialLink *m_port = nullptr;
    MemoryHandlers *m_memory = nullptr;
    PortLister m_lister;

    QStringList m_entries;
    QString m_selected;
    bool m_interfaceFound = false;
    QString m_interfaceModel;
    int m_scanBaud = 9600; // speed of ScanPort in the last scan; decides the bus port's speed
    bool m_scanEnabled = false;
    bool m_findEnabled = false;
    QTimer m_timeOutScan;
    QTimer m_closePort;
    QTimer m_filterTimer;

    std::array<QTimer, size_t(Step::Count)> m_steps;
    QTimer m_watchdog;         // TTimeOUT: 5 s after a request left the port
    bool m_watchArmed = false; // the next data-sent event starts the watchdog

    int m_pbMax = 0;
    int m_pbValue = 0;
};

} // namespace kdr
