#pragma once
// Texts in data files come from Windows installations: single-byte Windows-1252.
#include <QByteArray>
#include <QString>

namespace kdr {
QString decodeCp1252(const char *data, qsizetype len);
inline QString decodeCp1252(const QByteArray &b) { return decodeCp1252(b.constData(), b.size()); }
// Characters without a Windows-1252 byte become '?'.
QByteArray encodeCp1252(const QString &s);
} // namespace kdr
