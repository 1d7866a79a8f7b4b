#include "ui/TableModel.h"

#include <QFont>

namespace kdr {

TableModel::TableModel(Table &table, GridKind kind, QList<GridColumn> columns, QObject *parent)
    : QAbstractTableModel(parent), m_table(table), m_kind(kind), m_columns(std::move(columns))
{
    rebuild();
    auto relayout = [this] {
        beginResetModel();
        rebuild();
        endResetModel();
    };
    connect(&table, &Table::reset, this, relayout);
    connect(&table, &Table::filterChanged, this, relayout);
    connect(&table, &Table::recordRemoved, this, relayout);
    connect(&table, &Table::recordsAppended, this, [this](int first, int last) {
        if (m_detached) return;
        if (m_table.isFiltered()) {
            beginResetModel();
            rebuild();
            endResetModel();
            return;
        }
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size()) + last - first);
        for (int r = first; r <= last; ++r) {
            m_rowOf.insert(r, int(m_rows.size()));
            m_rows.append(r);
        }
        endInsertRows();
    });
    connect(&table, &Table::recordChanged, this, [this](int rec, int) {
        if (m_detached) return;
        if (m_table.isFiltered() && m_table.isVisible(rec) != m_rowOf.contains(rec)) {
            beginResetModel();
            rebuild();
            endResetModel();
            return;
        }
        const int row = rowOf(rec);
        if (row >= 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    });
}

void TableModel::setDetached(bool on)
{
    if (m_detached == on) return;
    beginResetModel();
    m_detached = on;
    rebuild();
    endResetModel();
}

void TableModel::rebuild()
{
    m_rows = m_detached ? QList<int>() : m_table.visibleRecords();
    m_rowOf.clear();
    for (int i = 0; i < m_rows.size(); ++i) m_rowOf.insert(m_rows[i], i);
}

int TableModel::rowOf(int rec) const { return m_rowOf.value(rec, -1); }

int TableModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int TableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_columns.size()); }

CellStyle TableModel::styleAt(int row, int column) const
{
    const int rec = recordAt(row);
    return cellStyle(m_kind, m_table, rec, rec + 1, m_columns[column], m_selected.contains(rec), m_compare);
}

QVariant TableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid()) return {};
    const int rec = recordAt(index.row());
    if (rec < 0 || rec >= m_table.recordCount()) return {}; // a frozen table may be refilling
    const GridColumn &col = m_columns[index.column()];
    const Value v = m_table.value(rec, col.field);
    const bool isBool = m_table.fields()[col.field].type == FieldType::Boolean;
    switch (role) {
    case Qt::DisplayRole:
        return isBool || v.isNull() ? QVariant() : QVariant(v.toText());
    case Qt::CheckStateRole:
        if (!isBool || v.isNull()) return {};
        return v.toBool() ? Qt::Checked : Qt::Unchecked;
    case SortRole:
        if (v.isNull()) return {};
        if (v.isInt()) return v.toInt();
        if (v.isBool()) return v.toBool() ? 1 : 0;
        return v.toText();
    case RecordRole:
        return rec;
    case Qt::ForegroundRole:
        return styleAt(index.row(), index.column()).text;
    case Qt::BackgroundRole:
        return styleAt(index.row(), index.column()).back;
    case Qt::FontRole:
        if (styleAt(index.row(), index.column()).bold) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    }
    return {};
}

QVariant TableModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_columns.size())
        return m_columns[section].title;
    return {};
}

void TableModel::setSelectedRecords(const QSet<int> &recs)
{
    if (recs == m_selected) return;
    QSet<int> changed = recs;
    changed.unite(m_selected);
    m_selected = recs;
    for (int rec : changed) {
        const int row = rowOf(rec);
        if (row >= 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}

void TableModel::setCompareCards(bool on)
{
    if (m_compare == on) return;
    m_compare = on;
    if (!m_rows.isEmpty()) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

} // namespace kdr
