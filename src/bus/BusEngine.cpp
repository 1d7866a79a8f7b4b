// The operation engine: step timers, the send tail, the receive dispatcher with its acknowledge
// and data tables, retries, abort, the request watchdog.
#include "bus/BusEngine.h"

#include "store/Records.h"
#include "store/Workspace.h"

#include <QDateTime>
#include <QLocale>

namespace kdr {

using namespace Codec;

namespace {
constexpr int kWatchdogMs = 5000;
const QString kResetLine = QStringLiteral("> Reset device");

QString defaultNow()
{
    const QLocale loc = QLocale::system();
    const QDateTime t = QDateTime::currentDateTime();
    // Qt's long time format may carry the time zone name; the log shows the clock time only.
    QString timeFmt = loc.timeFormat(QLocale::LongFormat);
    timeFmt.remove(QLatin1Char('t'));
    return loc.toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ') + loc.toString(t.time(), timeFmt.trimmed());
}
} // namespace

// One row of an acknowledge table: the state, the log lines of a positive and a negative
// acknowledge (nullptr: none, or the action writes it), and what follows.
struct AckRow {
    int state;
    const char *okText;
    const char *failText;
    void (BusEngine::*onOk)();
    void (BusEngine::*onFail)();
};

// One row of a data table: lines that arrive while no acknowledge is awaited.
struct DataRow {
    int state;
    void (BusEngine::*handle)(const QString &line);
};

// The dispatch tables; a friend of the engine so that the rows can name its handlers.
struct BusTables {
    static const AckRow hlxAck[];
    static const AckRow mbusAck[];
    static const DataRow hlxData[];
    static const DataRow mbusData[];
};

// Acknowledges at 9600 baud; positive means the line is "1".
const AckRow BusTables::hlxAck[] = {
    {HlxState::InitBus, "> Response to InitHLXBUS OK!", "> Response to InitHLXBUS Failed!", &BusEngine::ackStartSearch, nullptr},
    {HlxState::SearchDevice, "> Response to SearchDevice OK!", "> Response to SearchDevice Failed!", nullptr, nullptr},
    {HlxState::GetVersion, "> Response to InitHLXBUS OK!", "> Response to InitHLXBUS Failed!", &BusEngine::ackStartVersion, nullptr},
    {HlxState::SelMemAccess, "> Response to SelMemAccess OK!", "> Response to SelMemAccess Failed!", &BusEngine::ackSelMemReadOk, &BusEngine::ackSelMemReadFailed},
    {HlxState::SelSubPage, "> Response to SelSubPage OK!", "> Response to SelSubPage Failed!", &BusEngine::ackSelSubReadOk, &BusEngine::ackSelSubReadFailed},
    {HlxState::InitBusForWrite, "> Response to InitHLXBUS OK!", nullptr, &BusEngine::ackStartSelMemWrite, nullptr},
    {HlxState::SelMemAccessWrite, "> Response to SelMemAccess OK!", "> Response to SelMemAccess Failed!", &BusEngine::ackSelMemWriteOk, &BusEngine::ackSelMemWriteFailed},
    {HlxState::SelSubPageWrite, nullptr, "> Response to SelSubPage Failed!", &BusEngine::ackSelSubWriteOk, &BusEngine::ackSelSubWriteFailed},
    {HlxState::WriteData, nullptr, "> Response to WriteData Failed!", &BusEngine::ackWriteDataOk, &BusEngine::ackWriteDataFailed},
};

// Acknowledges over M:BUS; positive means the line contains "(". The write block is handled by
// ackMBusWriteBlock (its name depends on the command).
const AckRow BusTables::mbusAck[] = {
    {MBusState::SearchDevice, "> Response to SearchDevice OK!", "> Response to SearchDevice Failed!", nullptr, nullptr},
    {MBusState::GetParameters, "> Response to GetParameters OK!", "> Response to GetParameters Failed!", nullptr, nullptr},
    {MBusState::GetVersion, "> Response to GetVersion OK!", "> Response to GetVersion Failed!", nullptr, nullptr},
    {MBusState::GetTotalCardNo, "> Response to GetTotalCardNo OK!", "> Response to GetTotalCardNo Failed!", nullptr, nullptr},
    {MBusState::GetCardID, "> Response to GetCardID OK!", "> Response to GetCardID Failed!", nullptr, nullptr},
    {MBusState::ResetDevice, "> Response to Reset request OK!", "> Response to Reset request Failed!", nullptr, nullptr},
};

// Data lines at 9600 baud.
const DataRow BusTables::hlxData[] = {
    {HlxState::SearchDevice, &BusEngine::dataSearchHlx},    // reader found
    {HlxState::GetVersion, &BusEngine::dataVersionHlx},     // software version
    {HlxState::GetCardNo, &BusEngine::dataCardCountHlx},    // written-card count
    {HlxState::ReadData, &BusEngine::dataMemoryHlx},        // memory handlers, by ActiveCommand
};

// Data lines over M:BUS.
const DataRow BusTables::mbusData[] = {
    {MBusState::SearchDevice, &BusEngine::dataSearchMBus},
    {MBusState::GetParameters, &BusEngine::dataMBusParameters},
    {MBusState::GetVersion, &BusEngine::dataVersionMBus},
    {MBusState::GetTotalCardNo, &BusEngine::dataCardCountMBus},
    {MBusState::GetCardID, &BusEngine::dataMBusCardBlock},
    {MBusState::WriteBlock, &BusEngine::dataMBusWriteVerify},
    {MBusState::ResetDevice, &BusEngine::dataMBusResetDone},
};

const auto &kHlxAckTable = BusTables::hlxAck;
const auto &kMBusAckTable = BusTables::mbusAck;
const auto &kHlxDataTable = BusTables::hlxData;
const auto &kMBusDataTable = BusTables::mbusData;

BusEngine::BusEngine(Workspace &ws, LinkFactory makeLink, QObject *parent)
    : QObject(parent), now(defaultNow), m_ws(ws)
{
    m_scanPort = makeLink(this);
    m_port = makeLink(this);
    m_lister = &BusEngine::systemPortNames;

    connect(m_scanPort, &SerialLink::lineReceived, this, &BusEngine::ScanPortDataAvailable);
    connect(m_port, &SerialLink::lineReceived, this, &BusEngine::PortDataAvailable);
    connect(m_port, &SerialLink::dataSent, this, &BusEngine::PortDataSent);
    for (SerialLink *l : {m_scanPort, m_port})
        connect(l, &SerialLink::lineDiscarded, this, [this](qint64 bytes) {
            log(QStringLiteral("> ERROR: a received line of %1 bytes is longer than the 4096-byte buffer; it was dropped.")
                    .arg(bytes));
        });
    connect(m_scanPort, &SerialLink::portLost, this, [this](const QString &r) { onPortLost(m_scanPort, r); });
    connect(m_port, &SerialLink::portLost, this, [this](const QString &r) { onPortLost(m_port, r); });

    for (size_t i = 0; i < m_steps.size(); ++i) {
        m_steps[i].setSingleShot(Step(i) != Step::ReadCards);
        connect(&m_steps[i], &QTimer::timeout, this, [this, i] { runStep(Step(i)); });
    }
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &BusEngine::TTimeOUTEndOfTime);

    m_timeOutScan.setInterval(2000);
    connect(&m_timeOutScan, &QTimer::timeout, this, &BusEngine::TTimeOutScanTimer);
    m_closePort.setSingleShot(true);
    connect(&m_closePort, &QTimer::timeout, this, &BusEngine::TClosePortTimer);
    m_filterTimer.setSingleShot(true);
    m_filterTimer.setInterval(600);
    connect(&m_filterTimer, &QTimer::timeout, this, &BusEngine::FilterTimerTimer);
}

BusEngine::~BusEngine() = default;

void BusEngine::log(const QString &line) { m_ws.log.append(line); }

bool BusEngine::busOpen() const { return m_port->isOpen(); }
bool BusEngine::busAt9600() const { return m_port->isOpen() && m_port->baudRate() == 9600; }
bool BusEngine::isMBus() const { return m_port->baudRate() == 28800; }

qint32 BusEngine::currentSerial() const
{
    const int row = m_ws.selectedReaderRow();
    return row >= 0 ? m_ws.readers.storedValue(row, ReaderField::KDRSerial).toInt() : 0;
}

// ---- progress, elapsed time, command buttons ----

void BusEngine::setProgressMaximum(int max)
{
    m_pbMax = max;
    emit progressMaximumChanged(max);
}

void BusEngine::setProgressValue(int value)
{
    m_pbValue = value;
    emit progressValueChanged(value);
}

// One step forward: a Qt progress bar repaints on every value, so no extra nudge is needed.
void BusEngine::progressStep() { setProgressValue(m_pbValue + 1); }

void BusEngine::startElapsed(bool reset) { emit elapsedStarted(reset); }
void BusEngine::stopElapsed() { emit elapsedStopped(); }
void BusEngine::setCommandCaption(BusCommand c, const QString &caption) { emit commandCaptionChanged(c, caption); }
void BusEngine::setCommandEnabled(BusCommand c, bool on) { emit commandEnabledChanged(c, on); }

// ---- step timers ----

void BusEngine::startStep(Step s)
{
    const Settings &st = m_ws.settings;
    const int interval = s == Step::ReadCards ? st.timeOutRead : s == Step::WriteCard ? st.timeOutWrite : st.timeOutProtokol;
    QTimer &t = m_steps[size_t(s)];
    t.setInterval(qMax(0, interval));
    t.start();
}

void BusEngine::stopStep(Step s) { m_steps[size_t(s)].stop(); }
bool BusEngine::stepActive(Step s) const { return m_steps[size_t(s)].isActive(); }

void BusEngine::startStepUnlessAborted(Step s)
{
    if (!op.AbortRequested) startStep(s);
}

void BusEngine::runStep(Step s)
{
    if (s != Step::ReadCards) stopStep(s);
    switch (s) {
    case Step::SearchKDR: TSearchKDR(); break;
    case Step::GetVersion: TGetVersion(); break;
    case Step::GetCardNo: TGetCardNo(); break;
    case Step::SelMemReadDevice: TSelMemReadDevice(); break;
    case Step::SelSubMemReadDevice: TSelSubMemReadDevice(); break;
    case Step::ReadCards: TReadCards(); break;
    case Step::SelMemWriteDevice: TSelMemWriteDevice(); break;
    case Step::SelSubMemWriteDevice: TSelSubMemWriteDevice(); break;
    case Step::WriteCard: TWriteCard(); break;
    case Step::Reset: TReset(); break;
    case Step::VerifyWrite:
        if (m_memory) m_memory->verifyWrite(*this);
        break;
    case Step::Count: break;
    }
}

void BusEngine::sendRequest(const QByteArray &telegram, bool logSendLine)
{
    if (logSendLine) log(QStringLiteral("> ") + now() + QStringLiteral(" Sending: ") + NormalizeLine(telegram));
    if (!m_port->isOpen()) {
        log(QStringLiteral(">> Request not sent: the bus port is closed!"));
        return;
    }
    m_watchArmed = true;
    if (!m_port->send(telegram)) log(QStringLiteral(">> Request not sent: the bus port refused it!"));
}

void BusEngine::InitHLXBUS()
{
    op.AwaitAck = true;
    if (isMBus()) {
        log(QStringLiteral("> Initializing M:BUS..."));
        TSearchKDR();
        return;
    }
    log(QStringLiteral("> Initializing HLX:BUS..."));
    sendRequest(MakeHlxTelegram(HlxInitWord, -1, false));
}

void BusEngine::TSearchKDR()
{
    op.OperationState = HlxState::SearchDevice; // the same value over M:BUS
    op.AwaitAck = true;
    if (isMBus()) {
        log(QStringLiteral("> Searching KDR on M:BUS..."));
        sendRequest(MakeMBusTelegram(0, MBusSearchData));
    } else {
        log(QStringLiteral("> Searching KDR on HLX:BUS..."));
        sendRequest(MakeHlxTelegram(HlxSearchWord, -1, false));
    }
}

// A request about the selected reader: over M:BUS acknowledged before its data line, at 9600 the
// data line is the answer.
void BusEngine::sendReaderQuery(const ReaderQuery &q)
{
    log(q.logLine);
    const bool mbus = isMBus();
    op.OperationState = mbus ? q.mbusState : q.hlxState;
    op.AwaitAck = mbus;
    sendRequest(mbus ? MakeMBusTelegram(currentSerial(), q.mbusData)
                     : MakeHlxSerialTelegram(currentSerial(), q.hlxGroup, q.hlxCode));
}

void BusEngine::TGetVersion()
{
    sendReaderQuery({QStringLiteral("> Requesting software version"), MBusState::GetVersion, MBusVersionData,
                     HlxState::GetVersion, QStringLiteral("5"), QStringLiteral("C0")});
}

void BusEngine::TGetCardNo()
{
    sendReaderQuery({QStringLiteral("> Requesting total card number writed"), MBusState::GetTotalCardNo, MBusCardCountData,
                     HlxState::GetCardNo, QStringLiteral("6"), QStringLiteral("C8")});
}

void BusEngine::TSelMemReadDevice()
{
    if (isMBus()) {
        // Over M:BUS only the parameter read selects memory: it reads block 0 whole.
        if (op.ActiveCommand != BusCommand::GetParams) return;
        op.OperationState = MBusState::GetParameters;
        op.AwaitAck = true;
        sendRequest(MakeMBusReadTelegram(currentSerial(), 0));
        return;
    }
    if (m_memory) m_memory->prepareSelMemRead(*this);
    sendPageSelect(HlxState::SelMemAccess);
}

void BusEngine::TSelSubMemReadDevice() { sendSubPageSelect(HlxState::SelSubPage); }

// 9600: the page select (carrying the reader's serial) and the subpage select, for reading and
// writing alike; only the state they leave for the acknowledge differs.
void BusEngine::sendPageSelect(int state)
{
    op.OperationState = state;
    op.AwaitAck = true;
    log(QStringLiteral("> Selecting KDR for mem access, Page %1...").arg(op.CurPage - FirstPage));
    sendRequest(MakeHlxTelegram(op.CurPage, currentSerial(), true));
}

void BusEngine::sendSubPageSelect(int state)
{
    op.OperationState = state;
    op.AwaitAck = true;
    log(QStringLiteral("> Selecting SubPage %1...").arg(op.CurSubPage - FirstSubPage));
    sendRequest(MakeHlxTelegram(op.CurSubPage, -1, false));
}

void BusEngine::TReadCards()
{
    if (op.AbortRequested) {
        stopStep(Step::ReadCards);
        return;
    }
    op.OperationState = HlxState::ReadData; // 5 at both speeds
    if (isMBus()) {
        op.AwaitAck = true;
        log(QStringLiteral("> EEPROM Location: ") + Hex(op.CurLocation, 4));
        sendRequest(MakeMBusReadTelegram(currentSerial(), op.CurLocation), false);
    } else {
        log(QStringLiteral("> EEPROM Location: ") + Hex(op.CurLocation));
        sendRequest(MakeHlxTelegram(op.CurLocation, -1, false), false);
    }
    if (m_memory)
        m_memory->afterReadRequest(*this);
    else
        stopStep(Step::ReadCards); // nobody advances the location: never repeat the same request
}

void BusEngine::TSelMemWriteDevice() { sendPageSelect(HlxState::SelMemAccessWrite); }

void BusEngine::TSelSubMemWriteDevice() { sendSubPageSelect(HlxState::SelSubPageWrite); }

void BusEngine::TWriteCard()
{
    const bool params = op.ActiveCommand == BusCommand::SendParams;
    log((params ? QStringLiteral("> Location to write params: ") : QStringLiteral("> Location to write card ID: "))
        + Hex(op.CurLocation));
    op.AwaitAck = true;
    if (isMBus()) {
        op.OperationState = MBusState::WriteBlock;
        sendRequest(MakeMBusWriteTelegram(currentSerial(), op.CurLocation, op.WriteData1));
    } else {
        op.OperationState = HlxState::WriteData;
        const QString &part = op.WritePart == 0 ? op.WriteData1 : op.WritePart == 1 ? op.WriteData2 : op.WriteData3;
        sendRequest(MakeHlxSerialTelegram(op.CurLocation, QString(), part));
    }
}

void BusEngine::TReset()
{
    log(kResetLine);
    if (isMBus()) {
        op.OperationState = MBusState::ResetDevice;
        op.AwaitAck = true;
        sendRequest(MakeMBusTelegram(currentSerial(), MBusResetData));
    } else {
        // No answer is expected at 9600; whatever comes is ignored.
        op.OperationState = HlxState::ResetDevice;
        sendRequest(MakeHlxTelegram(HlxResetWord, -1, false));
    }
    setProgressValue(0);
    stopElapsed();
    if (m_memory) m_memory->afterReset(*this);
    stopRequestWatchdog();
}

// ---- request watchdog (TTimeOUT) ----

void BusEngine::PortDataSent()
{
    if (m_watchArmed) startWatchdog();
}

// A running watchdog keeps its start: requests sent while it runs (the read stream) do not
// push the time-out further away. Every stop also clears it.
void BusEngine::startWatchdog()
{
    if (m_watchdog.isActive()) return;
    m_watchdog.start(kWatchdogMs);
}

void BusEngine::stopWatchdog() { m_watchdog.stop(); }

void BusEngine::stopRequestWatchdog()
{
    m_watchArmed = false;
    stopWatchdog();
}

void BusEngine::TTimeOUTEndOfTime()
{
    const QStringList &lines = m_ws.log.lines();
    if (lines.isEmpty() || lines.last() != kResetLine) log(QStringLiteral(">> Request timed out!"));
    stopWatchdog();
}

// ---- receive dispatcher ----

void BusEngine::PortDataAvailable(const QByteArray &raw)
{
    stopWatchdog();
    const QString line = NormalizeLine(raw);
    try {
        if (isMBus())
            dispatchMBus(line);
        else
            dispatchHlx(StripHlxLead(line));
    } catch (const ConversionError &e) {
        // A field that does not convert ends the handling of this line; the state stays.
        log(QStringLiteral("> ERROR: ") + e.text() + QStringLiteral(" in line: ") + line);
    }
}

void BusEngine::dispatchHlx(const QString &line)
{
    if (op.AwaitAck) {
        const bool positive = IsHlxAckPositive(line);
        const int state = op.OperationState;
        // Cleared after the handler, whatever it did; follow-ups are timers that run later.
        struct ClearAck {
            bool &flag;
            ~ClearAck() { flag = false; }
        } clear{op.AwaitAck};
        for (const AckRow &r : kHlxAckTable) {
            if (r.state != state) continue;
            const char *text = positive ? r.okText : r.failText;
            if (text) log(QString::fromLatin1(text));
            if (auto fn = positive ? r.onOk : r.onFail) (this->*fn)();
            break;
        }
        return;
    }
    for (const DataRow &r : kHlxDataTable)
        if (r.state == op.OperationState) {
            (this->*r.handle)(line);
            return;
        }
}

void BusEngine::dispatchMBus(const QString &line)
{
    if (op.AwaitAck) {
        op.AwaitAck = false;
        if (IsMBusProgressMarker(line)) {
            op.AwaitAck = true;
            return;
        }
        const bool positive = IsMBusAckPositive(line);
        if (op.OperationState == MBusState::WriteBlock) {
            ackMBusWriteBlock(positive);
            return;
        }
        for (const AckRow &r : kMBusAckTable)
            if (r.state == op.OperationState) {
                log(QString::fromLatin1(positive ? r.okText : r.failText));
                return;
            }
        return;
    }
    for (const DataRow &r : kMBusDataTable)
        if (r.state == op.OperationState) {
            (this->*r.handle)(line);
            return;
        }
}

// ---- acknowledge actions ----

void BusEngine::ackStartSearch() { startStep(Step::SearchKDR); }
void BusEngine::ackStartVersion() { startStep(Step::GetVersion); }

void BusEngine::ackSelMemReadOk()
{
    op.RetryCount = 0;
    if (op.SubPageSelect) {
        startStepUnlessAborted(Step::SelSubMemReadDevice);
        return;
    }
    log(op.ActiveCommand == BusCommand::GetParams ? QStringLiteral("> Preparing to get parameters...")
                                                  : QStringLiteral("> Preparing to read KDR cards..."));
    startStepUnlessAborted(Step::ReadCards);
}

void BusEngine::ackSelMemReadFailed()
{
    if (op.RetryCount < 3 && !op.AbortRequested) {
        ++op.RetryCount;
        startStep(Step::SelMemReadDevice);
    }
}

void BusEngine::ackSelSubReadOk()
{
    op.RetryCount = 0;
    startStepUnlessAborted(Step::ReadCards);
}

void BusEngine::ackSelSubReadFailed()
{
    if (op.RetryCount < 3 && !op.AbortRequested) {
        ++op.RetryCount;
        startStep(Step::SelSubMemReadDevice);
    }
}

void BusEngine::ackStartSelMemWrite() { startStep(Step::SelMemWriteDevice); }

void BusEngine::ackSelMemWriteOk()
{
    const QString parts = op.WriteData1 + QLatin1Char('|') + op.WriteData2 + QLatin1Char('|') + op.WriteData3;
    if (op.ActiveCommand == BusCommand::SendParams) {
        log(QStringLiteral("> Preparing to write parameters..."));
        setProgressMaximum(15);
    } else {
        log(QStringLiteral("> Preparing to write KDR card..."));
        setProgressMaximum(3);
    }
    log(QStringLiteral("> Data to write(params): ") + parts);
    op.WritePart = 0;
    op.RetryCount = 0;
    startElapsed(true);
    startStep(op.CurSubPage == -1 ? Step::WriteCard : Step::SelSubMemWriteDevice);
}

void BusEngine::ackSelMemWriteFailed()
{
    if (op.RetryCount < 3) {
        ++op.RetryCount;
        startStep(Step::SelMemWriteDevice);
    }
}

void BusEngine::ackSelSubWriteOk()
{
    op.RetryCount = 0;
    log(QStringLiteral("> Response to SelSubPage OK!"));
    log(QStringLiteral("> Preparing to write KDR card..."));
    log(QStringLiteral("> Data to write: ") + op.WriteData1 + QLatin1Char('|') + op.WriteData2 + QLatin1Char('|') + op.WriteData3);
    startStep(Step::WriteCard);
}

void BusEngine::ackSelSubWriteFailed()
{
    if (op.RetryCount < 3) {
        ++op.RetryCount;
        startStep(Step::SelSubMemWriteDevice);
    }
}

void BusEngine::ackWriteDataOk()
{
    log(QStringLiteral("> Response to WriteData OK!, Part: %1").arg(op.WritePart));
    op.WriteOk = true;
    ++op.WritePart;
    op.CurLocation += 2;
    progressStep();
    if (op.WritePart <= 2) {
        startStep(Step::WriteCard);
        return;
    }
    // End of a block of three parts: the progress position counts the parts written so far.
    switch (m_pbValue) {
    case 3:
        if (op.ActiveCommand == BusCommand::SendParams) {
            if (m_memory) m_memory->nextParameterBlock(*this);
        } else {
            startStep(Step::Reset);
        }
        break;
    case 6:
    case 9:
    case 12:
        if (m_memory) m_memory->nextParameterBlock(*this);
        break;
    case 15: startStep(Step::Reset); break;
    default: break;
    }
}

void BusEngine::ackWriteDataFailed()
{
    op.WriteOk = false;
    if (op.RetryCount < 3) {
        ++op.RetryCount;
        startStep(Step::WriteCard);
    } else {
        startStep(Step::Reset);
    }
}

void BusEngine::ackMBusWriteBlock(bool positive)
{
    const QString name = op.ActiveCommand == BusCommand::SendParams ? QStringLiteral("WriteParams") : QStringLiteral("WriteCards");
    if (positive) {
        log(QStringLiteral("> Response to ") + name + QStringLiteral(" OK!"));
        return;
    }
    log(QStringLiteral("> Response to ") + name + QStringLiteral(" Failed!"));
    op.WriteOk = false;
    if (op.RetryCount < 3) {
        ++op.RetryCount;
        startStep(Step::WriteCard);
    } else {
        startStep(Step::Reset);
    }
}

// ---- data lines of the memory operations ----

void BusEngine::dataMemoryHlx(const QString &line)
{
    if (m_memory) m_memory->readData(*this, line);
}

void BusEngine::dataMBusParameters(const QString &line)
{
    if (m_memory && op.ActiveCommand == BusCommand::GetParams) m_memory->mbusParameterBlock(*this, line);
}

void BusEngine::dataMBusCardBlock(const QString &line)
{
    if (m_memory && op.ActiveCommand == BusCommand::ReadKDR) m_memory->mbusCardBlock(*this, line);
}

void BusEngine::dataMBusWriteVerify(const QString &line)
{
    if (m_memory) m_memory->mbusWriteVerify(*this, line);
}

void BusEngine::dataMBusResetDone(const QString &)
{
    log(QStringLiteral("> Reset device complete"));
    op.OperationState = kIdle;
}

// ---- location calculators ----

void BusEngine::CalcCardLocation(qint32 id, bool withLog)
{
    if (id < 1 || id > kSlots4000) return;
    const qint32 q = (id + 31) / 32;
    op.TargetPage = FirstPage + q % 16;
    op.TargetSubPage = id <= 480 ? -1 : 0x8100 + q;
    op.TargetLocation = FirstLocation + 8 * ((id - 1) % 32);
    if (!withLog) return;
    const QString rule(27, QLatin1Char('='));
    log(rule);
    log(QStringLiteral("Calculating locations:"));
    log(QStringLiteral("Page: ") + Hex(op.TargetPage));
    log(QStringLiteral("SubPage ") + Hex(op.TargetSubPage));
    log(QStringLiteral("CardLoc: ") + Hex(op.TargetLocation));
    log(rule);
}

void BusEngine::CalcMBusCardLocation(qint32 id, bool withLog)
{
    op.TargetLocation = MBusFirstCardLocation + 8 * (id - 1);
    if (!withLog) return;
    const QString rule(27, QLatin1Char('='));
    log(rule);
    log(QStringLiteral("Calculating locations:"));
    log(QStringLiteral("CardLoc: ") + Hex(op.TargetLocation));
    log(rule);
}

} // namespace kdr
