#include "ui/SettingsDialog.h"

#include "store/SettingsActions.h"
#include "store/Workspace.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace kdr {

namespace {
QSpinBox *timeoutField(QWidget *parent)
{
    auto *sp = new QSpinBox(parent);
    sp->setRange(200, 999); // three digits at most
    return sp;
}

QLabel *explanation(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setWordWrap(true);
    return l;
}
} // namespace

SettingsDialog::SettingsDialog(Workspace &ws, QWidget *parent) : QDialog(parent), m_ws(ws)
{
    setWindowTitle(QStringLiteral("Settings"));
    auto *main = new QVBoxLayout(this);

    auto *timeGroup = new QGroupBox(QStringLiteral("TimeOut"), this);
    auto *tg = new QGridLayout(timeGroup);
    m_protocol = timeoutField(timeGroup);
    m_read = timeoutField(timeGroup);
    m_write = timeoutField(timeGroup);
    const struct {
        const char *label;
        QSpinBox *field;
        const char *text;
    } rows[] = {
        {"Protokol TimeOut (Values: 200-999):", m_protocol,
         "Setting this value down will increase speed of sending protocols, but setting this value too small will result in communication breakdown."},
        {"Read TimeOut (Values: 200-999):", m_read,
         "Setting this value down will increase speed of receiving cards, but setting this value too small will result in communication breakdown."},
        {"Write TimeOut (Values: 200-999):", m_write,
         "Setting this value down will increase speed of writing data to memory of KDR, but setting this value too small will result in communication breakdown."},
    };
    int r = 0;
    for (const auto &row : rows) {
        tg->addWidget(new QLabel(QString::fromLatin1(row.label), timeGroup), r, 0);
        tg->addWidget(row.field, r, 1);
        tg->addWidget(explanation(QString::fromLatin1(row.text), timeGroup), r + 1, 0, 1, 2);
        r += 2;
    }
    main->addWidget(timeGroup);

    auto *portGroup = new QGroupBox(QStringLiteral("Select port type"), this);
    auto *pg = new QHBoxLayout(portGroup);
    m_portType = new QButtonGroup(this);
    const char *types[] = {"RS232", "HLXBUS USB", "MBUS USB"};
    for (int i = 0; i < 3; ++i) {
        auto *rb = new QRadioButton(QString::fromLatin1(types[i]), portGroup);
        m_portType->addButton(rb, i);
        pg->addWidget(rb);
    }
    main->addWidget(portGroup);

    auto *otherGroup = new QGroupBox(QStringLiteral("Other"), this);
    auto *og = new QGridLayout(otherGroup);
    og->addWidget(new QLabel(QStringLiteral("Active folder:"), otherGroup), 0, 0);
    m_folders = new QComboBox(otherGroup);
    m_folders->setMinimumContentsLength(24);
    og->addWidget(m_folders, 0, 1);
    m_refresh = new QToolButton(otherGroup);
    m_refresh->setText(QStringLiteral("\u21bb"));
    m_refresh->setToolTip(QStringLiteral("Refresh file list"));
    og->addWidget(m_refresh, 0, 2);
    m_sendReport = new QCheckBox(QStringLiteral("Automatically send bug report"), otherGroup);
    og->addWidget(m_sendReport, 1, 0, 1, 3);
    main->addWidget(otherGroup);

    auto *reportGroup = new QGroupBox(QStringLiteral("Report"), this);
    auto *rg = new QVBoxLayout(reportGroup);
    m_reports = new QListWidget(reportGroup);
    rg->addWidget(m_reports);
    auto *rb = new QHBoxLayout;
    auto *design = new QPushButton(QStringLiteral("Design report"), reportGroup);
    auto *refreshReports = new QPushButton(QStringLiteral("Refresh report list"), reportGroup);
    rb->addWidget(design);
    rb->addWidget(refreshReports);
    rg->addLayout(rb);
    main->addWidget(reportGroup);

    m_apply = new QPushButton(QStringLiteral("Apply settings"), this);
    main->addWidget(m_apply);

    // Read at creation, without running the controls' handlers.
    if (QAbstractButton *b = m_portType->button(m_ws.settings.usbOrSerial)) b->setChecked(true);
    m_sendReport->setChecked(m_ws.settings.sendReport);

    connect(m_portType, &QButtonGroup::idClicked, this, &SettingsDialog::portTypeClicked); // user clicks only
    connect(m_folders, &QComboBox::currentIndexChanged, this, &SettingsDialog::folderIndexChanged);
    connect(m_refresh, &QToolButton::clicked, this, [this] {
        rebuildFolderList();
        emit refreshRequested();
    });
    connect(m_sendReport, &QCheckBox::clicked, this, [this](bool on) {
        m_ws.settings.sendReport = on;
        emit sendReportChanged(on);
    });
    connect(design, &QPushButton::clicked, this, &SettingsDialog::designReportRequested);
    connect(refreshReports, &QPushButton::clicked, this, &SettingsDialog::refreshReportListRequested);
    connect(m_apply, &QPushButton::clicked, this, &SettingsDialog::applySettings);

    rebuildFolderList();
}

void SettingsDialog::rebuildFolderList()
{
    const QList<FolderChoice> choices = activeFolderChoices(m_ws.programFolder());
    const QString current = resolveActiveSubfolder(choices, m_ws.settings.vtdFolderPath);
    m_filling = true;
    m_folders->clear();
    for (const FolderChoice &c : choices)
        m_folders->addItem(QString(c.level * 3, QLatin1Char(' ')) + c.path, c.path);
    m_folders->setCurrentIndex(std::max(0, m_folders->findData(current)));
    m_filling = false;
    if (current != m_ws.settings.vtdFolderPath) {
        m_ws.settings.vtdFolderPath = current;
        emit folderChoiceChanged(current);
    }
}

QString SettingsDialog::folderChoice() const { return m_folders->currentData().toString(); }

void SettingsDialog::showEvent(QShowEvent *e)
{
    m_protocol->setValue(m_ws.settings.timeOutProtokol);
    m_read->setValue(m_ws.settings.timeOutRead);
    m_write->setValue(m_ws.settings.timeOutWrite);
    QDialog::showEvent(e);
}

void SettingsDialog::portTypeClicked(int id)
{
    const TimeoutSet t = timeoutsFor(PortType(id));
    m_protocol->setValue(t.protocol);
    m_read->setValue(t.read);
    m_write->setValue(t.write);
}

void SettingsDialog::folderIndexChanged(int index)
{
    if (m_filling || index < 0) return;
    // The choice shown is the choice in effect, applied or not.
    m_folderChanged = true;
    m_ws.settings.vtdFolderPath = folderChoice();
    emit folderChoiceChanged(m_ws.settings.vtdFolderPath);
}

void SettingsDialog::applySettings()
{
    Settings &s = m_ws.settings;
    s.timeOutProtokol = m_protocol->value();
    s.timeOutRead = m_read->value();
    s.timeOutWrite = m_write->value();
    emit timeoutsApplied(s.timeOutProtokol, s.timeOutRead, s.timeOutWrite);
    if (m_portType->checkedId() >= 0) s.usbOrSerial = m_portType->checkedId();
    s.sendReport = m_sendReport->isChecked();
    s.vtdFolderPath = folderChoice();
    if (m_reports->count() > 0) s.reportIndex = m_reports->currentRow(); // an unfilled list keeps the stored choice
    if (!SaveSettings(m_ws, true)) return;
    if (m_folderChanged) {
        m_folderChanged = false;
        if (m_ws.prompter() &&
            m_ws.prompter()->message(DlgType::Confirmation, QStringLiteral("Refresh *.vtd file list?"), {Btn::Yes, Btn::No}) == Btn::Yes)
            emit refreshRequested();
    }
    accept();
}

} // namespace kdr
