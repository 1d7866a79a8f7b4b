#include "store/IniFile.h"

#include "store/AtomicFile.h"

#include <QFile>

namespace kdr {

bool IniFile::load(const QString &path)
{
    m_sections.clear();
    QFile f(path);
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QString text = QString::fromUtf8(f.readAll());
    Section *cur = nullptr;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            m_sections.append({line.mid(1, line.size() - 2), {}});
            cur = &m_sections.last();
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        if (!cur) {
            m_sections.append({QString(), {}});
            cur = &m_sections.last();
        }
        cur->keys.append({line.left(eq).trimmed(), line.mid(eq + 1)});
    }
    return true;
}

QString IniFile::save(const QString &path) const
{
    QByteArray out;
    for (const Section &s : m_sections) {
        out += '[' + s.name.toUtf8() + "]\r\n";
        for (const auto &kv : s.keys) out += kv.first.toUtf8() + '=' + kv.second.toUtf8() + "\r\n";
        out += "\r\n";
    }
    return writeFileAtomically(path, out);
}

const IniFile::Section *IniFile::find(const QString &section) const
{
    for (const Section &s : m_sections)
        if (s.name.compare(section, Qt::CaseInsensitive) == 0) return &s;
    return nullptr;
}

bool IniFile::contains(const QString &section, const QString &key) const
{
    if (const Section *s = find(section))
        for (const auto &kv : s->keys)
            if (kv.first.compare(key, Qt::CaseInsensitive) == 0) return true;
    return false;
}

QString IniFile::value(const QString &section, const QString &key, const QString &def) const
{
    if (const Section *s = find(section))
        for (const auto &kv : s->keys)
            if (kv.first.compare(key, Qt::CaseInsensitive) == 0) return kv.second;
    return def;
}

int IniFile::intValue(const QString &section, const QString &key, int def) const
{
    bool ok = false;
    const int v = value(section, key).trimmed().toInt(&ok);
    return ok ? v : def;
}

bool IniFile::boolValue(const QString &section, const QString &key, bool def) const
{
    bool ok = false;
    const int v = value(section, key).trimmed().toInt(&ok);
    return ok ? v != 0 : def;
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    Section *s = const_cast<Section *>(find(section));
    if (!s) {
        m_sections.append({section, {}});
        s = &m_sections.last();
    }
    for (auto &kv : s->keys)
        if (kv.first.compare(key, Qt::CaseInsensitive) == 0) {
            kv.second = value;
            return;
        }
    s->keys.append({key, value});
}

} // namespace kdr
