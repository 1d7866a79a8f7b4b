#pragma once
// Small helpers shared by the test executables.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

namespace testutil {

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// Builds data files byte by byte, the way other writers lay them out.
class VtdBuilder {
public:
    explicit VtdBuilder(quint16 version) : m_version(version) { u16(version); }
    VtdBuilder &u16(quint16 v) { char c[2]; qToLittleEndian(v, c); m_b.append(c, 2); return *this; }
    VtdBuilder &i32(qint32 v) { char c[4]; qToLittleEndian(v, c); m_b.append(c, 4); return *this; }
    VtdBuilder &raw(const QByteArray &b) { m_b.append(b); return *this; }
    VtdBuilder &def(const char *name, quint16 type, quint16 size)
    {
        u16(quint16(qstrlen(name))).raw(name).u16(type).u16(size);
        if (m_version >= 3) i32(0);
        return *this;
    }
    // A value: NULL when data is null.
    VtdBuilder &val(const QByteArray &data)
    {
        if (m_version >= 2) i32(qint32(data.size())); else u16(quint16(data.size()));
        return raw(data);
    }
    VtdBuilder &nul() { return val(QByteArray()); }
    VtdBuilder &intVal(qint32 v) { char c[4]; qToLittleEndian(v, c); return val(QByteArray(c, 4)); }
    QByteArray bytes() const { return m_b; }

private:
    quint16 m_version;
    QByteArray m_b;
};

} // namespace testutil
