#include "app/AppController.h"

#include "bus/BusEngine.h"
#include "bus/QtSerialLink.h"
#include "store/ReaderStore.h"
#include "store/Search.h"
#include "ui/FileDialogs.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/TableModel.h"
#include "ui/WidgetPrompter.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace kdr {

namespace {
QPushButton *commandButton(MainWindow &w, BusCommand c)
{
    switch (c) {
    case BusCommand::GetParams: return w.button(QStringLiteral("btnGetParams"));
    case BusCommand::ReadKDR: return w.button(QStringLiteral("btnReadKDR"));
    case BusCommand::ReadKDRFunc: return w.button(QStringLiteral("btnReadKDRFunc"));
    case BusCommand::ChangeCard: return w.button(QStringLiteral("btnChangeCard"));
    case BusCommand::UpdateCards: return w.button(QStringLiteral("btnUpdateCards"));
    case BusCommand::DelCard: return w.button(QStringLiteral("btnDelCard"));
    case BusCommand::SendParams: return w.button(QStringLiteral("btnChangeParams"));
    case BusCommand::None: break;
    }
    return nullptr;
}
} // namespace

AppController::AppController(const QString &programPath, QObject *parent) : QObject(parent), m_ws(programPath)
{
    // Settings first: the window's timers and menu check marks come from them.
    m_ws.settings.load(m_ws.settingsPath());
    m_window = std::make_unique<MainWindow>(m_ws);
    m_ws.setPrompter(m_window->prompter());
    m_store = std::make_unique<ReaderStore>(m_ws);
    m_bus = std::make_unique<BusEngine>(m_ws, [](QObject *parent) -> SerialLink * { return new QtSerialLink(parent); });
    m_settings = new SettingsDialog(m_ws, m_window.get());
    wireReaderStore();
    wireSearch();
    wireBus();
    wireStartup();
}

AppController::~AppController()
{
    m_ws.setPrompter(nullptr);
    m_bus.reset();
    m_store.reset();
}

void AppController::wireStartup()
{
    MainWindow *w = m_window.get();
    ReaderStore *store = m_store.get();
    // The first load pass on show; later ones from "Refresh .vtd list" and the settings.
    bool first = true;
    connect(w, &MainWindow::refreshRequested, this, [this, store, first]() mutable {
        if (first) {
            first = false;
            store->initActiveFolder();
            m_settings->rebuildFolderList();
            store->FillAndSelectKDRTable();
        } else {
            store->refresh();
        }
    });
    connect(store, &ReaderStore::loadFinished, w, &MainWindow::firstLoadFinished);
    // The update check is not built yet: it ends at once, and the chain goes on to the port scan.
    connect(w, &MainWindow::newVersionRequested, this, [w] { w->updateCheckFinished(false); });
    connect(w, &MainWindow::scanPortRequested, m_bus.get(), &BusEngine::btnScanPortClick);
    connect(w, &MainWindow::startupScanRequested, m_bus.get(), &BusEngine::startupScan);
    connect(w, &MainWindow::showPortsRequested, m_bus.get(), &BusEngine::cbPortDropDown);
    connect(w, &MainWindow::settingsRequested, this, [this] { m_settings->exec(); });
}

void AppController::wireReaderStore()
{
    MainWindow *w = m_window.get();
    ReaderStore *store = m_store.get();
    connect(store, &ReaderStore::loadStarted, w, [w, store] {
        w->setLoaderThreadId(store->loaderThreadId());
        w->setGridsDetached(true);
        w->startElapsed();
    });
    connect(store, &ReaderStore::loadFinished, w, [w] {
        w->setGridsDetached(false);
        w->stopElapsed();
        w->UpdateBtnState();
    });
    connect(store, &ReaderStore::activeFolderLabelChanged, w->activeFolderLabel(), &QLabel::setText);
    connect(store, &ReaderStore::progressMaximum, w->progressBar(), [w](int max) { w->progressBar()->setRange(0, std::max(1, max)); });
    connect(store, &ReaderStore::progressValue, w->progressBar(), &QProgressBar::setValue);
    connect(store, &ReaderStore::mainFileButtonsEnabled, w, &MainWindow::SetMainFileBtn);
    connect(store, &ReaderStore::paramsHighlighted, w, [w](bool on) {
        QPushButton *b = w->button(QStringLiteral("btnChangeParams"));
        QPalette pal = b->palette();
        pal.setColor(QPalette::ButtonText, on ? QColor(0, 0, 128) : w->palette().color(QPalette::ButtonText));
        b->setPalette(pal);
    });
    connect(store, &ReaderStore::lastCardIdChanged, w->lastCardIdLabel(), &QLabel::setText);
    connect(store, &ReaderStore::scrollRefreshRequested, w, &MainWindow::requestScrollRefresh);
    connect(store, &ReaderStore::compareCardsChanged, w->cardModel(), &TableModel::setCompareCards);
    connect(w->compareBox(), &QCheckBox::toggled, store, &ReaderStore::setCompareCards);

    connect(w->button(QStringLiteral("btnNewVTD")), &QPushButton::clicked, store, &ReaderStore::createFile);
    connect(w->button(QStringLiteral("btnRenameVTD")), &QPushButton::clicked, store, [w, store] {
        if (auto r = NewFileNameDialog::ask(w)) store->renameFile(r->name, r->changeSerialAlso);
    });
    connect(w->button(QStringLiteral("btnRemoveVTD")), &QPushButton::clicked, store, &ReaderStore::removeFile);
    connect(w, &MainWindow::serialClicked, store, [w, store] {
        if (!store->canEditReader()) return;
        if (auto s = SerialNumberDialog::ask(w)) store->changeSerial(*s);
    });
    connect(w, &MainWindow::noteClicked, store, [w, store] {
        if (!store->canEditReader()) return;
        if (auto n = NoteDialog::ask(store->noteForEditing(), w)) store->changeNote(*n);
    });
    connect(w, &MainWindow::lastCardIdClicked, store, &ReaderStore::jumpToLastCard);

    connect(m_settings, &SettingsDialog::folderChoiceChanged, store, &ReaderStore::folderChoiceChanged);
    connect(m_settings, &SettingsDialog::refreshRequested, store, &ReaderStore::refresh);
    connect(m_settings, &SettingsDialog::sendReportChanged, this, &AppController::sendReportChanged);
}

void AppController::wireSearch()
{
    MainWindow *w = m_window.get();
    ReaderStore *store = m_store.get();
    struct Box {
        QLineEdit *edit;
        QComboBox *field;
        const QList<SearchField> &fields;
        bool readers;
    };
    for (const Box &b : {Box{w->readerSearchBox(), w->readerSearchField(), readerSearchFields(), true},
                         Box{w->cardSearchBox(), w->cardSearchField(), cardSearchFields(), false}}) {
        QLineEdit *edit = b.edit;
        QComboBox *field = b.field;
        const QList<SearchField> *fields = &b.fields;
        const bool readers = b.readers;
        auto applyField = [edit, fields](int i) {
            if (i < 0 || i >= fields->size()) return;
            const SearchField &f = fields->at(i);
            edit->setValidator(f.digitsOnly ? new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit) : nullptr);
            edit->setToolTip(f.hint);
        };
        applyField(field->currentIndex());
        connect(field, &QComboBox::currentIndexChanged, edit, applyField);
        connect(edit, &QLineEdit::textEdited, edit, [edit](const QString &t) {
            const QString s = searchBoxText(t);
            if (s != t) edit->setText(s);
        });
        connect(edit, &QLineEdit::returnPressed, store, [edit, field, store, readers] {
            if (readers)
                store->searchReaders(field->currentIndex(), edit->text());
            else
                store->searchCards(field->currentIndex(), edit->text());
        });
    }
}

void AppController::wireBus()
{
    MainWindow *w = m_window.get();
    BusEngine *bus = m_bus.get();
    QComboBox *cb = w->portSelector();
    connect(bus, &BusEngine::portListChanged, cb, [cb](const QStringList &entries, const QString &selected) {
        const QSignalBlocker block(cb);
        cb->clear();
        cb->addItems(entries);
        cb->setCurrentText(selected);
    });
    connect(cb, &QComboBox::textActivated, bus, &BusEngine::cbPortSelect);
    connect(w, &MainWindow::portListAboutToShow, bus, &BusEngine::cbPortDropDown);
    connect(bus, &BusEngine::scanPortEnabledChanged, w->button(QStringLiteral("btnScanPort")), &QPushButton::setEnabled);
    connect(bus, &BusEngine::findKdrEnabledChanged, w->button(QStringLiteral("btnFindKDR")), &QPushButton::setEnabled);
    connect(w->button(QStringLiteral("btnFindKDR")), &QPushButton::clicked, bus, &BusEngine::btnFindKDRClick);
    connect(bus, &BusEngine::commandCaptionChanged, w, [w](BusCommand c, const QString &caption) {
        if (QPushButton *b = commandButton(*w, c)) b->setText(caption);
    });
    connect(bus, &BusEngine::commandEnabledChanged, w, [w](BusCommand c, bool on) {
        if (QPushButton *b = commandButton(*w, c)) b->setEnabled(on);
    });
    connect(bus, &BusEngine::saveReadCardsEnabledChanged, w, [w](bool on) {
        for (QAction *a : w->saveReadCardsMenu()->actions()) a->setEnabled(on);
    });
    connect(bus, &BusEngine::progressMaximumChanged, w->progressBar(), [w](int max) { w->progressBar()->setRange(0, std::max(1, max)); });
    connect(bus, &BusEngine::progressValueChanged, w->progressBar(), &QProgressBar::setValue);
    connect(bus, &BusEngine::elapsedStarted, w, &MainWindow::startElapsed);
    connect(bus, &BusEngine::elapsedStopped, w, &MainWindow::stopElapsed);
    connect(&m_ws, &Workspace::buttonStateChanged, w, [w, bus] { w->setBus9600(bus->busAt9600()); });
}

} // namespace kdr
