#pragma once
// Draws grid cells with the grid's own colours: the selection shows as bold on pale green (from
// the model), not as the style's highlight.
#include <QStyledItemDelegate>

namespace kdr {

class GridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        if (index.data(Qt::CheckStateRole).isValid()) {
            option->displayAlignment = Qt::AlignCenter;
            option->features |= QStyleOptionViewItem::HasCheckIndicator;
        }
    }
};

} // namespace kdr
