#pragma once
// A workspace in a temporary program folder, an engine whose two ports are wired to one simulated
// bus, and a scripted prompter.
#include "bus/BusEngine.h"
#include "kdrsim/SimBus.h"
#include "kdrsim/SimSerialLink.h"
#include "store/Records.h"
#include "store/ScriptedPrompter.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace kdrtest {

using namespace kdr;

struct BusRig {
    QTemporaryDir dir;
    Workspace ws;
    ScriptedPrompter prompter;
    sim::Bus bus;
    QStringList openablePorts; // empty: every name opens
    std::unique_ptr<BusEngine> engine;

    explicit BusRig(sim::Model model, const QStringList &systemPorts = {QStringLiteral("ttyS0")})
        : ws(dir.path() + QStringLiteral("/KDR02.x64")), bus(model) // program folder = the temp dir
    {
        ws.setPrompter(&prompter);
        ws.settings.timeOutProtokol = 20;
        ws.settings.timeOutRead = 20;
        ws.settings.timeOutWrite = 20;
        ws.settings.lastPort = QStringLiteral("ttyS0");
        bus.setLatency(0);
        engine = std::make_unique<BusEngine>(ws, [this](QObject *parent) {
            auto *l = new sim::SimSerialLink(&bus, parent);
            l->setPortNames(openablePorts);
            return l;
        });
        engine->setPortLister([systemPorts] { return systemPorts; });
    }
    ~BusRig() { engine.reset(); }

    // A reader with a data file in the active folder, listed OFFLINE and selected.
    int addReaderFile(qint32 serial, int slotCount = kSlots2000)
    {
        const QString name = QString::number(serial) + QStringLiteral(".vtd");
        ws.cards.resetToSlots(slotCount);
        ws.cards.setValue(0, CardField::KDRSerial, Value(serial));
        ws.setReaderBaseName(QString::number(serial));
        ws.saveCards();
        const int row = ws.readers.appendFromCardTable(name, ws.cards);
        ws.readers.setCurrent(row);
        return row;
    }

    QString status(int row) const { return ws.readers.storedValue(row, ReaderField::Status).toText(); }
    int logCount(const QString &line) const { return int(ws.log.lines().count(line)); }
    QStringList telegrams() const { return bus.receivedTelegrams(); }
    QList<QByteArray> rawTelegrams() const
    {
        QList<QByteArray> out;
        for (const sim::TraceEntry &e : bus.trace())
            if (e.dir == sim::TraceEntry::In) out << e.data;
        return out;
    }

    // Fills the port list and scans ttyS0 to its end.
    bool scan()
    {
        engine->cbPortDropDown();
        engine->btnScanPortClick();
        return QTest::qWaitFor([this] { return engine->scanPortEnabled() && !engine->scanning(); }, 8000);
    }

    // Scan, then "Check KDR status"; waits until the search answers have had time to arrive.
    bool scanAndSearch()
    {
        if (!scan() || !engine->findKdrEnabled()) return false;
        bus.clearTrace();
        engine->btnFindKDRClick();
        return QTest::qWaitFor([this] { return engine->op.OperationState == 1 && !engine->op.AwaitAck; }, 3000);
    }

    // The lines appear in the log in this order (other lines may stand between them).
    bool logHasInOrder(const QStringList &expected) const
    {
        const QStringList &lines = ws.log.lines();
        int at = 0;
        for (const QString &l : lines)
            if (at < expected.size() && l == expected.at(at)) ++at;
        return at == expected.size();
    }
};

// An HLX:BUS answer line as the interface frames it: SOH, a lead character, the text, EOT.
inline QByteArray hlxLine(const QByteArray &text) { return QByteArray("\x01.") + text + QByteArray("\x04"); }
inline QByteArray mbusRaw(const QByteArray &text) { return QByteArray("\x01") + text + QByteArray("\x04"); }

} // namespace kdrtest
