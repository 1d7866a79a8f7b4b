// Loading and saving a 4000-slot reader data file (target: at most 2 ms each).
#include "store/Records.h"
#include "store/VtdFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace kdr;

namespace {
// A realistic reader: every slot with a card, a holder and a function.
void fill(CardTable &t)
{
    t.resetToSlots(kSlots4000);
    for (int r = 0; r < t.recordCount(); ++r) {
        t.setValue(r, CardField::CardNoSaved, Value(qint32(100000 + r)));
        t.setValue(r, CardField::CardNoRead, Value(qint32(100000 + r)));
        t.setValue(r, CardField::CardHolder, Value(QStringLiteral("Person %1").arg(r)));
        t.setValue(r, CardField::FuncKDR, Value(QStringLiteral("40")));
    }
    t.setValue(0, CardField::KDRSerial, Value(qint32(123456)));
}

void BM_Load4000(benchmark::State &state)
{
    QTemporaryDir dir;
    CardTable t;
    fill(t);
    const QString path = dir.filePath(QStringLiteral("r.vtd"));
    SaveTableToFile(t, path);
    CardTable target;
    for (auto _ : state) {
        const VtdReadResult r = readVtdFile(path, target);
        if (!r.ok || target.recordCount() != kSlots4000) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(target.recordCount());
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}

void BM_Save4000(benchmark::State &state)
{
    // Saves go to the real file system, flushed to disk; /dev/shm keeps the figure about our code
    // when the disk is slow, the second variant shows the disk's share.
    const bool toDisk = state.range(0) != 0;
    QTemporaryDir dir(toDisk ? QDir::tempPath() + QStringLiteral("/kdrbench-XXXXXX") : QStringLiteral("/dev/shm/kdrbench-XXXXXX"));
    CardTable t;
    fill(t);
    const QString path = dir.filePath(QStringLiteral("r.vtd"));
    for (auto _ : state) {
        const QString err = SaveTableToFile(t, path);
        if (!err.isEmpty()) state.SkipWithError(qPrintable(err));
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}

void BM_Encode4000(benchmark::State &state)
{
    CardTable t;
    fill(t);
    for (auto _ : state) benchmark::DoNotOptimize(writeVtd(t));
}
} // namespace

BENCHMARK(BM_Load4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save4000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode4000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
