#include "ui/MainWindow.h"

#include "app/ProcessStart.h"
#include "store/Records.h"
#include "store/Search.h"
#include "store/SettingsActions.h"
#include "store/Settings.h"
#include "store/Workspace.h"
#include "ui/AboutDialog.h"
#include "ui/ClickLabel.h"
#include "ui/GridDelegate.h"
#include "ui/TableModel.h"
#include "ui/WidgetPrompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStatusBar>
#include <QTableView>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

namespace kdr {

namespace {
const QString kCaption = QStringLiteral("KDR02 simple programator");
constexpr int kClientWidth = 1110, kClientHeight = 562;

// Column widths: at least the title's width, so that no title is cut.
template <size_t N>
void fitColumns(QTableView *view, const int (&widths)[N])
{
    const QFontMetrics fm(view->horizontalHeader()->font());
    for (int c = 0; c < int(N); ++c) {
        const QString title = view->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        view->setColumnWidth(c, std::max(widths[c], fm.horizontalAdvance(title) + 12));
    }
}

// First / prior / next / last over a table's visible records.
QWidget *navigator(Table &t, QWidget *parent)
{
    auto *w = new QWidget(parent);
    auto *lay = new QHBoxLayout(w);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(1);
    struct Step {
        const char *text, *tip;
        int dir;
    };
    for (const Step &s : {Step{"|<", "First", -2}, Step{"<", "Prior", -1}, Step{">", "Next", 1}, Step{">|", "Last", 2}}) {
        auto *b = new QToolButton(w);
        b->setText(QString::fromLatin1(s.text));
        b->setToolTip(QString::fromLatin1(s.tip));
        b->setAutoRaise(true);
        lay->addWidget(b);
        const int dir = s.dir;
        QObject::connect(b, &QToolButton::clicked, w, [&t, dir] {
            const QList<int> vis = t.visibleRecords();
            if (vis.isEmpty()) return;
            int pos = int(vis.indexOf(t.current()));
            if (dir == -2) pos = 0;
            else if (dir == 2) pos = int(vis.size()) - 1;
            else pos = std::clamp(pos + dir, 0, int(vis.size()) - 1);
            t.setCurrent(vis[pos]);
        });
    }
    return w;
}
} // namespace

MainWindow::MainWindow(Workspace &ws, QWidget *parent) : QMainWindow(parent), m_ws(ws), m_prompter(new WidgetPrompter(this))
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kCaption);
    m_readerModel = new TableModel(ws.readers, GridKind::Readers, readerGridColumns(), this);
    m_cardModel = new TableModel(ws.cards, GridKind::Cards, cardGridColumns(), this);
    m_readerProxy = new QSortFilterProxyModel(this);
    m_readerProxy->setSourceModel(m_readerModel);
    m_readerProxy->setSortRole(TableModel::SortRole);
    m_cardProxy = new QSortFilterProxyModel(this);
    m_cardProxy->setSourceModel(m_cardModel);
    m_cardProxy->setSortRole(TableModel::SortRole);
    buildUi();

    connect(&ws.log, &Log::lineAppended, this, [this](const QString &line) { m_memo->appendPlainText(line); });
    for (const QString &line : ws.log.lines()) m_memo->appendPlainText(line);
    connect(&ws, &Workspace::buttonStateChanged, this, &MainWindow::UpdateBtnState);

    // The active-folder label blinks for as long as the program runs.
    m_blink.setInterval(1000);
    connect(&m_blink, &QTimer::timeout, this, [this] { m_lblActiveFolder->setVisible(!m_lblActiveFolder->isVisible()); });
    m_blink.start();
    m_elapsedTick.setInterval(250);
    connect(&m_elapsedTick, &QTimer::timeout, this, [this] { m_timeElapsed->setText(formatElapsed(m_elapsedBase + m_elapsed.elapsed())); });
    m_scrollRefresh.setSingleShot(true);
    m_scrollRefresh.setInterval(100);
    connect(&m_scrollRefresh, &QTimer::timeout, this, &MainWindow::refreshScroll);

    // Start-time state: every command button except "Create file" is disabled.
    for (auto it = m_buttons.begin(); it != m_buttons.end(); ++it) it.value()->setEnabled(it.key() == QLatin1String("btnNewVTD"));
    for (QAction *a : m_menuSaveRead->actions()) a->setEnabled(false);

    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    setMinimumSize(830, 550);
    setMaximumWidth(1136);
    if (QScreen *s = screen()) move(s->availableGeometry().center() - rect().center());
}

MainWindow::~MainWindow() = default;

QPushButton *MainWindow::makeButton(const QString &name, const QString &caption, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    m_buttons.insert(name, b);
    return b;
}

QPushButton *MainWindow::button(const QString &name) const { return m_buttons.value(name); }

void MainWindow::buildUi()
{
    auto *central = new QWidget(this);
    auto *lay = new QHBoxLayout(central);
    lay->setContentsMargins(4, 4, 4, 2);
    lay->setSpacing(4);

    auto *left = new QVBoxLayout;
    left->addWidget(buildReaderGroup(), 1);

    auto *info = new QGroupBox(QStringLiteral("KDR info"), central);
    info->setObjectName(QStringLiteral("GroupBox7"));
    auto *il = new QGridLayout(info);
    il->setContentsMargins(6, 2, 6, 4);
    il->addWidget(new QLabel(QStringLiteral("Last card ID:"), info), 0, 0);
    auto *lastId = new ClickLabel(QStringLiteral("?"), info);
    lastId->setObjectName(QStringLiteral("lblLastCardID"));
    lastId->setToolTip(QStringLiteral("Click to find"));
    m_lblLastCardID = lastId;
    connect(lastId, &ClickLabel::clicked, this, &MainWindow::lastCardIdClicked);
    il->addWidget(lastId, 0, 1);
    il->addWidget(new QLabel(QStringLiteral("KDR Serial:"), info), 0, 2);
    auto *serial = new ClickLabel(QString(), info);
    serial->setObjectName(QStringLiteral("txtKDRSerial"));
    m_txtKDRSerial = serial;
    connect(serial, &ClickLabel::clicked, this, &MainWindow::serialClicked);
    il->addWidget(serial, 0, 3);
    il->addWidget(new QLabel(QStringLiteral("Note:"), info), 1, 0);
    auto *note = new ClickLabel(QString(), info);
    note->setObjectName(QStringLiteral("txtNote"));
    note->setToolTip(QStringLiteral("Click to change"));
    note->setMinimumWidth(120);
    m_txtNote = note;
    connect(note, &ClickLabel::clicked, this, &MainWindow::noteClicked);
    il->addWidget(note, 1, 1, 1, 3);
    il->setColumnStretch(1, 1);
    il->setColumnStretch(3, 1);
    left->addWidget(info);

    lay->addLayout(left, 46);
    lay->addWidget(buildCardGroup(), 40);
    lay->addWidget(buildRightColumn(), 0);
    setCentralWidget(central);

    buildMenus();
    buildStatusBar();

    // Reader info follows the card table's reader values record and the selected row.
    auto showInfo = [this] {
        const int row = m_ws.readers.current();
        m_txtKDRSerial->setText(row >= 0 ? m_ws.readers.storedValue(row, ReaderField::KDRSerial).toText() : QString());
        m_txtNote->setText(row >= 0 ? m_ws.readers.storedValue(row, ReaderField::Note).toText() : QString());
    };
    connect(&m_ws.readers, &Table::currentChanged, this, showInfo);
    connect(&m_ws.readers, &Table::recordChanged, this, showInfo);
    connect(&m_ws.readers, &Table::reset, this, showInfo);
    connect(&m_ws.cards, &Table::currentChanged, this, &MainWindow::updateCardButtons);
    connect(&m_ws.cards, &Table::recordChanged, this, [this](int rec) {
        if (rec == m_ws.cards.current()) updateCardButtons();
    });
}

QWidget *MainWindow::buildReaderGroup()
{
    auto *g = new QGroupBox(QStringLiteral("KDR data table"));
    g->setObjectName(QStringLiteral("GroupBox3"));
    auto *v = new QVBoxLayout(g);
    v->setContentsMargins(6, 4, 6, 4);
    v->setSpacing(3);

    auto *search = new QHBoxLayout;
    m_searchBox1 = new QLineEdit(g);
    m_searchBox1->setObjectName(QStringLiteral("SearchBox1"));
    m_searchBox1->setPlaceholderText(QStringLiteral("Search"));
    m_searchBox1->setClearButtonEnabled(true);
    m_searchBox1->setMinimumWidth(80);
    search->addWidget(m_searchBox1, 1);
    search->addWidget(new QLabel(QStringLiteral("by field:"), g));
    m_cbSearchField1 = new QComboBox(g);
    m_cbSearchField1->setObjectName(QStringLiteral("cbSearchField1"));
    m_cbSearchField1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cbSearchField1->setMinimumContentsLength(10);
    for (const SearchField &f : readerSearchFields()) m_cbSearchField1->addItem(f.item);
    m_cbSearchField1->setMaxVisibleItems(10);
    search->addWidget(m_cbSearchField1);
    v->addLayout(search);

    m_readerGrid = new QTableView(g);
    m_readerGrid->setObjectName(QStringLiteral("CRDBGrid2"));
    m_readerGrid->setModel(m_readerProxy);
    m_readerGrid->setItemDelegate(new GridDelegate(m_readerGrid));
    m_readerGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_readerGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_readerGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_readerGrid->setSortingEnabled(true);
    m_readerGrid->sortByColumn(-1, Qt::AscendingOrder);
    m_readerGrid->verticalHeader()->setDefaultSectionSize(20);
    m_readerGrid->verticalHeader()->setVisible(false);
    m_readerGrid->horizontalHeader()->setStretchLastSection(true);
    m_readerGrid->horizontalHeader()->setMinimumSectionSize(24);
    const int readerWidths[] = {84, 62, 48, 66, 44, 50, 110};
    fitColumns(m_readerGrid, readerWidths);
    v->addWidget(m_readerGrid, 1);
    followCurrent(m_readerGrid, m_readerProxy, m_readerModel);

    auto *folder = new QHBoxLayout;
    folder->addWidget(new QLabel(QStringLiteral("Active folder: "), g));
    m_lblActiveFolder = new QLabel(g);
    m_lblActiveFolder->setObjectName(QStringLiteral("lblActiveFolder"));
    m_lblActiveFolder->setStyleSheet(QStringLiteral("color: rgb(0,0,128); font-weight: bold;"));
    folder->addWidget(m_lblActiveFolder);
    folder->addStretch(1);
    v->addLayout(folder);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(makeButton(QStringLiteral("btnNewVTD"), QStringLiteral("Create file"), g));
    buttons->addWidget(makeButton(QStringLiteral("btnRenameVTD"), QStringLiteral("Rename file"), g));
    buttons->addWidget(makeButton(QStringLiteral("btnRemoveVTD"), QStringLiteral("Remove file"), g));
    buttons->addStretch(1);
    buttons->addWidget(navigator(m_ws.readers, g));
    v->addLayout(buttons);
    return g;
}

QWidget *MainWindow::buildCardGroup()
{
    auto *g = new QGroupBox(QStringLiteral("KDR card table"));
    g->setObjectName(QStringLiteral("GroupBox8"));
    auto *v = new QVBoxLayout(g);
    v->setContentsMargins(6, 4, 6, 4);
    v->setSpacing(3);

    auto *search = new QHBoxLayout;
    m_searchBox2 = new QLineEdit(g);
    m_searchBox2->setObjectName(QStringLiteral("SearchBox2"));
    m_searchBox2->setPlaceholderText(QStringLiteral("Search"));
    m_searchBox2->setClearButtonEnabled(true);
    m_searchBox2->setMinimumWidth(80);
    search->addWidget(m_searchBox2, 1);
    search->addWidget(new QLabel(QStringLiteral("by field:"), g));
    m_cbSearchField2 = new QComboBox(g);
    m_cbSearchField2->setObjectName(QStringLiteral("cbSearchField2"));
    m_cbSearchField2->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cbSearchField2->setMinimumContentsLength(10);
    for (const SearchField &f : cardSearchFields()) m_cbSearchField2->addItem(f.item);
    search->addWidget(m_cbSearchField2);
    m_cbCompare = new QCheckBox(QStringLiteral("Compare cards"), g);
    m_cbCompare->setObjectName(QStringLiteral("cbCompare"));
    m_cbCompare->setToolTip(QStringLiteral("is read = saved"));
    search->addWidget(m_cbCompare);
    v->addLayout(search);

    m_cardGrid = new QTableView(g);
    m_cardGrid->setObjectName(QStringLiteral("CRDBGrid1"));
    m_cardGrid->setModel(m_cardProxy);
    m_cardGrid->setItemDelegate(new GridDelegate(m_cardGrid));
    m_cardGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_cardGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_cardGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_cardGrid->setSortingEnabled(true);
    m_cardGrid->sortByColumn(-1, Qt::AscendingOrder);
    m_cardGrid->setContextMenuPolicy(Qt::NoContextMenu); // the grid offers no menu of its own
    m_cardGrid->verticalHeader()->setDefaultSectionSize(20);
    m_cardGrid->verticalHeader()->setVisible(false);
    m_cardGrid->horizontalHeader()->setStretchLastSection(true);
    m_cardGrid->horizontalHeader()->setMinimumSectionSize(20);
    m_cardGrid->setToolTip(QStringLiteral("- Double click for change card\r\n- Use (CTRL + mouse click) or (SHIFT + arrow keys) to select multiple cards"));
    const int cardWidths[] = {38, 64, 64, 90, 22, 150};
    fitColumns(m_cardGrid, cardWidths);
    v->addWidget(m_cardGrid, 1);
    followCurrent(m_cardGrid, m_cardProxy, m_cardModel);

    auto *nav = new QHBoxLayout;
    nav->addStretch(1);
    nav->addWidget(navigator(m_ws.cards, g));
    v->addLayout(nav);

    auto *grid = new QGridLayout;
    grid->setSpacing(3);
    grid->addWidget(makeButton(QStringLiteral("btnSaveAs"), QStringLiteral("Export As..."), g), 0, 0);
    grid->addWidget(makeButton(QStringLiteral("btnImportAs"), QStringLiteral("Import As..."), g), 0, 1);
    grid->addWidget(makeButton(QStringLiteral("btnSmplAppend"), QStringLiteral("Add data..."), g), 0, 2);
    grid->addWidget(makeButton(QStringLiteral("btnRestoreCards"), QStringLiteral("Restore..."), g), 1, 0);
    grid->addWidget(makeButton(QStringLiteral("btnAutoFillPerson"), QStringLiteral("Auto-fill person"), g), 1, 1);
    grid->addWidget(makeButton(QStringLiteral("btnPrint"), QStringLiteral("Print"), g), 1, 2);
    v->addLayout(grid);
    return g;
}

QWidget *MainWindow::buildRightColumn()
{
    auto *col = new QWidget;
    col->setFixedWidth(250);
    auto *v = new QVBoxLayout(col);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);

    auto *port = new QGroupBox(QStringLiteral("Select COM Port"), col);
    port->setObjectName(QStringLiteral("GroupBox1"));
    auto *pl = new QGridLayout(port);
    pl->setContentsMargins(6, 4, 6, 4);
    auto *cbPort = new PortComboBox(port);
    connect(cbPort, &PortComboBox::aboutToShowPopup, this, &MainWindow::portListAboutToShow);
    m_cbPort = cbPort;
    m_cbPort->setObjectName(QStringLiteral("cbPort"));
    m_cbPort->setMinimumWidth(100);
    pl->addWidget(m_cbPort, 0, 0);
    pl->addWidget(makeButton(QStringLiteral("btnScanPort"), QStringLiteral("Scan Port"), port), 0, 1);
    pl->addWidget(makeButton(QStringLiteral("btnFindKDR"), QStringLiteral("Check KDR status"), port), 1, 0, 1, 2);
    v->addWidget(port);

    // A command button with its "+" menu button beside it.
    auto withMenu = [this](QGridLayout *l, int row, QPushButton *main, const QString &plusName, QMenu **menu, QWidget *parent) {
        l->addWidget(main, row, 0);
        QPushButton *plus = makeButton(plusName, QStringLiteral("+"), parent);
        plus->setFixedWidth(24);
        *menu = new QMenu(plus);
        connect(plus, &QPushButton::clicked, this, [plus, m = *menu] {
            if (!m->isEmpty()) m->popup(plus->mapToGlobal(QPoint(0, plus->height())));
        });
        l->addWidget(plus, row, 1);
    };

    auto *cards = new QGroupBox(QStringLiteral("Operations with cards"), col);
    cards->setObjectName(QStringLiteral("GroupBox2"));
    auto *cl = new QGridLayout(cards);
    cl->setContentsMargins(6, 4, 6, 4);
    cl->setSpacing(3);
    withMenu(cl, 0, makeButton(QStringLiteral("btnReadKDR"), QStringLiteral("Read All Cards"), cards), QStringLiteral("btnSaveReadCards"), &m_menuSaveRead, cards);
    m_menuSaveRead->addAction(QStringLiteral("Save read cards"))->setObjectName(QStringLiteral("SaveReadCards1"));
    m_menuSaveRead->addAction(QStringLiteral("Save read cards and functions"))->setObjectName(QStringLiteral("SaveReadCardsAndFunctions1"));
    cl->addWidget(makeButton(QStringLiteral("btnReadKDRFunc"), QStringLiteral("Read All functions"), cards), 1, 0);
    withMenu(cl, 2, makeButton(QStringLiteral("btnUpdateCards"), QStringLiteral("Update cards"), cards), QStringLiteral("btnWriteAllCards"), &m_menuWriteAll, cards);
    cl->addWidget(makeButton(QStringLiteral("btnChangeCard"), QStringLiteral("Change(Add) card"), cards), 3, 0);
    withMenu(cl, 4, makeButton(QStringLiteral("btnDelCard"), QStringLiteral("Delete card(s)"), cards), QStringLiteral("btnToSelForDel"), &m_menuSelForDel, cards);
    cl->addWidget(makeButton(QStringLiteral("btnChangeFunction"), QStringLiteral("Set function(s)"), cards), 5, 0);
    v->addWidget(cards);

    auto *params = new QGroupBox(QStringLiteral("Operations with parameters"), col);
    params->setObjectName(QStringLiteral("GroupBox4"));
    auto *prl = new QHBoxLayout(params);
    prl->setContentsMargins(6, 4, 6, 4);
    prl->addWidget(makeButton(QStringLiteral("btnGetParams"), QStringLiteral("Get parameters"), params));
    prl->addWidget(makeButton(QStringLiteral("btnChangeParams"), QStringLiteral("Set parameters"), params));
    v->addWidget(params);

    m_memo = new QPlainTextEdit(col);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setReadOnly(true);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPointSize(8);
    m_memo->setFont(mono);
    v->addWidget(m_memo, 1);
    return col;
}

void MainWindow::buildMenus()
{
    QMenu *fn = menuBar()->addMenu(QStringLiteral("Functions"));
    m_actSettings = fn->addAction(QStringLiteral("Settings"));
    m_actSettings->setObjectName(QStringLiteral("Settings1"));
    m_actNewVersion = fn->addAction(QStringLiteral("New version"));
    m_actNewVersion->setObjectName(QStringLiteral("NewVersion1"));
    m_actAutoScroll = fn->addAction(QStringLiteral("Auto-scroll refresh"));
    m_actAutoScroll->setObjectName(QStringLiteral("AutoScrollRefresh1"));
    m_actAutoScroll->setCheckable(true);
    m_actAutoScroll->setChecked(m_ws.settings.refreshScroll);
    m_actRefresh = fn->addAction(QStringLiteral("Refresh .vtd list"));
    m_actRefresh->setObjectName(QStringLiteral("Refresh1"));
    fn->addSeparator();
    m_actExit = fn->addAction(QStringLiteral("Exit"));
    m_actExit->setObjectName(QStringLiteral("Exit1"));
    QMenu *about = menuBar()->addMenu(QStringLiteral("About"));
    QAction *aboutAct = about->addAction(QStringLiteral("About"));
    aboutAct->setObjectName(QStringLiteral("Abaout1"));

    connect(m_actSettings, &QAction::triggered, this, &MainWindow::settingsRequested);
    connect(m_actNewVersion, &QAction::triggered, this, &MainWindow::newVersionRequested);
    connect(m_actAutoScroll, &QAction::toggled, this, [this](bool on) { m_ws.settings.refreshScroll = on; });
    connect(m_actRefresh, &QAction::triggered, this, &MainWindow::refreshRequested);
    connect(m_actExit, &QAction::triggered, this, &QWidget::close);
    connect(aboutAct, &QAction::triggered, this, &MainWindow::showAbout);
    connect(button(QStringLiteral("btnScanPort")), &QPushButton::clicked, this, &MainWindow::scanPortRequested);
}

void MainWindow::buildStatusBar()
{
    QStatusBar *sb = statusBar();
    sb->setObjectName(QStringLiteral("SB"));
    sb->setSizeGripEnabled(false);
    m_panel0 = new QLabel(QStringLiteral("Completed:"), sb);
    m_panel0->setFixedWidth(75);
    m_pb = new QProgressBar(sb);
    m_pb->setObjectName(QStringLiteral("PB"));
    m_pb->setRange(0, 100);
    m_pb->setValue(0);
    m_pb->setTextVisible(true);
    m_timeElapsed = new QLabel(formatElapsed(0), sb);
    m_timeElapsed->setObjectName(QStringLiteral("TimeElapsed"));
    m_timeElapsed->setFixedWidth(70);
    m_timeElapsed->setAlignment(Qt::AlignCenter);
    sb->addPermanentWidget(m_panel0);
    sb->addPermanentWidget(m_pb, 1);
    sb->addPermanentWidget(m_timeElapsed);
}

void MainWindow::followCurrent(QTableView *view, QSortFilterProxyModel *proxy, TableModel *model)
{
    Table &t = model->table();
    // The view's current row drives the table's cursor, and the other way round.
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [&t, proxy, model](const QModelIndex &cur) {
        if (!cur.isValid()) return;
        const int rec = model->recordAt(proxy->mapToSource(cur).row());
        if (rec >= 0 && rec != t.current()) t.setCurrent(rec);
    });
    auto showCurrent = [view, proxy, model, &t] {
        const int row = model->rowOf(t.current());
        if (row < 0) return;
        const QModelIndex idx = proxy->mapFromSource(model->index(row, 0));
        if (view->selectionModel()->currentIndex().row() != idx.row() || !view->selectionModel()->isRowSelected(idx.row(), {})) {
            view->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
        view->scrollTo(idx);
    };
    connect(&t, &Table::currentChanged, view, showCurrent);
    connect(model, &QAbstractItemModel::modelReset, view, showCurrent, Qt::QueuedConnection);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, view, model] { syncSelection(view, model); });
}

void MainWindow::syncSelection(QTableView *view, TableModel *model)
{
    auto *proxy = static_cast<QSortFilterProxyModel *>(view->model());
    QSet<int> recs;
    for (const QModelIndex &i : view->selectionModel()->selectedRows()) recs.insert(model->recordAt(proxy->mapToSource(i).row()));
    model->setSelectedRecords(recs);
}

void MainWindow::requestScrollRefresh()
{
    if (m_actAutoScroll->isChecked()) m_scrollRefresh.start();
}

void MainWindow::setGridsDetached(bool detached)
{
    m_readerModel->setDetached(detached);
    m_cardModel->setDetached(detached);
}

void MainWindow::refreshScroll()
{
    // Nudging the width makes the grid lay out its scroll bar for the newly loaded table.
    m_cardGrid->resize(m_cardGrid->width() + 1, m_cardGrid->height());
    m_cardGrid->resize(m_cardGrid->width() - 1, m_cardGrid->height());
}

void MainWindow::UpdateBtnState()
{
    CommandInputs in;
    in.online = m_ws.selectedReaderOnline();
    in.bus9600 = m_bus9600;
    in.cardRecords = m_ws.cards.recordCount();
    in.backupsInInactiveFolder = in.cardRecords > 0 && m_ws.hasRestorableBackups();
    const auto states = commandStates(in);
    for (auto it = states.begin(); it != states.end(); ++it)
        if (QPushButton *b = button(it.key())) b->setEnabled(it.value());
    updateCardButtons();
}

void MainWindow::SetMainFileBtn(bool isEnabled)
{
    button(QStringLiteral("btnRenameVTD"))->setEnabled(isEnabled);
    button(QStringLiteral("btnRemoveVTD"))->setEnabled(isEnabled);
    m_txtNote->setEnabled(isEnabled);
}

void MainWindow::updateCardButtons()
{
    // Not while a search box steers the cursor.
    if (m_searchBox1->hasFocus() || m_searchBox2->hasFocus()) return;
    const int rec = m_ws.cards.current();
    const bool has = rec >= 0 && !m_ws.cards.storedValue(rec, CardField::CardNoSaved).isNull();
    button(QStringLiteral("btnDelCard"))->setEnabled(cardButtonsEnabled(has));
    button(QStringLiteral("btnChangeFunction"))->setEnabled(cardButtonsEnabled(has));
}

void MainWindow::setBus9600(bool on)
{
    m_bus9600 = on;
    UpdateBtnState();
}

void MainWindow::initLabel()
{
    QString text;
    if (m_ws.loadingFiles)
        text = QStringLiteral("LOADING");
    else if (m_ws.downloadingFiles)
        text = QStringLiteral("DOWNLOADING");
    else
        text = folderChoiceLabel(m_ws.activeSubfolder());
    m_lblActiveFolder->setText(text);
}

QString MainWindow::formatElapsed(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

void MainWindow::startElapsed(bool reset)
{
    // Without a reset the counter goes on from where it stopped (a command in several stages).
    if (reset || !m_elapsed.isValid()) {
        m_elapsedBase = 0;
    } else {
        m_elapsedBase += m_elapsedTick.isActive() ? m_elapsed.elapsed() : m_stoppedAt;
    }
    m_elapsed.start();
    m_timeElapsed->setText(formatElapsed(m_elapsedBase));
    m_elapsedTick.start();
}

void MainWindow::stopElapsed()
{
    if (!m_elapsedTick.isActive()) return;
    m_stoppedAt = m_elapsed.elapsed();
    m_timeElapsed->setText(formatElapsed(m_elapsedBase + m_stoppedAt));
    m_elapsedTick.stop();
}

void MainWindow::firstLoadFinished()
{
    if (!m_ws.startupChainPending) return;
    emit newVersionRequested();
}

void MainWindow::updateCheckFinished(bool newVersionStarted)
{
    if (!m_ws.startupChainPending) return;
    m_ws.startupChainPending = false;
    if (newVersionStarted) {
        close();
        return;
    }
    // "Scan Port" becomes available and scans the selected port unless it is "offline".
    emit startupScanRequested();
}

void MainWindow::showAbout()
{
    if (!m_about) m_about = new AboutDialog(this);
    m_about->exec();
}

void MainWindow::showEvent(QShowEvent *e)
{
    QMainWindow::showEvent(e);
    if (m_shown) return;
    m_shown = true;
    if (QScreen *s = screen(); s && s->geometry().width() <= 1024) {
        // Maximized: top-left corner, the work area's height; also without a window manager.
        setWindowState(windowState() | Qt::WindowMaximized);
        setGeometry(s->availableGeometry());
    }
    initLabel();
    // The load and the port list run once the window is up.
    QTimer::singleShot(0, this, [this] {
        emit refreshRequested();
        const QString line = portTypeLogLine(m_ws.settings.timeOutProtokol);
        if (!line.isEmpty()) m_ws.log.append(line);
        emit showPortsRequested();
    });
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    const CloseDecision d = decideClose(m_ws.loadingFiles, m_loaderThreadId, m_ws.downloadingFiles, m_downloadThreadId);
    if (!d.allowed) {
        m_ws.log.append(d.logLine);
        e->ignore();
        return;
    }
    SaveSettingsIfMissing(m_ws);
    e->accept();
}

void MainWindow::resizeEvent(QResizeEvent *e)
{
    QMainWindow::resizeEvent(e);
    layoutStatusPanels();
}

void MainWindow::layoutStatusPanels()
{
    if (!m_pb) return;
    m_pb->setFixedWidth(std::max(50, progressPanelWidth(width(), m_panel0->width(), m_timeElapsed->width()) - 12));
}

} // namespace kdr
