#include "store/TableRoutines.h"

namespace kdr {

void SetFieldValue(Table &t, int field, const Value &v)
{
    if (t.current() >= 0) t.setValue(t.current(), field, v);
}

void SetFieldInAllRecords(Table &t, int field, const Value &v)
{
    TableWalk walk(t);
    for (int r = 0; r < t.recordCount(); ++r) t.setValue(r, field, v);
}

std::optional<Value> LastValueWhereFilled(const Table &t, int field, int otherField)
{
    for (int r = t.recordCount() - 1; r >= 0; --r)
        if (!t.value(r, field).toText().isEmpty()) return t.value(r, otherField);
    return std::nullopt;
}

int LastNonZeroRecNo(const Table &t, int field)
{
    int r = t.recordCount() - 1;
    if (r < 0) return 0;
    while (r > 0 && t.value(r, field).toInt() == 0) --r;
    if (r == 0 && t.value(0, field).isNull()) return 0;
    return r + 1;
}

void SelectRowsWithValue(const Table &t, int field, QSet<int> &selection, bool flag)
{
    for (int r = 0; r < t.recordCount(); ++r) {
        if (t.value(r, field).toText().isEmpty()) continue;
        if (flag)
            selection.insert(r);
        else
            selection.remove(r);
    }
}

int CollectFieldValues(const Table &t, int field, QStringList &list)
{
    for (int r = 0; r < t.recordCount(); ++r) {
        const Value v = t.value(r, field);
        if (!v.isNull()) list.append(v.toText());
    }
    return int(list.size());
}

} // namespace kdr
