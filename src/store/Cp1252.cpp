#include "store/Cp1252.h"

#include <array>

namespace kdr {

namespace {
// 0x80..0x9F differ from Latin-1; 0xFFFD marks the five unassigned bytes.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

constexpr char16_t toUnicode(unsigned char c)
{
    return (c >= 0x80 && c <= 0x9F) ? kHigh[c - 0x80] : char16_t(c);
}
} // namespace

QString decodeCp1252(const char *data, qsizetype len)
{
    QString s(len, Qt::Uninitialized);
    QChar *out = s.data();
    for (qsizetype i = 0; i < len; ++i) out[i] = QChar(toUnicode(static_cast<unsigned char>(data[i])));
    return s;
}

QByteArray encodeCp1252(const QString &s)
{
    QByteArray b(s.size(), Qt::Uninitialized);
    char *out = b.data();
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s.at(i).unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out[i] = char(u);
            continue;
        }
        char c = '?';
        for (int k = 0; k < 32; ++k)
            if (kHigh[k] == u && u != 0xFFFD) { c = char(0x80 + k); break; }
        out[i] = c;
    }
    return b;
}

} // namespace kdr
