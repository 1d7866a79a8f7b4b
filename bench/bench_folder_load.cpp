// Loading an active folder of 1000 reader data files of 4000 slots each into the reader list.
// Target: the complete list in at most 0.3 s, and at least 10 times faster than parsing every
// record of every file.
#include "store/ReaderRows.h"
#include "store/ReaderStore.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <benchmark/benchmark.h>

using namespace kdr;

namespace {

constexpr int kFiles = 1000;
const QString kFolder = QStringLiteral("/tmp/kdr_bench_folder_1000x4000");

// Made once and reused by later runs; a marker says the folder is complete.
bool ensureFolder()
{
    QDir dir(kFolder);
    const QString marker = kFolder + QStringLiteral("/complete.txt");
    if (QFile::exists(marker) && dir.entryList({QStringLiteral("*.vtd")}, QDir::Files).size() == kFiles) return true;
    dir.removeRecursively();
    if (!QDir().mkpath(kFolder)) return false;
    CardTable t;
    t.resetToSlots(kSlots4000);
    for (int r = 0; r < t.recordCount(); ++r) {
        if (r % 3 == 2) continue; // some empty slots
        t.setValue(r, CardField::CardNoSaved, Value(qint32(100000 + r)));
        t.setValue(r, CardField::CardHolder, Value(QStringLiteral("Person %1").arg(r)));
        t.setValue(r, CardField::FuncKDR, Value(QStringLiteral("40")));
    }
    t.setValue(0, CardField::RelayT, Value(qint32(6)));
    t.setValue(0, CardField::Note, Value(QStringLiteral("benchmark reader")));
    t.setValue(0, CardField::Version, Value(qint32(0x20C)));
    for (int i = 0; i < kFiles; ++i) {
        t.setValue(0, CardField::KDRSerial, Value(qint32(100000 + i)));
        QFile f(QStringLiteral("%1/%2.vtd").arg(kFolder).arg(100000 + i));
        if (!f.open(QIODevice::WriteOnly) || f.write(writeVtd(t)) < 0) return false;
    }
    QFile m(marker);
    return m.open(QIODevice::WriteOnly) && m.write("1000 files of 4000 slots\n") > 0;
}

// The load pass as the window runs it: worker thread, rows handed to the UI thread, first reader
// selected, until the pass reports its end.
void BM_LoadPass(benchmark::State &state)
{
    if (!ensureFolder()) {
        state.SkipWithError("cannot create the benchmark folder");
        return;
    }
    Workspace ws(kFolder + QStringLiteral("/KDR02.x64"));
    ReaderStore store(ws);
    for (auto _ : state) {
        QEventLoop loop;
        QObject::connect(&store, &ReaderStore::loadFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        store.FillAndSelectKDRTable();
        loop.exec();
        if (ws.readers.recordCount() != kFiles || ws.cards.recordCount() != kSlots4000) {
            state.SkipWithError("the reader list is incomplete");
            return;
        }
    }
    state.counters["files"] = kFiles;
}

// The same rows built by parsing every record of every file, on one thread.
void BM_ParseEveryRecord(benchmark::State &state)
{
    if (!ensureFolder()) {
        state.SkipWithError("cannot create the benchmark folder");
        return;
    }
    for (auto _ : state) {
        ReaderList list;
        CardTable cards;
        for (const QString &name : listVtdFiles(kFolder)) {
            if (!readVtdFile(kFolder + QLatin1Char('/') + name, cards).ok) {
                state.SkipWithError("read failed");
                return;
            }
            list.appendFromCardTable(name, cards);
        }
        if (list.recordCount() != kFiles) state.SkipWithError("the reader list is incomplete");
    }
}

} // namespace

BENCHMARK(BM_LoadPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseEveryRecord)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // the load pass hands its rows over through the event loop
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
