#include "store/VtdFile.h"

#include "store/AtomicFile.h"
#include "store/Cp1252.h"

#include <QFile>
#include <QtEndian>
#include <cstring>

namespace kdr {

namespace {

constexpr quint16 kTypeText = 1, kTypeInteger = 3, kTypeBoolean = 5;

class Reader {
public:
    explicit Reader(const QByteArray &d) : m_p(d.constData()), m_end(d.constData() + d.size()) {}
    bool u16(quint16 &v)
    {
        if (m_end - m_p < 2) return false;
        v = qFromLittleEndian<quint16>(m_p);
        m_p += 2;
        return true;
    }
    bool i32(qint32 &v)
    {
        if (m_end - m_p < 4) return false;
        v = qFromLittleEndian<qint32>(m_p);
        m_p += 4;
        return true;
    }
    bool bytes(qsizetype n, const char *&out)
    {
        if (n < 0 || m_end - m_p < n) return false;
        out = m_p;
        m_p += n;
        return true;
    }
    bool str(QString &s)
    {
        quint16 n;
        const char *p;
        if (!u16(n) || !bytes(n, p)) return false;
        s = QString::fromLatin1(p, n);
        return true;
    }
    qsizetype offset(const QByteArray &d) const { return m_p - d.constData(); }

private:
    const char *m_p;
    const char *m_end;
};

bool isXmlForm(const QByteArray &d)
{
    QByteArray s = d.left(64);
    if (s.startsWith("\xEF\xBB\xBF")) s = s.mid(3);
    s = s.toLower();
    return s.startsWith("<xml") || s.startsWith("<?xml");
}

VtdReadResult parseHeader(const QByteArray &data, Reader &rd)
{
    VtdReadResult r;
    if (data.size() < 5) {
        r.error = QStringLiteral("The file is too short to be a data file (%1 bytes).").arg(data.size());
        return r;
    }
    if (isXmlForm(data)) {
        r.error = QStringLiteral("The file is in the XML table form, which this program does not read.");
        return r;
    }
    const QString truncated = QStringLiteral("The file ends inside its header (at byte %1).");
    quint16 count = 0;
    if (!rd.u16(r.version) || !rd.u16(count)) {
        r.error = truncated.arg(rd.offset(data));
        return r;
    }
    if (r.version > 3) {
        r.error = QStringLiteral("Unknown data file version %1.").arg(r.version);
        return r;
    }
    for (int i = 0; i < count; ++i) {
        VtdFieldDef d;
        if (!rd.str(d.name) || !rd.u16(d.dataType) || !rd.u16(d.size) || (r.version >= 3 && !rd.i32(d.precision))) {
            r.error = truncated.arg(rd.offset(data));
            return r;
        }
        r.definitions.append(d);
    }
    if (r.version != 0) {
        quint16 listCount = 0;
        if (!rd.u16(listCount)) {
            r.error = truncated.arg(rd.offset(data));
            return r;
        }
        for (int i = 0; i < listCount; ++i) {
            QString name;
            quint16 kind, type, size;
            if (!rd.str(name) || !rd.u16(kind) || !rd.u16(type) || !rd.u16(size)) {
                r.error = truncated.arg(rd.offset(data));
                return r;
            }
        }
    }
    if (!rd.i32(r.recordCount)) {
        r.error = truncated.arg(rd.offset(data));
        return r;
    }
    if (r.recordCount < 0) {
        r.error = QStringLiteral("The file claims a negative record count (%1).").arg(r.recordCount);
        return r;
    }
    r.headerRead = true;
    r.ok = true;
    return r;
}

VtdReadResult readImpl(const QByteArray &data, Table &table, int maxRecords)
{
    table.disableControls();
    table.clear();
    Reader rd(data);
    VtdReadResult r = parseHeader(data, rd);
    if (!r.ok) {
        table.enableControls();
        return r;
    }

    struct Slot { int field; quint16 fileType; FieldType type; int size; };
    QList<Slot> map;
    map.reserve(r.definitions.size());
    for (const VtdFieldDef &d : r.definitions) {
        int f = table.fieldIndex(d.name);
        if (f >= 0 && table.fields()[f].calculated) f = -1;
        const bool known = d.dataType == kTypeText || d.dataType == kTypeInteger || d.dataType == kTypeBoolean;
        if (!known) f = -1;
        map.append({f, d.dataType, f >= 0 ? table.fields()[f].type : FieldType::Text, f >= 0 ? table.fields()[f].size : 0});
    }

    const bool wideLengths = r.version >= 2;
    const int want = maxRecords >= 0 ? std::min<qint32>(maxRecords, r.recordCount) : r.recordCount;
    // Guard the reservation against absurd counts in damaged files.
    table.reserve(std::min<qint64>(want, data.size() / std::max<qsizetype>(1, r.definitions.size() * (wideLengths ? 4 : 2)) + 1));
    for (int rec = 0; rec < want; ++rec) {
        // The record is filled in place and dropped again when the file ends inside it.
        const int row = table.appendRecord();
        bool complete = true;
        for (const Slot &s : map) {
            qint32 len = 0;
            const char *p = nullptr;
            if (wideLengths) {
                complete = rd.i32(len);
            } else {
                quint16 l16 = 0;
                complete = rd.u16(l16);
                len = l16;
            }
            if (complete && len != 0) complete = len > 0 && rd.bytes(len, p);
            if (!complete) break;
            if (len == 0 || s.field < 0) continue;
            switch (s.type) {
            case FieldType::Text: {
                qsizetype n = len;
                if (s.fileType == kTypeText && p[n - 1] == '\0') n = qsizetype(strnlen(p, size_t(n)));
                if (s.size > 0 && n > s.size) n = s.size;
                table.setValue(row, s.field, Value(decodeCp1252(p, n)));
                break;
            }
            case FieldType::Integer: {
                char buf[4] = {0, 0, 0, 0};
                std::memcpy(buf, p, size_t(std::min<qint32>(len, 4)));
                table.setValue(row, s.field, Value(qFromLittleEndian<qint32>(buf)));
                break;
            }
            case FieldType::Boolean: {
                bool v = false;
                for (qint32 k = 0; k < std::min<qint32>(len, 2); ++k) v = v || p[k] != 0;
                table.setValue(row, s.field, Value(v));
                break;
            }
            }
        }
        if (!complete) {
            table.removeRecord(row);
            r.ok = false;
            r.error = QStringLiteral("The file ends inside record %1 of %2 (at byte %3); %4 records were read.")
                          .arg(rec + 1).arg(r.recordCount).arg(rd.offset(data)).arg(r.recordsRead);
            break;
        }
        ++r.recordsRead;
    }
    table.setCurrent(table.recordCount() > 0 ? 0 : -1);
    table.enableControls();
    return r;
}

void putU16(QByteArray &b, quint16 v)
{
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}

void putI32(QByteArray &b, qint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

quint16 typeCode(FieldType t)
{
    switch (t) {
    case FieldType::Text: return kTypeText;
    case FieldType::Integer: return kTypeInteger;
    case FieldType::Boolean: return kTypeBoolean;
    }
    return 0;
}

} // namespace

VtdReadResult readVtd(const QByteArray &data, Table &table) { return readImpl(data, table, -1); }

VtdReadResult readVtdFile(const QString &path, Table &table) { return readVtdFile(path, table, -1); }

VtdReadResult readVtdFile(const QString &path, Table &table, int maxRecords)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        table.disableControls();
        table.clear();
        table.enableControls();
        VtdReadResult r;
        r.error = QStringLiteral("Cannot open \"%1\": %2").arg(path, f.errorString());
        return r;
    }
    QByteArray data;
    if (maxRecords >= 0) {
        // Our own header is 462 bytes and a record a few hundred: a small read usually does, and a
        // folder of a thousand readers is listed without reading their card lists.
        qint64 want = 4096;
        for (;;) {
            data += f.read(want - data.size());
            VtdReadResult r = readImpl(data, table, maxRecords);
            if (r.ok || f.atEnd() || (!r.headerRead && data.size() < want)) return r;
            want *= 4;
        }
    }
    data = f.readAll();
    return readImpl(data, table, -1);
}

VtdReadResult readVtdHeader(const QByteArray &data)
{
    Reader rd(data);
    return parseHeader(data, rd);
}

QList<FieldDef> fieldsForDefinitions(const QList<VtdFieldDef> &defs)
{
    QList<FieldDef> out;
    for (const VtdFieldDef &d : defs) {
        FieldType t = FieldType::Text;
        if (d.dataType == kTypeInteger) t = FieldType::Integer;
        else if (d.dataType == kTypeBoolean) t = FieldType::Boolean;
        out.append({d.name, t, d.dataType == kTypeText ? int(d.size) : 0, false});
    }
    return out;
}

QByteArray writeVtd(const Table &table)
{
    const auto &fields = table.fields();
    QByteArray header;
    putU16(header, 3);
    putU16(header, quint16(fields.size()));
    qsizetype perRecord = 0; // upper bound of one record's bytes
    for (const FieldDef &f : fields) {
        const QByteArray name = f.name.toLatin1();
        putU16(header, quint16(name.size()));
        header.append(name);
        putU16(header, typeCode(f.type));
        putU16(header, f.type == FieldType::Text ? quint16(f.size) : 0);
        putI32(header, 0);
        perRecord += 4 + (f.type == FieldType::Text ? std::max(f.size, 1) : 4);
    }
    putU16(header, 0);
    putI32(header, table.recordCount());

    // One buffer sized for the worst case, filled through a pointer: this runs on every edit.
    QByteArray b(header.size() + qsizetype(table.recordCount()) * perRecord, Qt::Uninitialized);
    char *p = b.data();
    std::memcpy(p, header.constData(), size_t(header.size()));
    p += header.size();
    auto i32 = [&p](qint32 v) {
        qToLittleEndian(v, p);
        p += 4;
    };
    for (int rec = 0; rec < table.recordCount(); ++rec) {
        for (int fi = 0; fi < fields.size(); ++fi) {
            const FieldDef &f = fields[fi];
            const Value &v = table.storedValue(rec, fi);
            if (f.calculated || v.isNull()) {
                i32(0);
                continue;
            }
            switch (f.type) {
            case FieldType::Text: {
                QByteArray t = encodeCp1252(v.toText());
                if (f.size > 0 && t.size() > f.size) t.truncate(f.size);
                if (t.isEmpty()) t = QByteArray(1, '\0'); // empty, not NULL
                if (f.size <= 0) { // unbounded text: the estimate does not cover it
                    const qsizetype used = p - b.constData();
                    b.resize(b.size() + t.size() + 4);
                    p = b.data() + used;
                }
                i32(qint32(t.size()));
                std::memcpy(p, t.constData(), size_t(t.size()));
                p += t.size();
                break;
            }
            case FieldType::Integer:
                i32(4);
                i32(v.toInt());
                break;
            case FieldType::Boolean:
                i32(2);
                qToLittleEndian<quint16>(v.toBool() ? 1 : 0, p);
                p += 2;
                break;
            }
        }
    }
    b.truncate(p - b.constData());
    return b;
}

QString SaveTableToFile(Table &table, const QString &path)
{
    // The current record stays where it is: nothing here moves the cursor.
    return writeFileAtomically(path, writeVtd(table));
}

} // namespace kdr
