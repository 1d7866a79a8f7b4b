#include "store/Table.h"

namespace kdr {

Table::Table(QList<FieldDef> fields, QObject *parent) : QObject(parent), m_fields(std::move(fields)) {}

int Table::fieldIndex(QStringView name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name == name) return i;
    return -1;
}

Value Table::value(int rec, int field) const
{
    if (rec < 0 || rec >= m_count || field < 0 || field >= m_fields.size()) return {};
    if (m_fields[field].calculated) return m_calc ? m_calc(*this, rec, field) : Value();
    return storedValue(rec, field);
}

Value Table::value(int rec, QStringView field) const { return value(rec, fieldIndex(field)); }

void Table::setValue(int rec, int field, const Value &v)
{
    if (rec < 0 || rec >= m_count || field < 0 || field >= m_fields.size()) return;
    const FieldDef &fd = m_fields[field];
    if (fd.calculated) return;
    Value &slot = m_values[size_t(rec) * m_fields.size() + field];
    if (fd.type == FieldType::Text && v.isText() && fd.size > 0 && v.toText().size() > fd.size)
        slot = Value(v.toText().left(fd.size));
    else if (v.isNull() || fd.type == FieldType::Text)
        slot = v.isNull() ? Value() : Value(v.toText());
    else if (fd.type == FieldType::Integer)
        slot = Value(v.toInt());
    else
        slot = Value(v.toBool());
    notifyRecord(rec, field);
}

int Table::appendRecord()
{
    appendRecords(1);
    return m_count - 1;
}

void Table::appendRecords(int n)
{
    if (n <= 0) return;
    const int first = m_count;
    m_values.resize(size_t(m_count + n) * m_fields.size());
    m_count += n;
    if (m_freeze)
        m_layoutDirty = true;
    else
        emit recordsAppended(first, m_count - 1);
}

void Table::removeRecord(int rec)
{
    if (rec < 0 || rec >= m_count) return;
    const size_t w = m_fields.size();
    m_values.erase(m_values.begin() + rec * w, m_values.begin() + (rec + 1) * w);
    --m_count;
    if (m_current >= m_count) m_current = m_count - 1;
    if (m_freeze)
        m_layoutDirty = true;
    else
        emit recordRemoved(rec);
    if (!m_freeze) emit currentChanged(m_current);
}

void Table::clear()
{
    m_values.clear();
    m_count = 0;
    m_current = -1;
    dirtyLayout();
}

void Table::reserve(int records) { m_values.reserve(size_t(records) * m_fields.size()); }

void Table::setCurrent(int rec)
{
    if (rec < -1 || rec >= m_count) return;
    if (rec == -1 && m_count > 0) return;
    if (m_current == rec) return;
    m_current = rec;
    if (m_freeze)
        m_currentDirty = true;
    else
        emit currentChanged(rec);
}

void Table::setFilter(Filter f)
{
    m_filter = std::move(f);
    if (m_filtered) dirtyLayout();
}

void Table::setFiltered(bool on)
{
    if (m_filtered == on) return;
    m_filtered = on;
    if (m_freeze)
        m_layoutDirty = true;
    else
        emit filterChanged();
    // Like a cursor on a filtered data set: a current record that is hidden now moves to the first
    // record that is still visible.
    if (on && m_current >= 0 && !isVisible(m_current)) {
        for (int r = 0; r < m_count; ++r)
            if (isVisible(r)) {
                setCurrent(r);
                break;
            }
    }
}

QList<int> Table::visibleRecords() const
{
    QList<int> out;
    out.reserve(m_count);
    for (int i = 0; i < m_count; ++i)
        if (isVisible(i)) out.append(i);
    return out;
}

void Table::disableControls() { ++m_freeze; }

void Table::enableControls()
{
    if (m_freeze == 0) return;
    if (--m_freeze > 0) return;
    if (m_layoutDirty) {
        m_layoutDirty = false;
        m_currentDirty = false;
        emit reset();
        emit currentChanged(m_current);
    } else if (m_currentDirty) {
        m_currentDirty = false;
        emit currentChanged(m_current);
    }
}

void Table::notifyRecord(int rec, int field)
{
    if (m_freeze)
        m_layoutDirty = true;
    else
        emit recordChanged(rec, field);
}

void Table::dirtyLayout()
{
    if (m_freeze)
        m_layoutDirty = true;
    else {
        emit reset();
        emit currentChanged(m_current);
    }
}

} // namespace kdr
