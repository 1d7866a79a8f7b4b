// The interface and bus model: telegram framing and parsing from the device's side, the answers
// of both interface families, timing and fault injection.
#include "kdrsim/SimBus.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>

namespace kdr::sim {

namespace {

constexpr char SOH = 0x01;
constexpr char EOT = 0x04;
// Every HLX:BUS answer line starts with this character; the program drops it.
constexpr char kHlxLead = '.';

const QByteArray kMBusSearch = "0400000B020103080000FE0000000000";
const QByteArray kMBusVersion = "040000010D00";
const QByteArray kMBusCount = "0C000001C800";
const QByteArray kMBusReset = "020000010000";
const QByteArray kMBusReadHead = "06000006000000";
const QByteArray kMBusAck = "(ACK)";
const QByteArray kMBusNak = "NAK";

QByteArray hexN(quint64 v, int digits) { return QByteArray::number(v, 16).toUpper().rightJustified(digits, '0'); }

bool isUpperHex(const QByteArray &s)
{
    if (s.isEmpty()) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

quint32 hexVal(const QByteArray &s) { return s.toUInt(nullptr, 16); }

QString normalised(const QByteArray &raw)
{
    int b = 0, e = int(raw.size());
    while (b < e && quint8(raw[b]) <= 0x20) ++b;
    while (e > b && quint8(raw[e - 1]) <= 0x20) --e;
    return QString::fromLatin1(raw.mid(b, e - b));
}

// One M:BUS data line. Field positions (1-based) the program reads: 2-7 serial, 22-25 card count,
// 26-31 version, data from 30; the last two characters are a checksum.
QByteArray mbusLine(quint32 serial, const char *cmd, const QByteArray &f22, const QByteArray &f26, const QByteArray &data)
{
    QByteArray body = hexN(serial, 6) + "FFFFFF" + cmd + "0000" + hexN(quint64(data.size() / 2), 2) + f22 + f26 + data;
    const QByteArray bytes = QByteArray::fromHex(body);
    quint8 sum = 0;
    for (char c : bytes) sum = quint8(sum + quint8(c));
    return ":" + body + hexN(sum, 2);
}

QByteArray hlx(const QByteArray &s) { return QByteArray(1, kHlxLead) + s; }

} // namespace

struct Bus::Switches {
    std::array<FaultSwitch, size_t(Kind::KindCount)> nak{};
    FaultSwitch drop, garbage, dots, delay, novideo, nointerface, vanish, portlost;
    int delayMs = 6000;

    FaultSwitch *byFault(Fault f, Kind k)
    {
        switch (f) {
        case Fault::Nak: return &nak[size_t(k)];
        case Fault::Drop: return &drop;
        case Fault::Garbage: return &garbage;
        case Fault::Dots: return &dots;
        case Fault::Delay: return &delay;
        case Fault::NoVideo: return &novideo;
        case Fault::NoInterface: return &nointerface;
        case Fault::Vanish: return &vanish;
        case Fault::PortLost: return &portlost;
        }
        return nullptr;
    }
};

bool isMBus(Model m) { return m == Model::KIM3121; }

QString modelName(Model m)
{
    switch (m) {
    case Model::KIM3100: return QStringLiteral("KIM3100");
    case Model::KIM3110: return QStringLiteral("KIM3110");
    case Model::KIM3121: return QStringLiteral("KIM3121");
    }
    return {};
}

static const char *const kKindNames[] = {"scan", "init", "search", "page", "subpage", "read",
                                         "write", "version", "count", "reset", "unknown"};

QString kindName(Kind k) { return QString::fromLatin1(kKindNames[size_t(k)]); }

std::optional<Kind> kindFromName(const QString &name)
{
    for (size_t i = 0; i < size_t(Kind::KindCount); ++i)
        if (name == QLatin1String(kKindNames[i])) return Kind(i);
    return std::nullopt;
}

Bus::Bus(Model model, QObject *parent) : QObject(parent), m_model(model), m_rng(1), m_sw(std::make_unique<Switches>())
{
    m_latency.fill(10);
    m_ifSerial = model == Model::KIM3100 ? 0x1234 : model == Model::KIM3110 ? 0x12345 : 0;
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Bus::deliverDue);
    m_clock.start();
}

Bus::~Bus() = default;

int Bus::baud() const { return isMBus(m_model) ? 28800 : 9600; }
int Bus::stopBits() const { return isMBus(m_model) ? 2 : 1; }

bool Bus::setInterfaceSerial(quint32 serial, QString *error)
{
    const bool ok = m_model == Model::KIM3100   ? serial <= 0xFFFF
                    : m_model == Model::KIM3110 ? serial >= 0x10000 && serial <= 0xFFFFF
                                                : true;
    if (!ok) {
        if (error)
            *error = m_model == Model::KIM3100
                         ? QStringLiteral("a KIM3100 serial number has 4 hex digits (0 to 65535)")
                         : QStringLiteral("a KIM3110 serial number has 5 hex digits (65536 to 1048575)");
        return false;
    }
    m_ifSerial = serial;
    return true;
}

Reader &Bus::addReader(quint32 serial, int slotCount, int version)
{
    return addReader(std::make_unique<Reader>(serial, slotCount, version));
}

Reader &Bus::addReader(std::unique_ptr<Reader> r)
{
    const quint32 serial = r->serial();
    for (auto &p : m_readers)
        if (p->serial() == serial) {
            p = std::move(r);
            return *p;
        }
    m_readers.push_back(std::move(r));
    return *m_readers.back();
}

Reader *Bus::reader(quint32 serial) const
{
    for (const auto &p : m_readers)
        if (p->serial() == serial) return p.get();
    return nullptr;
}

QList<Reader *> Bus::readers() const
{
    QList<Reader *> out;
    for (const auto &p : m_readers) out.append(p.get());
    return out;
}

bool Bus::removeReader(quint32 serial)
{
    auto it = std::find_if(m_readers.begin(), m_readers.end(), [serial](const auto &p) { return p->serial() == serial; });
    if (it == m_readers.end()) return false;
    m_readers.erase(it);
    if (m_selSerial == serial) m_selected = false;
    return true;
}

QByteArray Bus::stateJson() const
{
    QJsonArray rs;
    for (const auto &p : m_readers) rs.append(p->toJson());
    QJsonObject o;
    o.insert(QStringLiteral("interface"), modelName(m_model));
    o.insert(QStringLiteral("interfaceSerial"), qint64(m_ifSerial));
    o.insert(QStringLiteral("readers"), rs);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool Bus::loadStateJson(const QByteArray &json, QString *error)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error) *error = QStringLiteral("not a JSON object: %1").arg(pe.errorString());
        return false;
    }
    const QJsonObject o = doc.object();
    std::vector<std::unique_ptr<Reader>> loaded;
    for (const QJsonValue &v : o.value(QStringLiteral("readers")).toArray()) {
        auto r = Reader::fromJson(v.toObject(), error);
        if (!r) return false;
        loaded.push_back(std::move(r));
    }
    if (o.contains(QStringLiteral("interfaceSerial"))) {
        QString e;
        // A serial that does not fit this interface model is kept at the model's default.
        setInterfaceSerial(quint32(o.value(QStringLiteral("interfaceSerial")).toInteger()), &e);
    }
    // Nothing changes unless the whole file was good.
    m_readers.clear();
    m_selected = false;
    for (auto &r : loaded) addReader(std::move(r));
    return true;
}

bool Bus::loadState(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    QString e;
    if (!loadStateJson(f.readAll(), &e)) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, e);
        return false;
    }
    return true;
}

bool Bus::saveState(const QString &path, QString *error) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(stateJson()) < 0 || !f.commit()) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

void Bus::setLatency(int ms) { m_latency.fill(std::max(0, ms)); }
void Bus::setLatency(Kind k, int ms) { m_latency[size_t(k)] = std::max(0, ms); }

qint64 Bus::wireMicros(int bytes) const
{
    const int bits = 1 + 8 + stopBits();
    return qint64(bytes) * bits * 1000000 / baud();
}

void Bus::setSeed(quint32 seed) { m_rng.seed(seed); }

QStringList Bus::faultNames()
{
    QStringList n;
    for (size_t i = 0; i < size_t(Kind::KindCount); ++i)
        if (Kind(i) != Kind::Unknown) n << QStringLiteral("nak.") + kindName(Kind(i));
    n << QStringLiteral("drop") << QStringLiteral("garbage") << QStringLiteral("dots") << QStringLiteral("delay")
      << QStringLiteral("novideo") << QStringLiteral("nointerface") << QStringLiteral("vanish") << QStringLiteral("portlost");
    return n;
}

bool Bus::setFault(const QString &faultText, QString *error)
{
    auto fail = [&](const QString &e) {
        if (error) *error = QStringLiteral("fault \"%1\": %2").arg(faultText, e);
        return false;
    };
    const int eq = int(faultText.indexOf(QLatin1Char('=')));
    if (eq <= 0) return fail(QStringLiteral("expected name=rate|count, e.g. drop=0.1 or nak.page=2"));
    const QString name = faultText.left(eq).trimmed().toLower();
    const QStringList parts = faultText.mid(eq + 1).split(QLatin1Char(','));

    FaultSwitch *s = nullptr;
    if (name.startsWith(QStringLiteral("nak."))) {
        const auto k = kindFromName(name.mid(4));
        if (!k || *k == Kind::Unknown) return fail(QStringLiteral("unknown request kind \"%1\"").arg(name.mid(4)));
        s = m_sw->byFault(Fault::Nak, *k);
    } else {
        static const QList<QPair<QString, Fault>> names = {
            {QStringLiteral("drop"), Fault::Drop},         {QStringLiteral("garbage"), Fault::Garbage},
            {QStringLiteral("dots"), Fault::Dots},         {QStringLiteral("delay"), Fault::Delay},
            {QStringLiteral("novideo"), Fault::NoVideo},   {QStringLiteral("nointerface"), Fault::NoInterface},
            {QStringLiteral("vanish"), Fault::Vanish},     {QStringLiteral("portlost"), Fault::PortLost}};
        for (const auto &p : names)
            if (p.first == name) s = m_sw->byFault(p.second, Kind::Unknown);
        if (!s) return fail(QStringLiteral("unknown fault name; known: %1").arg(faultNames().join(QStringLiteral(", "))));
    }

    FaultSwitch n;
    const QString v = parts.value(0).trimmed();
    bool ok = false;
    if (v.endsWith(QLatin1Char('%'))) {
        n.rate = v.chopped(1).toDouble(&ok) / 100.0;
        if (!ok || n.rate < 0 || n.rate > 1) return fail(QStringLiteral("a percentage must be 0% to 100%"));
    } else if (v.contains(QLatin1Char('.'))) {
        n.rate = v.toDouble(&ok);
        if (!ok || n.rate < 0 || n.rate > 1) return fail(QStringLiteral("a rate must be 0.0 to 1.0"));
    } else {
        n.count = v.toInt(&ok);
        if (!ok || n.count < 0) return fail(QStringLiteral("a count must be a whole number 0 or more"));
    }
    int delayMs = m_sw->delayMs;
    for (int i = 1; i < parts.size(); ++i) {
        const QString p = parts[i].trimmed();
        if (p.startsWith(QStringLiteral("after="))) {
            n.after = p.mid(6).toInt(&ok);
            if (!ok || n.after < 0) return fail(QStringLiteral("after= needs a whole number"));
        } else if (p.startsWith(QStringLiteral("ms=")) && s == &m_sw->delay) {
            delayMs = p.mid(3).toInt(&ok);
            if (!ok || delayMs < 0) return fail(QStringLiteral("ms= needs a whole number of milliseconds"));
        } else {
            return fail(QStringLiteral("unknown option \"%1\"").arg(p));
        }
    }
    *s = n;
    if (s == &m_sw->delay) m_sw->delayMs = delayMs;
    return true;
}

void Bus::clearFaults()
{
    const int d = m_sw->delayMs;
    *m_sw = Switches{};
    m_sw->delayMs = d;
}

const FaultSwitch &Bus::faultSwitch(Fault f, Kind k) const { return *m_sw->byFault(f, k); }

bool Bus::fire(FaultSwitch &s)
{
    if (!s.active()) return false;
    ++s.seen;
    if (s.seen <= s.after) return false;
    bool hit = false;
    if (s.count > 0) {
        hit = s.fired < s.count;
    } else if (s.rate > 0.0) {
        hit = std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < s.rate;
    }
    if (hit) ++s.fired;
    return hit;
}

QStringList Bus::receivedTelegrams() const
{
    QStringList out;
    for (const TraceEntry &e : m_trace)
        if (e.dir == TraceEntry::In) out << e.text;
    return out;
}

void Bus::clearTrace() { m_trace.clear(); }

qint64 Bus::nowUs() const { return m_clock.nsecsElapsed() / 1000; }

void Bus::addTrace(TraceEntry::Dir dir, const QByteArray &data, const QString &text)
{
    TraceEntry e;
    e.ms = m_clock.elapsed();
    e.dir = dir;
    e.data = data;
    e.text = text;
    m_trace.append(e);
    emit traced(e);
}

void Bus::note(const QString &text) { addTrace(TraceEntry::Note, {}, text); }

void Bus::purgeInput() { m_inBuf.clear(); }

void Bus::cancelPending()
{
    m_out.clear();
    m_timer.stop();
}

bool Bus::claimPort(QObject *owner)
{
    if (m_owner && m_owner != owner) return false;
    m_owner = owner;
    return true;
}

void Bus::releasePort(QObject *owner)
{
    if (m_owner == owner) m_owner = nullptr;
}

void Bus::fromProgram(const QByteArray &bytes, const LineSettings &line)
{
    if (bytes.isEmpty()) return;
    const qint64 now = nowUs();
    const int bits = 1 + 8 + (line.stopBits == 2 ? 2 : 1);
    const qint64 startUs = m_pacing ? std::max(now, m_wireInFreeUs) : now;
    auto arrival = [&](int bytesSoFar) {
        return m_pacing && line.baud > 0 ? startUs + qint64(bytesSoFar) * bits * 1000000 / line.baud : now;
    };
    if (m_pacing) m_wireInFreeUs = arrival(int(bytes.size()));

    // The interface samples at its own speed; our stop bits must be at least as many as it checks.
    if (line.baud != baud() || line.stopBits < stopBits()) {
        m_inBuf.clear();
        addTrace(TraceEntry::In, bytes,
                 QStringLiteral("garbled: sent at %1 baud, %2 stop bit(s); %3 runs at %4 baud, %5 stop bit(s); no answer")
                     .arg(line.baud).arg(line.stopBits).arg(modelName(m_model)).arg(baud()).arg(stopBits()));
        return;
    }
    for (int i = 0; i < bytes.size(); ++i) {
        m_inBuf.append(bytes[i]);
        if (bytes[i] == EOT) {
            const QByteArray raw = m_inBuf;
            m_inBuf.clear();
            handleTelegram(raw, line, arrival(i + 1));
        } else if (m_inBuf.size() > 4096) {
            note(QStringLiteral("4096 bytes without a line end dropped"));
            m_inBuf.clear();
        }
    }
}

void Bus::handleTelegram(const QByteArray &raw, const LineSettings &, qint64 arrivalUs)
{
    addTrace(TraceEntry::In, raw, normalised(raw));
    if (fire(m_sw->nointerface)) {
        note(QStringLiteral("fault nointerface: nothing on the port answers"));
        return;
    }
    if (fire(m_sw->portlost)) {
        note(QStringLiteral("fault portlost: the port closes under the program"));
        m_out.push_back({std::max(arrivalUs, m_out.empty() ? 0 : m_out.back().dueUs), {}, true});
        schedule();
        return;
    }
    const int soh = int(raw.indexOf(SOH));
    if (soh < 0) {
        note(QStringLiteral("no SOH in the line: not a telegram, no answer"));
        return;
    }
    if (soh > 0) note(QStringLiteral("%1 byte(s) before SOH ignored").arg(soh));
    const QByteArray body = raw.mid(soh + 1, raw.size() - soh - 2);
    Kind kind = Kind::Unknown;
    QList<QByteArray> lines = isMBus(m_model) ? answerMBus(kind, body) : answerHlx(kind, body);
    queueAnswer(kind, lines, arrivalUs);
}

QList<QByteArray> Bus::answerHlx(Kind &kind, const QByteArray &body)
{
    const QByteArray nak = hlx("0");
    const QByteArray ack = hlx("1");
    if (body == ".3F") {
        kind = Kind::Scan;
        if (fire(m_sw->nak[size_t(kind)])) return {".3F", nak};
        if (fire(m_sw->novideo)) {
            note(QStringLiteral("fault novideo: no video signal and/or M-wire missing"));
            return {".3F", "0800"};
        }
        return {".3F", m_model == Model::KIM3100 ? hlx("0" + hexN(m_ifSerial & 0xFFFF, 4)) : hlx(hexN(m_ifSerial & 0xFFFFF, 5))};
    }
    if (!body.startsWith(' ')) {
        note(QStringLiteral("telegram without the space after SOH: no answer"));
        return {};
    }
    const QByteArray p = body.mid(1);
    if (!isUpperHex(p)) {
        note(QStringLiteral("payload is not upper-case hex: refused"));
        return {nak};
    }
    const int n = int(p.size());
    if (p == "580B") kind = Kind::Init;
    else if (p == "5200") kind = Kind::Search;
    else if (p == "5100") kind = Kind::Reset;
    else if (n == 4 && p.startsWith("81")) kind = Kind::SubPage;
    else if (n == 4 && p.startsWith("84")) kind = Kind::Read;
    else if (n == 8 && p.startsWith("81")) kind = Kind::Page;
    else if (n == 8 && p.startsWith("82")) kind = Kind::Write;
    else if (n == 8 && p.startsWith('5') && p.endsWith("C0")) kind = Kind::Version;
    else if (n == 8 && p.startsWith('6') && p.endsWith("C8")) kind = Kind::Count;
    else {
        note(QStringLiteral("unknown telegram %1: refused").arg(QString::fromLatin1(p)));
        return {nak};
    }
    if (fire(m_sw->nak[size_t(kind)])) {
        note(QStringLiteral("fault nak.%1").arg(kindName(kind)));
        return {nak};
    }

    auto present = [this](quint32 serial) -> Reader * {
        Reader *r = reader(serial);
        return r && r->present() ? r : nullptr;
    };
    Reader *sel = m_selected ? present(m_selSerial) : nullptr;

    switch (kind) {
    case Kind::Init:
        m_selected = false;
        return {ack};
    case Kind::Search: {
        QList<QByteArray> out{ack};
        for (const auto &r : m_readers)
            if (r->present()) out << hlx("5" + hexN(r->serial() & 0xFFFFF, 5) + "1");
        return out;
    }
    case Kind::Reset:
        m_selected = false;
        note(QStringLiteral("reset: readers deselected"));
        return {};
    case Kind::Page: {
        const quint32 page = hexVal(p.left(3));
        const quint32 serial = hexVal(p.mid(3));
        Reader *r = present(serial);
        m_selected = false;
        if (!r) {
            note(QStringLiteral("page select for reader %1: no such reader on the bus").arg(serial));
            return {nak};
        }
        m_selSerial = serial;
        m_selected = true;
        m_selBlock = int(page - 0x810);
        return {ack};
    }
    case Kind::SubPage: {
        if (!sel) {
            note(QStringLiteral("subpage select without a selected reader: refused"));
            return {nak};
        }
        const int q = int(hexVal(p) - 0x8100);
        if ((q & 0xF) != (m_selBlock & 0xF))
            note(QStringLiteral("subpage %1 does not match the selected page %2").arg(q, 0, 16).arg(m_selBlock & 0xF, 0, 16));
        const int block = (q & ~0xF) | (m_selBlock & 0xF);
        if ((block + 1) * Reader::kBlockSize > sel->memorySize()) {
            note(QStringLiteral("subpage %1 beyond the memory of reader %2: refused").arg(q, 0, 16).arg(sel->serial()));
            return {nak};
        }
        m_selBlock = block;
        return {ack};
    }
    case Kind::Read: {
        if (!sel) {
            note(QStringLiteral("read without a selected reader: no answer"));
            return {};
        }
        if (fire(m_sw->vanish)) {
            sel->setPresent(false);
            note(QStringLiteral("fault vanish: reader %1 left the bus").arg(sel->serial()));
            return {};
        }
        const int addr = m_selBlock * Reader::kBlockSize + int(hexVal(p.mid(2)));
        return {hlx(sel->read(addr, 4).toHex().toUpper())};
    }
    case Kind::Write: {
        if (!sel) {
            note(QStringLiteral("write without a selected reader: refused"));
            return {nak};
        }
        const int addr = m_selBlock * Reader::kBlockSize + int(hexVal(p.mid(2, 2)));
        sel->write(addr, QByteArray::fromHex(p.mid(4)));
        return {ack};
    }
    case Kind::Version: {
        Reader *r = present(hexVal(p.mid(1, 5)));
        if (!r) {
            note(QStringLiteral("version request for a reader not on the bus: no answer"));
            return {};
        }
        return {hlx(QByteArray(r->slotCount() == 4000 ? "0800" : "0180") + "0" + hexN(r->version() & 0xFFF, 3))};
    }
    case Kind::Count: {
        Reader *r = present(hexVal(p.mid(1, 5)));
        if (!r) {
            note(QStringLiteral("card-count request for a reader not on the bus: no answer"));
            return {};
        }
        if (r->version() < 0x00C) {
            note(QStringLiteral("reader %1 software below 0.0.12 has no card count: no answer").arg(r->serial()));
            return {};
        }
        return {hlx(hexN(quint64(r->writtenCardCount()), 4))};
    }
    default:
        return {nak};
    }
}

QList<QByteArray> Bus::answerMBus(Kind &kind, const QByteArray &body)
{
    if (body == "-") {
        kind = Kind::Scan;
        if (fire(m_sw->nak[size_t(kind)])) return {kMBusNak};
        return {"-121"};
    }
    if (!body.startsWith(' ')) {
        note(QStringLiteral("telegram without the space after SOH: no answer"));
        return {};
    }
    const QByteArray p = body.mid(1);
    if (!isUpperHex(p) || p.size() < 12 || !p.startsWith("FFFFFF")) {
        note(QStringLiteral("not an M:BUS telegram (upper-case hex starting FFFFFF and a serial): refused"));
        return {kMBusNak};
    }
    const quint32 serial = hexVal(p.mid(6, 6));
    const QByteArray r = p.mid(12);
    if (serial == 0 && r == kMBusSearch) kind = Kind::Search;
    else if (r == kMBusVersion) kind = Kind::Version;
    else if (r == kMBusCount) kind = Kind::Count;
    else if (r == kMBusReset) kind = Kind::Reset;
    else if (r.size() == 22 && r.startsWith(kMBusReadHead)) kind = Kind::Read;
    else if (r.size() >= 20 && r.startsWith("080000")) kind = Kind::Write;
    else {
        note(QStringLiteral("unknown M:BUS command %1: refused").arg(QString::fromLatin1(r)));
        return {kMBusNak};
    }
    if (fire(m_sw->nak[size_t(kind)])) {
        note(QStringLiteral("fault nak.%1").arg(kindName(kind)));
        return {kMBusNak};
    }
    if (kind == Kind::Search) {
        QList<QByteArray> out{kMBusAck};
        for (const auto &rd : m_readers)
            if (rd->present()) out << mbusLine(rd->serial(), "8B", "0000", "0000", "0201030800");
        return out;
    }
    Reader *rd = reader(serial);
    if (!rd || !rd->present()) {
        note(QStringLiteral("reader %1 does not answer: refused").arg(serial));
        return {kMBusNak};
    }
    switch (kind) {
    case Kind::Version: {
        const int v = rd->version();
        return {kMBusAck, mbusLine(serial, "81", "0000", hexN((v >> 8) & 0xF, 2) + hexN((v >> 4) & 0xF, 2),
                                   hexN(v & 0xF, 2) + "00")};
    }
    case Kind::Count:
        return {kMBusAck, mbusLine(serial, "8C", hexN(quint64(rd->writtenCardCount()), 4), "0000", {})};
    case Kind::Reset:
        return {kMBusAck, mbusLine(serial, "82", "0000", "0000", {})};
    case Kind::Read: {
        const int loc = int(hexVal(r.mid(14, 4)));
        const QByteArray sfx = r.mid(18, 4);
        const QByteArray want = loc == 256 ? "8000" : "2000";
        if (sfx != want) {
            note(QStringLiteral("block read at %1 must end in %2, got %3: refused")
                     .arg(loc).arg(QString::fromLatin1(want), QString::fromLatin1(sfx)));
            return {kMBusNak};
        }
        if (loc + 32 > rd->memorySize()) {
            note(QStringLiteral("block read at %1 beyond the memory of reader %2: refused").arg(loc).arg(serial));
            return {kMBusNak};
        }
        if (fire(m_sw->vanish)) {
            rd->setPresent(false);
            note(QStringLiteral("fault vanish: reader %1 left the bus").arg(serial));
            return {kMBusNak};
        }
        return {kMBusAck, mbusLine(serial, "86", "0000", hexN(quint64(loc), 4), rd->read(loc, 32).toHex().toUpper())};
    }
    case Kind::Write: {
        // 080000 LL 00 0000 AAAA data 00, LL = data bytes + 5
        const int len = int(hexVal(r.mid(6, 2)));
        const int loc = int(hexVal(r.mid(14, 4)));
        const QByteArray data = r.mid(18, r.size() - 20);
        QString why;
        if (r.mid(8, 2) != "00" || r.mid(10, 4) != "0000" || !r.endsWith("00"))
            why = QStringLiteral("fixed fields are not 00 / 0000 / 00");
        else if (data.isEmpty() || data.size() % 2 != 0)
            why = QStringLiteral("data is not whole bytes");
        else if (data.size() > 64)
            why = QStringLiteral("more than 32 bytes of data");
        else if (len != data.size() / 2 + 5)
            why = QStringLiteral("length byte %1 does not fit %2 data bytes").arg(len).arg(data.size() / 2);
        else if (loc + data.size() / 2 > rd->memorySize())
            why = QStringLiteral("write beyond the memory of reader %1").arg(serial);
        if (!why.isEmpty()) {
            note(QStringLiteral("block write refused: %1").arg(why));
            return {kMBusNak};
        }
        rd->write(loc, QByteArray::fromHex(data));
        return {kMBusAck, mbusLine(serial, "88", "0000", hexN(quint64(loc), 4), data)};
    }
    default:
        return {kMBusNak};
    }
}

void Bus::queueAnswer(Kind kind, QList<QByteArray> lines, qint64 arrivalUs)
{
    if (lines.isEmpty()) return;
    qint64 earliest = arrivalUs + qint64(m_latency[size_t(kind)]) * 1000;
    if (fire(m_sw->delay)) {
        note(QStringLiteral("fault delay: answer %1 ms late").arg(m_sw->delayMs));
        earliest += qint64(m_sw->delayMs) * 1000;
    }
    const bool mbus = isMBus(m_model);
    auto enqueue = [&](const QByteArray &bytes) {
        qint64 due = earliest;
        if (m_pacing) {
            due = std::max(due, m_wireOutFreeUs) + wireMicros(int(bytes.size()));
            m_wireOutFreeUs = due;
        }
        if (!m_out.empty()) due = std::max(due, m_out.back().dueUs);
        m_out.push_back({due, bytes, false});
        earliest = due;
    };
    for (const QByteArray &l : lines) {
        if (fire(m_sw->garbage)) {
            QByteArray g;
            const int len = std::uniform_int_distribution<int>(3, 12)(m_rng);
            static const char pool[] = "#$%&*+?@GHJKLMNPQRSTUVWXYZ~\x7F\x80\x9F\xC3\xE9\xFE";
            for (int i = 0; i < len; ++i)
                g.append(pool[std::uniform_int_distribution<int>(0, int(sizeof(pool)) - 2)(m_rng)]);
            note(QStringLiteral("fault garbage: a garbage line"));
            enqueue(g + EOT);
        }
        if (mbus && (l == kMBusAck || l == kMBusNak) && fire(m_sw->dots)) {
            const int k = std::uniform_int_distribution<int>(1, 3)(m_rng);
            note(QStringLiteral("fault dots: %1 progress line(s)").arg(k));
            for (int i = 0; i < k; ++i) enqueue(QByteArray(1, SOH) + "." + EOT);
        }
        if (fire(m_sw->drop)) {
            note(QStringLiteral("fault drop: answer line %1 lost").arg(QString::fromLatin1(l)));
            continue;
        }
        enqueue(QByteArray(1, SOH) + l + EOT);
    }
    schedule();
}

void Bus::schedule()
{
    if (m_out.empty()) {
        m_timer.stop();
        return;
    }
    const qint64 waitUs = m_out.front().dueUs - nowUs();
    m_timer.start(waitUs <= 0 ? 0 : int((waitUs + 999) / 1000));
}

void Bus::deliverDue()
{
    // Pop before emitting: a receiver may send the next request from inside the signal.
    while (!m_out.empty() && m_out.front().dueUs <= nowUs() + 500) {
        const Outgoing o = m_out.front();
        m_out.pop_front();
        if (o.lost) {
            emit portLost(QStringLiteral("The simulated port closed."));
            continue;
        }
        addTrace(TraceEntry::Out, o.bytes, normalised(o.bytes));
        emit toProgram(o.bytes);
    }
    schedule();
}

} // namespace kdr::sim
