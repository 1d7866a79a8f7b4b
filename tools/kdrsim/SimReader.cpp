// The reader model: memory image, slot and parameter helpers, JSON and .vtd start states.
#include "kdrsim/SimBus.h"

#include "store/Records.h"
#include "store/VtdFile.h"

#include <QJsonArray>
#include <QStringList>

namespace kdr::sim {

namespace {

constexpr int kSlotBase = 256;
constexpr int kSlotSize = 8;

QString versionText(int v)
{
    return QStringLiteral("%1.%2.%3").arg((v >> 8) & 0xF).arg((v >> 4) & 0xF).arg(v & 0xF);
}

std::optional<int> parseVersionText(const QString &t)
{
    const QStringList parts = t.split(QLatin1Char('.'));
    if (parts.size() != 3) return std::nullopt;
    int v = 0;
    for (const QString &p : parts) {
        bool ok = false;
        const int n = p.toInt(&ok);
        if (!ok || n < 0 || n > 15) return std::nullopt;
        v = (v << 4) | n;
    }
    return v;
}

// A free protocol of the table (4 or 8 hex digits) as its 4 memory bytes; anything else is 0.
QByteArray freeProtocolBytes(const QString &text)
{
    QString t = text.trimmed().toUpper();
    if (t.size() == 4) t = QStringLiteral("0000") + t;
    if (t.size() != 8) return QByteArray(4, '\0');
    const QByteArray b = QByteArray::fromHex(t.toLatin1());
    return b.size() == 4 ? b : QByteArray(4, '\0');
}

int intOf(const kdr::Value &v) { return v.isNull() ? 0 : v.toInt(); }

} // namespace

Reader::Reader(quint32 serial, int slotCount, int version)
    : m_serial(serial), m_slots(slotCount > 2000 ? 4000 : 2000), m_version(version)
{
    m_mem = QByteArray((m_slots == 4000 ? 128 : 64) * kBlockSize, char(0xFF));
    // Factory parameters: AS address 0, relay time code 6, everything else 0.
    QByteArray params(32, '\0');
    params[2] = 0x06;
    setParameterBlock(params);
}

QByteArray Reader::read(int address, int length) const
{
    QByteArray out(length, char(0xFF));
    for (int i = 0; i < length; ++i) {
        const int a = address + i;
        if (a >= 0 && a < m_mem.size()) out[i] = m_mem[a];
    }
    return out;
}

void Reader::write(int address, const QByteArray &bytes)
{
    for (int i = 0; i < bytes.size(); ++i) {
        const int a = address + i;
        if (a >= 0 && a < m_mem.size()) m_mem[a] = bytes[i];
    }
}

QByteArray Reader::slotRecord(int slot) const { return read(kSlotBase + kSlotSize * (slot - 1), kSlotSize); }

quint32 Reader::cardNumber(int slot) const
{
    const QByteArray r = slotRecord(slot);
    return (quint32(quint8(r[3])) << 16) | (quint32(quint8(r[4])) << 8) | quint8(r[5]);
}

quint8 Reader::function(int slot) const { return quint8(slotRecord(slot)[0]); }

void Reader::setCard(int slot, quint32 card, quint8 function)
{
    QByteArray r(kSlotSize, char(0xFF));
    r[0] = char(function);
    r[3] = char((card >> 16) & 0xFF);
    r[4] = char((card >> 8) & 0xFF);
    r[5] = char(card & 0xFF);
    write(kSlotBase + kSlotSize * (slot - 1), r);
}

void Reader::clearSlot(int slot) { write(kSlotBase + kSlotSize * (slot - 1), QByteArray(kSlotSize, char(0xFF))); }

QByteArray Reader::parameterBlock() const { return read(0, 32); }

void Reader::setParameterBlock(const QByteArray &block32) { write(0, block32.left(32)); }

int Reader::writtenCardCount() const
{
    for (int k = m_slots; k >= 1; --k)
        if (cardNumber(k) != 0xFFFFFF) return k;
    return 0;
}

QJsonObject Reader::toJson() const
{
    QJsonObject blocks;
    const QByteArray erased(kBlockSize, char(0xFF));
    for (int q = 0; q * kBlockSize < m_mem.size(); ++q) {
        const QByteArray b = m_mem.mid(q * kBlockSize, kBlockSize);
        if (b != erased) blocks.insert(QString::number(q), QString::fromLatin1(b.toHex().toUpper()));
    }
    QJsonObject o;
    o.insert(QStringLiteral("serial"), qint64(m_serial));
    o.insert(QStringLiteral("slots"), m_slots);
    o.insert(QStringLiteral("version"), versionText(m_version));
    o.insert(QStringLiteral("present"), m_present);
    o.insert(QStringLiteral("blocks"), blocks);
    return o;
}

std::unique_ptr<Reader> Reader::fromJson(const QJsonObject &o, QString *error)
{
    auto fail = [error](const QString &e) -> std::unique_ptr<Reader> {
        if (error) *error = e;
        return nullptr;
    };
    const qint64 serial = o.value(QStringLiteral("serial")).toInteger(-1);
    if (serial < 0 || serial > 0xFFFFFF) return fail(QStringLiteral("reader without a valid \"serial\" (0 to 16777215)"));
    const int nslots = o.value(QStringLiteral("slots")).toInt(2000);
    if (nslots != 2000 && nslots != 4000)
        return fail(QStringLiteral("reader %1: \"slots\" must be 2000 or 4000").arg(serial));
    int version = 0x20C;
    const QJsonValue vv = o.value(QStringLiteral("version"));
    if (vv.isString()) {
        const auto v = parseVersionText(vv.toString());
        if (!v) return fail(QStringLiteral("reader %1: \"version\" must look like 2.0.12").arg(serial));
        version = *v;
    } else if (vv.isDouble()) {
        version = vv.toInt();
    }
    auto r = std::make_unique<Reader>(quint32(serial), nslots, version);
    r->setPresent(o.value(QStringLiteral("present")).toBool(true));
    const QJsonObject blocks = o.value(QStringLiteral("blocks")).toObject();
    for (auto it = blocks.begin(); it != blocks.end(); ++it) {
        bool ok = false;
        const int q = it.key().toInt(&ok);
        const QByteArray hex = it.value().toString().toLatin1();
        const QByteArray bytes = QByteArray::fromHex(hex);
        if (!ok || q < 0 || (q + 1) * kBlockSize > r->memorySize())
            return fail(QStringLiteral("reader %1: block \"%2\" is outside its memory").arg(serial).arg(it.key()));
        if (hex.size() != 2 * kBlockSize || bytes.size() != kBlockSize)
            return fail(QStringLiteral("reader %1: block %2 must be %3 hex digits").arg(serial).arg(q).arg(2 * kBlockSize));
        r->write(q * kBlockSize, bytes);
    }
    return r;
}

std::unique_ptr<Reader> Reader::fromVtd(const QString &path, QString *error)
{
    kdr::CardTable t;
    const kdr::VtdReadResult res = kdr::readVtdFile(path, t);
    if (!res.ok) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, res.error);
        return nullptr;
    }
    if (t.recordCount() < 1) {
        if (error) *error = QStringLiteral("%1: the file holds no records").arg(path);
        return nullptr;
    }
    using namespace kdr::CardField;
    const qint64 serial = intOf(t.value(0, KDRSerial));
    if (serial <= 0 || serial > 0xFFFFFF) {
        if (error) *error = QStringLiteral("%1: no reader serial number in the first record").arg(path);
        return nullptr;
    }
    const int version = intOf(t.value(0, Version));
    auto r = std::make_unique<Reader>(quint32(serial), t.recordCount() > 2000 ? 4000 : 2000, version > 0 ? version : 0x20C);

    for (int rec = 0; rec < t.recordCount(); ++rec) {
        const int slot = intOf(t.value(rec, ID));
        if (slot < 1 || slot > r->slotCount()) continue;
        const kdr::Value card = t.value(rec, CardNoSaved);
        const QString func = t.value(rec, FuncKDR).toText();
        bool fok = false;
        const int f = func.toInt(&fok, 16);
        if (card.isNull() || card.toInt() <= 0 || card.toInt() >= 0xFFFFFF) continue; // empty slot stays erased
        r->setCard(slot, quint32(card.toInt()), fok && f >= 0 && f <= 0xFF ? quint8(f) : quint8(0x40));
    }

    QByteArray p(32, '\0');
    p[1] = char(intOf(t.value(0, ASAdr)) & 0x3F);
    p[2] = char(intOf(t.value(0, RelayT)));
    p[3] = char(intOf(t.value(0, REX)));
    const QString fp[4] = {t.value(0, FreeProt1).toText(), t.value(0, FreeProt2).toText(),
                           t.value(0, FreeProt3).toText(), t.value(0, FreeProt4).toText()};
    quint8 flags = 0;
    if (!t.value(0, FuncKDR_RcvOpenDoor).isNull() && t.value(0, FuncKDR_RcvOpenDoor).toBool()) flags |= 0x20;
    for (int n = 0; n < 4; ++n) {
        if (fp[n].trimmed().size() > 4) flags |= quint8(1 << (n + 1));
        p.replace(8 + 4 * n, 4, freeProtocolBytes(fp[n]));
    }
    p[5] = char(flags);
    quint8 mode = 0;
    if (intOf(t.value(0, DevMode)) == 1) mode |= 0x80;
    if (intOf(t.value(0, IsStandalone)) == 1) mode |= 0x10;
    if (intOf(t.value(0, DevMode_MSB)) == 1) mode |= 0x08;
    p[6] = char(mode);
    bool mok = false;
    const qint64 master = t.value(0, MasterCard).toText().trimmed().toLongLong(&mok);
    if (mok && master > 0 && master <= 0xFFFFFF) {
        p[0x1B] = char((master >> 16) & 0xFF);
        p[0x1C] = char((master >> 8) & 0xFF);
        p[0x1D] = char(master & 0xFF);
    }
    r->setParameterBlock(p);
    return r;
}

} // namespace kdr::sim
