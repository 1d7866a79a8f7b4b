#pragma once
// A program folder in a temporary directory with a workspace, a scripted prompter and a reader store.
#include "store/ReaderStore.h"
#include "store/Records.h"
#include "store/ScriptedPrompter.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace storetest {

// Writes a 2000-slot data file whose reader values record holds the given values.
inline bool writeReader(const QString &path, qint32 serial, qint32 relayT = 0, const QString &note = QString(),
                        qint32 version = 0)
{
    kdr::CardTable t;
    t.resetToSlots(kdr::kSlots2000);
    t.setValue(0, kdr::CardField::KDRSerial, kdr::Value(serial));
    t.setValue(0, kdr::CardField::RelayT, kdr::Value(relayT));
    t.setValue(0, kdr::CardField::Version, kdr::Value(version));
    if (!note.isNull()) t.setValue(0, kdr::CardField::Note, kdr::Value(note));
    return kdr::SaveTableToFile(t, path).isEmpty();
}

inline qint32 serialInFile(const QString &path)
{
    kdr::CardTable t;
    if (!kdr::readVtdFile(path, t).ok || t.recordCount() == 0) return -1;
    return t.storedValue(0, kdr::CardField::KDRSerial).toInt();
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<kdr::Workspace> ws;
    kdr::ScriptedPrompter prompter;
    std::unique_ptr<kdr::ReaderStore> store;

    Fixture()
    {
        ws = std::make_unique<kdr::Workspace>(dir.filePath(QStringLiteral("KDR02.x64")));
        ws->setPrompter(&prompter);
        store = std::make_unique<kdr::ReaderStore>(*ws);
    }
    ~Fixture()
    {
        store.reset(); // the watch and any loader go first
    }
    QString folder() const { return ws->activeFolderPath(); }
    QString path(const QString &name) const { return folder() + name; }

    bool load()
    {
        QSignalSpy done(store.get(), &kdr::ReaderStore::loadFinished);
        store->FillAndSelectKDRTable();
        return done.wait(10000);
    }
    QString rowFile(int r) const { return ws->readers.storedValue(r, kdr::ReaderField::VtdFileN).toText(); }
    QStringList rowFiles() const
    {
        QStringList l;
        for (int r = 0; r < ws->readers.recordCount(); ++r) l << rowFile(r);
        return l;
    }
    QString selectedFile() const { return ws->readers.current() >= 0 ? rowFile(ws->readers.current()) : QString(); }
    qint32 cardsSerial() const
    {
        return ws->cards.recordCount() ? ws->cards.storedValue(0, kdr::CardField::KDRSerial).toInt() : -1;
    }
    // Lines about files that the folder watch wrote.
    QStringList watchLines() const
    {
        QStringList l;
        for (const QString &line : ws->log.lines())
            if (line.startsWith(QLatin1String("File ")) || line == QLatin1String("KDR data table updated")) l << line;
        return l;
    }
    // Notifications are handled in order: once a file written after an operation shows up in the list,
    // every notification the operation caused has been handled.
    bool settleWithSentinel(const QString &name = QStringLiteral("zz_sentinel.vtd"))
    {
        if (!writeReader(path(name), 0)) return false;
        return QTest::qWaitFor([&] { return ws->readers.findFile(name) >= 0; }, 5000);
    }
};

} // namespace storetest
