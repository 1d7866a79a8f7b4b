#pragma once
// A label that acts as a link: the reader info values are clicked to change or find them.
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>

namespace kdr {

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickLabel(const QString &text, QWidget *parent = nullptr) : QLabel(text, parent)
    {
        setCursor(Qt::PointingHandCursor);
        QFont f = font();
        f.setUnderline(true);
        setFont(f);
    }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *e) override
    {
        if (isEnabled() && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
        QLabel::mouseReleaseEvent(e);
    }
};

// The port selector refreshes its list each time it drops down.
class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

signals:
    void aboutToShowPopup();

protected:
    void showPopup() override
    {
        emit aboutToShowPopup();
        QComboBox::showPopup();
    }
};

} // namespace kdr
