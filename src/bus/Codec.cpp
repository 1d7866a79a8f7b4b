#include "bus/Codec.h"

#include "store/Prompter.h"

namespace kdr::Codec {

namespace {

QByteArray frame(const QString &payload)
{
    QByteArray t;
    t.reserve(payload.size() + 3);
    t.append(kSOH);
    t.append(' ');
    t.append(payload.toLatin1());
    t.append(char(0x04));
    return t;
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    return -1;
}

ConversionError notHex(const QString &text)
{
    return ConversionError(QStringLiteral("'%1' is not a valid hexadecimal number").arg(text));
}

} // namespace

QString Hex(qint32 value, int minDigits)
{
    return QString::number(quint32(value), 16).toUpper().rightJustified(minDigits, QLatin1Char('0'));
}

QByteArray MakeHlxTelegram(qint32 value, qint32 sub, bool padded)
{
    if (sub == -1) return frame(Hex(value, padded ? 8 : 1));
    return frame(Hex(value, padded ? 3 : 1) + Hex(sub, padded ? 5 : 1));
}

QByteArray MakeHlxSerialTelegram(qint32 value, const QString &prefix, const QString &suffix)
{
    const int digits = (prefix.isEmpty() && suffix.isEmpty()) ? 1 : 8 - int(prefix.size()) - int(suffix.size());
    return frame(prefix + Hex(value, qMax(1, digits)) + suffix);
}

QByteArray MakeMBusTelegram(qint32 serial, const QString &data)
{
    return frame(QStringLiteral("FFFFFF") + Hex(serial, 6) + data);
}

QByteArray MakeMBusReadTelegram(qint32 serial, qint32 location)
{
    return frame(QStringLiteral("FFFFFF") + Hex(serial, 6) + QStringLiteral("06000006000000") + Hex(location, 4)
                 + (location == MBusFirstCardLocation ? QStringLiteral("8000") : QStringLiteral("2000")));
}

QByteArray MakeMBusWriteTelegram(qint32 serial, qint32 location, const QString &data)
{
    const qint32 length = qint32(data.size() / 2 + 5);
    return frame(QStringLiteral("FFFFFF") + Hex(serial, 6) + QStringLiteral("080000") + Hex(length, 2)
                 + QStringLiteral("00") + QStringLiteral("0000") + Hex(location, 4) + data + QStringLiteral("00"));
}

QString NormalizeLine(const QString &line)
{
    qsizetype b = 0, e = line.size();
    while (b < e && line.at(b).unicode() <= 0x20) ++b;
    while (e > b && line.at(e - 1).unicode() <= 0x20) --e;
    return line.mid(b, e - b);
}

QString NormalizeLine(const QByteArray &line) { return NormalizeLine(QString::fromLatin1(line)); }

QString StripHlxLead(const QString &normalizedLine) { return normalizedLine.mid(1); }

QString Field(const QString &line, int start, int length)
{
    if (length <= 0) return QString();
    if (start < 1) start = 1;
    if (start > line.size()) return QString();
    return line.mid(start - 1, length);
}

QString FieldRange(const QString &line, int first, int last)
{
    if (first < 1) first = 1;
    return Field(line, first, last - first + 1);
}

qint32 HexToInt(const QString &text)
{
    if (text.isEmpty()) throw notHex(text);
    quint32 v = 0;
    int significant = 0;
    for (QChar c : text) {
        const int d = hexDigit(c);
        if (d < 0) throw notHex(text);
        if (significant > 0 || d != 0) ++significant;
        if (significant > 8) throw notHex(text);
        v = (v << 4) | quint32(d);
    }
    return qint32(v);
}

QString HexToDecimalText(const QString &text) { return QString::number(HexToInt(text)); }

bool IsHlxAckPositive(const QString &line) { return line == QLatin1String("1"); }

bool IsMBusProgressMarker(const QString &line) { return line == QLatin1String("."); }

bool IsMBusAckPositive(const QString &line) { return line.contains(QLatin1Char('(')); }

QString DecodeFreeProtocolField(const QString &field)
{
    if (HexToInt(field) <= 0) return QString();
    if (field.left(4) == QLatin1String("0000")) return field.right(4);
    return field;
}

QString HexToBin(const QString &hex)
{
    QString bits;
    bits.reserve(hex.size() * 4);
    for (QChar c : hex) {
        const int d = hexDigit(c);
        if (d < 0) throw notHex(hex);
        for (int b = 3; b >= 0; --b) bits.append((d >> b) & 1 ? QLatin1Char('1') : QLatin1Char('0'));
    }
    return bits;
}

QString BinToHex(const QString &bits, Prompter *prompter)
{
    for (QChar c : bits)
        if (c != QLatin1Char('0') && c != QLatin1Char('1')) {
            if (prompter) prompter->message(DlgType::Error, QStringLiteral("This is not binary number!"), {Btn::Ok});
            return QString();
        }
    if (bits.isEmpty()) return QString();
    const QString padded = bits.rightJustified((bits.size() + 3) / 4 * 4, QLatin1Char('0'));
    QString hex;
    for (qsizetype i = 0; i < padded.size(); i += 4) {
        int d = 0;
        for (qsizetype j = 0; j < 4; ++j) d = d * 2 + (padded.at(i + j) == QLatin1Char('1') ? 1 : 0);
        hex.append(QLatin1Char("0123456789ABCDEF"[d]));
    }
    return hex;
}

} // namespace kdr::Codec
