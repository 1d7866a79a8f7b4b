#pragma once
// How the two grids colour their cells.
#include "store/Table.h"

#include <QColor>

namespace kdr {

namespace GridColor {
inline const QColor SelectedBack{192, 220, 192};
inline const QColor OddBack{255, 255, 255};
inline const QColor EvenBack{255, 251, 240};
inline const QColor CompareBack{192, 192, 192};
inline const QColor Red{255, 0, 0};
inline const QColor Navy{0, 0, 128};
inline const QColor Green{0, 128, 0};
inline const QColor Black{0, 0, 0};
} // namespace GridColor

struct CellStyle {
    QColor back;
    QColor text;
    bool bold = false;
};

struct GridColumn {
    int field;
    QString title;
    QColor text = GridColor::Black; // the column's own text colour
};

enum class GridKind { Cards, Readers };

// rec: the record; recordNumber: its 1-based number in the table; selected: the row is selected.
CellStyle cellStyle(GridKind kind, const Table &t, int rec, int recordNumber, const GridColumn &col, bool selected,
                    bool compareCards);

QList<GridColumn> cardGridColumns();
QList<GridColumn> readerGridColumns();

} // namespace kdr
