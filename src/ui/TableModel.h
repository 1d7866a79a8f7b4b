#pragma once
// Qt item model over one of the in-memory tables; rows are the records the table's filter lets
// through, in stored order. Sorting by a column (a proxy on top) reorders the display only.
#include "ui/GridStyle.h"

#include <QAbstractTableModel>
#include <QSet>

namespace kdr {

class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Roles { RecordRole = Qt::UserRole + 1, SortRole };

    TableModel(Table &table, GridKind kind, QList<GridColumn> columns, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    Table &table() const { return m_table; }
    GridKind kind() const { return m_kind; }
    const GridColumn &column(int c) const { return m_columns[c]; }
    int recordAt(int row) const { return row >= 0 && row < m_rows.size() ? m_rows[row] : -1; }
    int rowOf(int rec) const;

    // Rows the view shows as selected (bold on pale green) and the "Compare cards" switch.
    void setSelectedRecords(const QSet<int> &recs);
    const QSet<int> &selectedRecords() const { return m_selected; }
    void setCompareCards(bool on);
    bool compareCards() const { return m_compare; }
    CellStyle styleAt(int row, int column) const;
    // A detached model shows no rows and reads nothing from its table (the table is being refilled).
    void setDetached(bool on);

private:
    void rebuild();
    Table &m_table;
    GridKind m_kind;
    QList<GridColumn> m_columns;
    QList<int> m_rows; // row -> record
    QHash<int, int> m_rowOf;
    QSet<int> m_selected;
    bool m_compare = false;
    bool m_detached = false;
};

} // namespace kdr
