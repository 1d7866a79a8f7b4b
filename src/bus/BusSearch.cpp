// "Check KDR status": open the bus port, initialise the bus, search it, mark the answering
// readers "ONLINE", offer to add readers that have no data file yet, then filter the list.
#include "bus/BusEngine.h"

#include "bus/ReaderParams.h"
#include "store/Records.h"
#include "store/TableRoutines.h"
#include "store/Workspace.h"

#include <QFileInfo>

#include <vector>

namespace kdr {

using namespace Codec;

namespace {
// The card table and its file name, to be put back when replacing them failed.
class CardTableSnapshot {
public:
    explicit CardTableSnapshot(const Workspace &ws)
        : m_fileName(ws.readerFileName()), m_records(ws.cards.recordCount()), m_fields(ws.cards.fieldCount()),
          m_current(ws.cards.current())
    {
        m_values.reserve(size_t(m_records) * size_t(m_fields));
        for (int r = 0; r < m_records; ++r)
            for (int f = 0; f < m_fields; ++f) m_values.push_back(ws.cards.storedValue(r, f));
    }
    void restore(Workspace &ws) const
    {
        CardTable &t = ws.cards;
        t.disableControls();
        t.clear();
        t.appendRecords(m_records);
        size_t i = 0;
        for (int r = 0; r < m_records; ++r)
            for (int f = 0; f < m_fields; ++f) t.setValue(r, f, m_values[i++]);
        if (m_current >= 0 && m_current < m_records) t.setCurrent(m_current);
        t.enableControls();
        ws.setReaderFileName(m_fileName);
        emit ws.buttonStateChanged();
    }

private:
    QString m_fileName;
    int m_records;
    int m_fields;
    int m_current;
    std::vector<Value> m_values;
};
} // namespace

void BusEngine::markAllReadersOffline()
{
    ReaderList &rl = m_ws.readers;
    if (rl.isFiltered()) rl.setFiltered(false);
    if (rl.recordCount() == 0) return;
    // Frozen display: the reader selection does not react to the status changes.
    rl.disableControls();
    SetFieldInAllRecords(rl, ReaderField::Status, Value(kStatusOffline));
    rl.enableControls();
}

void BusEngine::btnFindKDRClick()
{
    if (m_selected == QLatin1String("offline")) {
        log(QStringLiteral("ERROR: You are in offline mode!"));
        return;
    }
    if (m_ws.loadingFiles) {
        log(QStringLiteral("ERROR: Loading files is still in progress!"));
        return;
    }
    if (m_ws.downloadingFiles) {
        log(QStringLiteral("ERROR: Downloading files is still in progress!"));
        return;
    }
    if (!isPortEntry(m_selected)) return;
    if (m_port->isOpen() && m_port->portName() != m_selected) m_port->close();
    QString why;
    if (!OpenKDRPort(m_port, m_selected, m_scanBaud == 28800, &why)) {
        log(QStringLiteral("> ") + why);
        return;
    }
    op.OperationState = HlxState::InitBus;
    op.LastFoundSerial.clear();
    m_filterTimer.stop(); // the last search's filter would hide the readers marked OFFLINE below
    InitHLXBUS();

    m_ws.cards.disableControls();
    markAllReadersOffline();
    m_ws.cards.enableControls();
    emit m_ws.buttonStateChanged();
}

void BusEngine::dataSearchHlx(const QString &line)
{
    if (!(Field(line, 1, 1) == QLatin1String("5") && Field(line, 7, 1) == QLatin1String("1"))) {
        if (line != QLatin1String("1")) log(QStringLiteral("> ") + line);
        return;
    }
    const QString serial = HexToDecimalText(FieldRange(line, 2, 6));
    if (serial == op.LastFoundSerial) return; // the same reader answering again
    m_filterTimer.stop();
    op.LastFoundSerial = serial;
    acceptReader(serial, QStringLiteral("> KDR-01, serial number: "));
}

void BusEngine::dataSearchMBus(const QString &line)
{
    m_filterTimer.stop(); // every answer cancels a pending filter, also one dropped below
    const QString serial = HexToDecimalText(FieldRange(line, 2, 7));
    op.LastFoundSerial = serial;
    if (serial == QLatin1String("0")) return;
    acceptReader(serial, QStringLiteral("> KDR-M, serial number: "));
}

void BusEngine::acceptReader(const QString &serial, const QString &logPrefix)
{
    log(logPrefix + serial + QLatin1Char(';'));
    ReaderList &rl = m_ws.readers;
    const qint32 serialNo = serial.toInt();
    rl.disableControls();
    const auto findReader = [&rl, serialNo] {
        for (int r = 0; r < rl.recordCount(); ++r)
            if (rl.storedValue(r, ReaderField::KDRSerial).toInt() == serialNo && !rl.storedValue(r, ReaderField::KDRSerial).isNull())
                return r;
        return -1;
    };
    int row = findReader();

    if (row < 0) {
        Prompter *p = m_ws.prompter();
        const Btn answer = p ? p->message(DlgType::Information,
                                          QStringLiteral("New reader found. Do you want to add it in KDR data table?"),
                                          {Btn::Ok, Btn::Cancel})
                             : Btn::Cancel;
        // The same reader may have answered again while the question was open, and been added.
        if (answer == Btn::Ok && (row = findReader()) >= 0) {
            rl.setValue(row, ReaderField::Status, kStatusOnline);
        } else if (answer == Btn::Ok) {
            const QString fileName = serial + QStringLiteral(".vtd");
            const QString path = m_ws.activeFolderPath() + fileName;
            // A file of that name belongs to some other reader record: never overwrite it.
            if (QFileInfo::exists(path) || rl.findFile(fileName) >= 0) {
                const QString msg = QStringLiteral("Data file %1 already exists; reader %2 was not added.").arg(path, serial);
                log(QStringLiteral("> ERROR: ") + msg);
                p->message(DlgType::Error, msg);
            } else {
                const int newRow = rl.appendRecord();
                rl.setValue(newRow, ReaderField::VtdFileN, fileName);
                rl.setValue(newRow, ReaderField::KDRSerial, Value(serialNo));
                rl.setValue(newRow, ReaderField::Status, kStatusOnline);
                rl.setValue(newRow, ReaderField::ASAdr, Value(qint32(0)));
                rl.setValue(newRow, ReaderField::RelayT, Value(qint32(6)));
                rl.setValue(newRow, ReaderField::REX, Value(qint32(0)));
                // The new file replaces the card table; should it fail, the selected reader gets its
                // table back as it was, unsaved read column included.
                const CardTableSnapshot before(m_ws);
                m_ws.ignoreNextWatchEvent = true; // the folder watch drops the creation it causes
                if (m_ws.CreateNewTable(path)) {
                    rl.setCurrent(newRow);
                    StoreReaderParamsInTable(m_ws, newRow);
                } else {
                    m_ws.ignoreNextWatchEvent = false; // no file, no notification to drop
                    rl.removeRecord(newRow); // no file, no reader: the list shows what is on disk
                    before.restore(m_ws);
                }
            }
        }
    } else {
        rl.setValue(row, ReaderField::Status, kStatusOnline);
    }

    for (int r = 0; r < rl.recordCount(); ++r)
        if (rl.storedValue(r, ReaderField::Status).toText() == kStatusOnline) {
            m_filterTimer.start();
            break;
        }
    rl.enableControls();
    emit m_ws.buttonStateChanged();
}

void BusEngine::FilterTimerTimer()
{
    m_filterTimer.stop();
    m_ws.readers.setFiltered(true);
    emit m_ws.buttonStateChanged();
}

} // namespace kdr
