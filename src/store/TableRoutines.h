#pragma once
// Small table walks used across the program. Each keeps the table's current record.
#include "store/Table.h"

#include <QSet>
#include <QStringList>
#include <optional>

namespace kdr {

// Assigns a value to a field of the current record.
void SetFieldValue(Table &t, int field, const Value &v);
// Assigns a value to a field of every record, first to last.
void SetFieldInAllRecords(Table &t, int field, const Value &v);
// From the last record backwards, the first one whose field text is not empty: the other field's
// value there. nullopt when no record qualifies.
std::optional<Value> LastValueWhereFilled(const Table &t, int field, int otherField);
// From the last record backwards while the field reads as 0: the 1-based record number reached;
// 0 when the walk ends on record 1 and the field is NULL there.
int LastNonZeroRecNo(const Table &t, int field);
// Sets (flag true) or clears the selection mark of every record whose field text is not empty.
void SelectRowsWithValue(const Table &t, int field, QSet<int> &selection, bool flag);
// Adds the text of the field of every record where it is not NULL; returns the list's count.
int CollectFieldValues(const Table &t, int field, QStringList &list);

} // namespace kdr
