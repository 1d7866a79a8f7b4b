#include "ui/AboutDialog.h"

#include "app/ProcessStart.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace kdr {

// The logo: a drawn badge with rings that spread from where the pointer moves.
class RippleLogo : public QWidget {
public:
    explicit RippleLogo(QWidget *parent) : QWidget(parent)
    {
        setFixedSize(220, 90);
        setMouseTracking(true);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (Ripple &r : m_ripples) r.radius += 2.5;
            m_ripples.erase(std::remove_if(m_ripples.begin(), m_ripples.end(), [](const Ripple &r) { return r.radius > 120; }),
                            m_ripples.end());
            update();
        });
        m_timer.start(25);
    }

protected:
    void mouseMoveEvent(QMouseEvent *e) override
    {
        if (m_ripples.size() < 12) m_ripples.push_back({e->position(), 0});
    }
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), QColor(0, 0, 128));
        for (const Ripple &r : m_ripples) {
            QColor c(255, 255, 255, std::max(0, 160 - int(r.radius * 1.3)));
            p.setPen(QPen(c, 2));
            p.drawEllipse(r.centre, r.radius, r.radius);
        }
        QFont f = font();
        f.setPointSize(26);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("KDR02"));
    }

private:
    struct Ripple {
        QPointF centre;
        double radius;
    };
    std::vector<Ripple> m_ripples;
    QTimer m_timer;
};

QString AboutDialog::versionText() { return QStringLiteral("ver. ") + kProgramVersion + QStringLiteral("\r\n64bit"); }

QString AboutDialog::releaseHistory()
{
    return QStringLiteral(
        "3.0\n"
        "- Runs on Linux; serial ports are listed by their system names.\n"
        "- Reader data files are saved through a temporary file, so an interrupted save keeps the previous file.\n"
        "- Readers with 4000 card slots.\n"
        "- Device modes for reader software 2.0.6 and later.\n"
        "2.x\n"
        "- M:BUS interface at 28800 baud.\n"
        "- CSV, EEP and VTD export and import.\n");
}

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(new RippleLogo(this), 0, Qt::AlignHCenter);
    auto *ver = new QLabel(versionText(), this);
    ver->setObjectName(QStringLiteral("lblVersion"));
    ver->setAlignment(Qt::AlignCenter);
    lay->addWidget(ver);
    auto *btn = new QPushButton(QStringLiteral("Changes"), this);
    btn->setObjectName(QStringLiteral("btnChanges"));
    lay->addWidget(btn, 0, Qt::AlignHCenter);
    m_changes = new QPlainTextEdit(releaseHistory(), this);
    m_changes->setObjectName(QStringLiteral("memoChanges"));
    m_changes->setReadOnly(true);
    m_changes->setVisible(false);
    m_changes->setMinimumHeight(140);
    lay->addWidget(m_changes);
    connect(btn, &QPushButton::clicked, this, [this] {
        m_changes->setVisible(!m_changes->isVisible());
        adjustSize();
    });
}

} // namespace kdr
