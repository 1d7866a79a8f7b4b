#pragma once
// In-memory table with typed fields, NULL values, calculated fields, a cursor (current record),
// an on/off filter and a frozen-display mode. Views follow it through its signals.

#include "store/Value.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

namespace kdr {

struct FieldDef {
    QString name;
    FieldType type = FieldType::Integer;
    int size = 0;            // maximum text length for text fields
    bool calculated = false; // computed for display, never stored
};

class Table : public QObject {
    Q_OBJECT
public:
    using Calculator = std::function<Value(const Table &, int rec, int field)>;
    using Filter = std::function<bool(const Table &, int rec)>;

    explicit Table(QList<FieldDef> fields, QObject *parent = nullptr);

    const QList<FieldDef> &fields() const { return m_fields; }
    int fieldCount() const { return int(m_fields.size()); }
    int fieldIndex(QStringView name) const; // -1 when there is no such field
    void setCalculator(Calculator c) { m_calc = std::move(c); }

    // Records, 0-based, regardless of the filter.
    int recordCount() const { return m_count; }
    Value value(int rec, int field) const;
    const Value &storedValue(int rec, int field) const { return m_values[size_t(rec) * m_fields.size() + field]; }
    Value value(int rec, QStringView field) const;
    // Texts longer than the field are cut to its size; calculated fields cannot be set.
    void setValue(int rec, int field, const Value &v);
    int appendRecord();                 // returns the new record's index; all fields NULL
    void appendRecords(int n);          // n empty records
    void removeRecord(int rec);
    void clear();
    void reserve(int records);

    // Cursor. -1 when the table is empty.
    int current() const { return m_current; }
    void setCurrent(int rec);

    // Filter: while on, only records the predicate accepts are visible to views and navigation.
    void setFilter(Filter f);
    void setFiltered(bool on);
    bool isFiltered() const { return m_filtered; }
    bool isVisible(int rec) const { return !m_filtered || !m_filter || m_filter(*this, rec); }
    QList<int> visibleRecords() const;

    // Frozen display: views get one reset when the outermost freeze ends.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_freeze > 0; }

signals:
    void reset();
    void recordChanged(int rec, int field); // field -1: whole record
    void recordsAppended(int first, int last);
    void recordRemoved(int rec);
    void currentChanged(int rec);
    void filterChanged();

private:
    void notifyRecord(int rec, int field);
    void dirtyLayout();

    QList<FieldDef> m_fields;
    std::vector<Value> m_values;
    int m_count = 0;
    int m_current = -1;
    int m_freeze = 0;
    bool m_layoutDirty = false;
    bool m_currentDirty = false;
    bool m_filtered = false;
    Filter m_filter;
    Calculator m_calc;
};

// Keeps the table's current record and frozen display for the life of a table walk, also when
// the walk fails half-way.
class TableWalk {
public:
    explicit TableWalk(Table &t) : m_t(t), m_rec(t.current()) { m_t.disableControls(); }
    ~TableWalk()
    {
        if (m_rec >= 0 && m_rec < m_t.recordCount()) m_t.setCurrent(m_rec);
        m_t.enableControls();
    }
    TableWalk(const TableWalk &) = delete;
    TableWalk &operator=(const TableWalk &) = delete;

private:
    Table &m_t;
    int m_rec;
};

} // namespace kdr
