#pragma once
// Bus simulator: one bus interface (HLX:BUS KIM3100/KIM3110 at 9600 baud, or M:BUS KIM3121 at
// 28800 baud) with KDR readers on it, playing the device side of every exchange.
//
// This code deliberately shares nothing with the program's bus and memory code: it parses the
// telegrams and lays out the reader memory on its own, so that a mistake on one side shows up
// as a failed exchange instead of hiding itself.
//
// In-process use (unit tests):
//
//     kdr::sim::Bus bus(kdr::sim::Model::KIM3110);          // HLX:BUS, 9600 baud
//     kdr::sim::Reader &r = bus.addReader(123456);          // 2000 slots, version 2.0.12
//     r.setCard(1, 654321, 0x05);
//     bus.setLatency(0);                                    // answer as soon as possible
//     QString err;
//     bus.setFault("nak.page=2", &err);                     // refuse the next two page selects
//     kdr::sim::SimSerialLink link(&bus);                   // a kdr::SerialLink (kdrsimlink)
//     link.open("sim", 9600, 1, &err);
//     link.send(telegram);                                  // answers arrive via lineReceived
//     ...
//     bus.receivedTelegrams();                              // payloads the device understood
//     bus.trace();                                          // everything in and out, time-stamped
//
// All answers are delivered from timers of the thread that owns the Bus, never from inside the
// call that handed the request over.

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace kdr::sim {

// The bus interface on the serial line.
enum class Model {
    KIM3100, // HLX:BUS, 9600 baud, 4-digit interface serial
    KIM3110, // HLX:BUS, 9600 baud, 5-digit interface serial
    KIM3121, // M:BUS, 28800 baud, 2 stop bits
};
bool isMBus(Model m);
QString modelName(Model m);

// What a received telegram asked for. Also the keys of per-kind latencies and negative
// acknowledges ("nak.<name>"), named by kindName().
enum class Kind {
    Scan,     // ".3F" / "-"
    Init,     // 580B (HLX:BUS only)
    Search,   // 5200 / M:BUS search
    Page,     // page select (HLX:BUS)
    SubPage,  // subpage select (HLX:BUS)
    Read,     // read location / M:BUS block read
    Write,    // write location / M:BUS block write
    Version,  // software version
    Count,    // written-card count
    Reset,    // 5100 / M:BUS reset
    Unknown,  // framed correctly but not understood
    KindCount
};
QString kindName(Kind k);
std::optional<Kind> kindFromName(const QString &name);

// One KDR reader: serial number, firmware, and its memory of 256-byte blocks.
// Block 0 holds the 32-byte parameter block; slot k (1-based) is 8 bytes at 256 + 8*(k-1):
// function byte, FF, FF, card number (3 bytes, MSB first), FF, FF. Erased memory reads FF.
class Reader {
public:
    static constexpr int kBlockSize = 256;

    // slotCount: 2000 or 4000. version: three hex digits major/minor/build (0x20C = 2.0.12).
    // A 2000-slot reader has blocks 0..63, a 4000-slot reader blocks 0..127.
    explicit Reader(quint32 serial, int slotCount = 2000, int version = 0x20C);

    quint32 serial() const { return m_serial; }
    int slotCount() const { return m_slots; }
    int version() const { return m_version; }
    void setVersion(int v) { m_version = v; }
    int memorySize() const { return int(m_mem.size()); }

    // Raw memory, linear addresses. Reads past the end give FF; writes past the end are dropped.
    QByteArray read(int address, int length) const;
    void write(int address, const QByteArray &bytes);
    const QByteArray &memory() const { return m_mem; }

    // Slot helpers (slot 1..slotCount()). card 0xFFFFFF = empty.
    quint32 cardNumber(int slot) const;
    quint8 function(int slot) const;
    QByteArray slotRecord(int slot) const; // the 8 bytes
    void setCard(int slot, quint32 card, quint8 function = 0x40);
    void clearSlot(int slot); // all 8 bytes FF

    QByteArray parameterBlock() const; // 32 bytes at address 0
    void setParameterBlock(const QByteArray &block32);

    // The written-card count the reader reports: number of the last slot whose card is not FFFFFF.
    int writtenCardCount() const;

    // A reader that has vanished from the bus (fault "vanish") answers nothing.
    bool present() const { return m_present; }
    void setPresent(bool p) { m_present = p; }

    // Exact state: {"serial", "slots", "version" ("2.0.12"), "blocks": {"<q>": "<512 hex digits>"}}
    // with only the blocks that are not all FF.
    QJsonObject toJson() const;
    static std::unique_ptr<Reader> fromJson(const QJsonObject &o, QString *error);
    // Start state from a reader data file: serial, version and slot count from the reader values
    // record, the saved card numbers and functions into the slots, the parameters into block 0.
    static std::unique_ptr<Reader> fromVtd(const QString &path, QString *error);

private:
    quint32 m_serial;
    int m_slots;
    int m_version;
    bool m_present = true;
    QByteArray m_mem;
};

// A fault switch: fires on a share of its occasions (rate 0..1, drawn from the bus's seeded
// generator) or on a number of them (count), after skipping the first `after` occasions.
// Text form: "0.25", "3", "1,after=40".
struct FaultSwitch {
    double rate = 0.0;
    int count = 0;
    int after = 0;
    int seen = 0;  // occasions so far
    int fired = 0; // times it fired
    bool active() const { return rate > 0.0 || count > fired; }
};

// Fault names for Bus::setFault (see README.md):
//   nak.<kind>    the interface answers a negative acknowledge instead of the answer
//   drop          one answer line is lost
//   garbage       a line of non-protocol bytes is sent in front of an answer line
//   dots          "." progress lines in front of an M:BUS acknowledge
//   delay         an answer comes `delayMs` late (value "rate|count[,after=N][,ms=M]", default 6000)
//   novideo       the 9600-baud scan answer is "08..." (no video signal / M-wire missing)
//   nointerface   nothing answers at all (no interface on the port)
//   vanish        the addressed reader leaves the bus at a read request and answers nothing more
//   portlost      the port closes under the program when a request arrives
enum class Fault { Nak, Drop, Garbage, Dots, Delay, NoVideo, NoInterface, Vanish, PortLost };

struct LineSettings {
    int baud = 9600;
    int stopBits = 1;
};

struct TraceEntry {
    enum Dir { In, Out, Note };
    qint64 ms = 0;       // since the bus was created
    Dir dir = Note;
    QByteArray data;     // raw bytes (In: one telegram as received, Out: one line with its EOT)
    QString text;        // readable form: normalised payload, or the note
};

class Bus : public QObject {
    Q_OBJECT
public:
    explicit Bus(Model model, QObject *parent = nullptr);
    ~Bus() override;

    Model model() const { return m_model; }
    int baud() const;      // 9600 or 28800
    int stopBits() const;  // 1 or 2
    // Interface serial: KIM3100 0..FFFF, KIM3110 10000..FFFFF (hex); unused for KIM3121.
    bool setInterfaceSerial(quint32 serial, QString *error = nullptr);
    quint32 interfaceSerial() const { return m_ifSerial; }

    // Readers on the bus, in search-answer order. Adding a serial that exists replaces it.
    Reader &addReader(quint32 serial, int slotCount = 2000, int version = 0x20C);
    Reader &addReader(std::unique_ptr<Reader> r);
    Reader *reader(quint32 serial) const;
    QList<Reader *> readers() const;
    bool removeReader(quint32 serial);

    // Whole-bus state ({"readers": [...]}) as JSON text / file.
    QByteArray stateJson() const;
    bool loadStateJson(const QByteArray &json, QString *error);
    bool loadState(const QString &path, QString *error);
    bool saveState(const QString &path, QString *error) const;

    // Timing. Latency: time from the last byte of a request to the first byte of its answer.
    // Pacing: lines go out no faster than the line speed (10 bits a byte at 9600, 11 at 28800),
    // and requests take their wire time to arrive.
    void setLatency(int ms);
    void setLatency(Kind k, int ms);
    int latency(Kind k) const { return m_latency[size_t(k)]; }
    void setPacing(bool on) { m_pacing = on; }
    bool pacing() const { return m_pacing; }
    // Wire time of n bytes at the interface's speed, in microseconds.
    qint64 wireMicros(int bytes) const;

    // Faults. setFault("nak.page=2"), setFault("drop=0.1"), setFault("vanish=1,after=40"),
    // setFault("delay=1,ms=7000"); rate 0 / count 0 switches a fault off.
    void setSeed(quint32 seed);
    bool setFault(const QString &faultText, QString *error);
    void clearFaults();
    const FaultSwitch &faultSwitch(Fault f, Kind k = Kind::Unknown) const;
    static QStringList faultNames();

    // Trace of everything received and sent.
    const QList<TraceEntry> &trace() const { return m_trace; }
    // Normalised payloads of the telegrams received (e.g. "580B", "8111E240", ".3F", "-").
    QStringList receivedTelegrams() const;
    void clearTrace();

    // Transport side, used by SimSerialLink and by the pseudo-terminal host.
    // Bytes written by the program at the given line settings. A speed or stop-bit setting that
    // does not match the interface garbles them: the interface answers nothing.
    void fromProgram(const QByteArray &bytes, const LineSettings &line);
    // The program dropped its buffers: a partly received telegram is forgotten.
    void purgeInput();
    // Drop every answer not yet delivered.
    void cancelPending();
    // One transport at a time holds the port (a second open is refused as "busy").
    bool claimPort(QObject *owner);
    void releasePort(QObject *owner);
    QObject *portOwner() const { return m_owner; }

signals:
    // Bytes for the program, at their due time (one whole line with its EOT).
    void toProgram(const QByteArray &bytes);
    // Fault "portlost": the transport must close the port under the program now.
    void portLost(const QString &reason);
    void traced(const kdr::sim::TraceEntry &entry);

private:
    struct Outgoing {
        qint64 dueUs;
        QByteArray bytes;
        bool lost; // the port-lost event instead of bytes
    };
    struct Switches;

    void handleTelegram(const QByteArray &raw, const LineSettings &line, qint64 arrivalUs);
    QList<QByteArray> answerHlx(Kind &kind, const QByteArray &body);
    QList<QByteArray> answerMBus(Kind &kind, const QByteArray &body);
    void queueAnswer(Kind kind, QList<QByteArray> lines, qint64 arrivalUs);
    bool fire(FaultSwitch &s);
    void note(const QString &text);
    void addTrace(TraceEntry::Dir dir, const QByteArray &data, const QString &text);
    void schedule();
    void deliverDue();
    qint64 nowUs() const;

    Model m_model;
    quint32 m_ifSerial = 0;
    std::vector<std::unique_ptr<Reader>> m_readers;
    std::array<int, size_t(Kind::KindCount)> m_latency{};
    bool m_pacing = false;

    // HLX:BUS selection: reader and block addressed by the last page/subpage select.
    quint32 m_selSerial = 0;
    bool m_selected = false;
    int m_selBlock = 0;

    std::mt19937 m_rng;
    std::unique_ptr<Switches> m_sw;
    QObject *m_owner = nullptr;

    QByteArray m_inBuf;          // bytes of a telegram not yet complete
    qint64 m_wireInFreeUs = 0;   // program -> interface line busy until
    qint64 m_wireOutFreeUs = 0;  // interface -> program line busy until
    std::deque<Outgoing> m_out;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QList<TraceEntry> m_trace;
};

} // namespace kdr::sim
