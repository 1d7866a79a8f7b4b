#pragma once
// Telegrams and answer lines of the bus interfaces. A request is SOH, a space, upper-case hex
// digits and EOT; answers are text lines ending with EOT. Nothing here keeps state.
#include <QByteArray>
#include <QString>
#include <stdexcept>

namespace kdr {

class Prompter;

// A hex field of a received line did not convert. The receive handlers let it end the handling
// of the current line.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const QString &text)
        : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

private:
    QString m_text;
};

namespace Codec {

inline constexpr char kSOH = 0x01;

// The two scan telegrams are sent whole; everything else comes from the builders below.
inline const QByteArray ScanTelegram = QByteArray("\x01.3F\x04", 5);
inline const QByteArray MBusScanTelegram = QByteArray("\x01-\x04", 3);

inline constexpr qint32 HlxInitWord = 0x580B;
inline constexpr qint32 HlxResetWord = 0x5100;
inline constexpr qint32 HlxSearchWord = 0x5200;
inline constexpr qint32 FirstPage = 0x0810;
inline constexpr qint32 LastPage = 0x081F;
inline constexpr qint32 FirstSubPage = 0x8110;
inline constexpr qint32 FirstLocation = 0x8402;
inline constexpr qint32 LocationEnd = 0x8502;
inline constexpr qint32 MBusFirstCardLocation = 256;
inline const QString MBusSearchData = QStringLiteral("0400000B020103080000FE0000000000");
inline const QString MBusVersionData = QStringLiteral("040000010D00");
inline const QString MBusCardCountData = QStringLiteral("0C000001C800");
inline const QString MBusResetData = QStringLiteral("020000010000");

// Upper-case hex, left-padded with "0" to at least `minDigits`, never truncated. Negative values
// are written as their 32-bit pattern.
QString Hex(qint32 value, int minDigits = 1);

// 9600 baud. sub == -1: the value alone (8 digits when padded, minimal otherwise); else the value
// (3 digits when padded) followed by sub (5 digits when padded).
QByteArray MakeHlxTelegram(qint32 value, qint32 sub, bool padded);
// 9600 baud: prefix + value + suffix; with a prefix or suffix the value fills the rest of 8 digits.
QByteArray MakeHlxSerialTelegram(qint32 value, const QString &prefix, const QString &suffix);
// M:BUS: "FFFFFF" + serial (6 digits) + data.
QByteArray MakeMBusTelegram(qint32 serial, const QString &data);
// M:BUS read of one 32-byte block; the first card location reads with suffix "8000".
QByteArray MakeMBusReadTelegram(qint32 serial, qint32 location);
// M:BUS write of `data` (hex text) at `location`.
QByteArray MakeMBusWriteTelegram(qint32 serial, qint32 location, const QString &data);

// Strips every leading and trailing character with a code of 0x20 or below.
QString NormalizeLine(const QString &line);
QString NormalizeLine(const QByteArray &line); // bytes taken one to one (Latin-1)
// Lines on the 9600-baud bus port lose their first character before any test.
QString StripHlxLead(const QString &normalizedLine);

// 1-based character positions; a start below 1 counts as 1, a field past the end is cut.
QString Field(const QString &line, int start, int length);
QString FieldRange(const QString &line, int first, int last); // characters first..last

// Signed 32-bit: "FFFFFFFF" is -1. Throws ConversionError on empty or non-hex text, or on more
// than 8 significant digits.
qint32 HexToInt(const QString &text);
QString HexToDecimalText(const QString &text);

bool IsHlxAckPositive(const QString &line);  // line after the first-character removal
bool IsMBusProgressMarker(const QString &line); // "." is not an acknowledge
bool IsMBusAckPositive(const QString &line);

// Eight hex digits of a free protocol: empty (null) for zero or negative, the last four digits
// when the first four are "0000", else all eight. Throws ConversionError.
QString DecodeFreeProtocolField(const QString &field);

// "A" -> "1010". Throws ConversionError on a non-hex character.
QString HexToBin(const QString &hex);
// "101" -> "5". A character other than 0/1 shows "This is not binary number!" through the
// prompter (when given) and gives an empty result.
QString BinToHex(const QString &bits, Prompter *prompter);

} // namespace Codec
} // namespace kdr
