// The reader's software version and its written-card count, the first two questions of every read.
#include "bus/BusEngine.h"

#include "store/Records.h"
#include "store/TableRoutines.h"
#include "store/Workspace.h"

namespace kdr {

using namespace Codec;

namespace {
constexpr qint32 kOldSoftware = 0x00C; // below 0.0.12 the reader cannot report its card count
}

void BusEngine::SaveVersionToTable(qint32 version)
{
    SetFieldValue(m_ws.readers, ReaderField::Version, Value(version));
    if (m_ws.cards.recordCount() > 0) {
        TableWalk walk(m_ws.cards);
        m_ws.cards.setCurrent(0);
        m_ws.cards.setValue(0, CardField::Version, Value(version));
        m_ws.saveCards();
    }
}

// Old software: the user types the number of the last card. Anything but a number from 1 to 2000
// is asked again; Cancel ends the read.
bool BusEngine::askLastCardNumber(qint32 *n)
{
    Prompter *p = m_ws.prompter();
    if (!p) return false;
    for (;;) {
        const std::optional<QString> text = p->inputText(QStringLiteral("Software version < Ver 0.0.12"),
                                                          QStringLiteral("Please, input last card number (Values 1-2000)"),
                                                          QStringLiteral("2000"));
        if (!text) return false;
        bool ok = false;
        const int v = text->trimmed().toInt(&ok);
        if (ok && v >= 1 && v <= kSlots2000 && text->trimmed().size() <= 4) {
            *n = v;
            return true;
        }
        p->message(DlgType::Error, QStringLiteral("\"%1\" is not a card number from 1 to 2000.").arg(*text));
    }
}

void BusEngine::dataVersionHlx(const QString &line)
{
    const QString head = Field(line, 1, 4);
    if (head == QLatin1String("0180")) {
        op.ReaderVersion = HexToInt(FieldRange(line, 6, 8));
        log(QStringLiteral("> KDR-01, software version: V.") + FormatReaderVersion(op.ReaderVersion) + QLatin1Char(';'));
        if (op.ActiveCommand == BusCommand::GetParams) {
            SaveVersionToTable(op.ReaderVersion);
            startStep(Step::SelMemReadDevice);
        } else if (op.ReaderVersion >= kOldSoftware) {
            startStepUnlessAborted(Step::GetCardNo);
        } else {
            qint32 n = 0;
            if (!askLastCardNumber(&n)) return; // the read ends; the state stays GetVersion
            op.LastCardId = n;
            setProgressMaximum(n);
            CalcCardLocation(n, true);
            startStepUnlessAborted(Step::SelMemReadDevice);
        }
        return;
    }
    if (head == QLatin1String("0800")) {
        op.ReaderVersion = HexToInt(FieldRange(line, 6, 8));
        log(QStringLiteral("> KDR-01, software version: V.") + FormatReaderVersion(op.ReaderVersion) + QLatin1Char(';'));
        m_ws.CheckAndAppendTable();
        if (op.ActiveCommand == BusCommand::GetParams) {
            SaveVersionToTable(op.ReaderVersion);
            startStep(Step::SelMemReadDevice);
        } else {
            startStepUnlessAborted(Step::GetCardNo);
        }
        return;
    }
    if (line == QLatin1String("1"))
        log(QStringLiteral("> KDR-01, unable to get software version;"));
    else
        log(QStringLiteral("> ") + line);
}

void BusEngine::dataVersionMBus(const QString &line)
{
    op.ReaderVersion = HexToInt(Field(line, 27, 1) + Field(line, 29, 1) + Field(line, 31, 1));
    const QString shown = QStringLiteral("%1.%2.%3")
                              .arg(HexToInt(FieldRange(line, 26, 27)))
                              .arg(HexToInt(FieldRange(line, 28, 29)))
                              .arg(HexToInt(FieldRange(line, 30, 31)));
    log(QStringLiteral("> KDR-M, software version: V.") + shown + QLatin1Char(';'));
    if (m_ws.cards.recordCount() == kSlots2000) m_ws.CheckAndAppendTable();
    if (op.ActiveCommand == BusCommand::GetParams) {
        SaveVersionToTable(op.ReaderVersion);
        startStep(Step::SelMemReadDevice);
    } else {
        startStepUnlessAborted(Step::GetCardNo);
    }
}

void BusEngine::dataCardCountHlx(const QString &line)
{
    op.LastCardId = HexToInt(line);
    log(QStringLiteral("> KDR-01, last card ID: %1;").arg(op.LastCardId));
    afterCardCount();
}

void BusEngine::dataCardCountMBus(const QString &line)
{
    op.LastCardId = HexToInt(FieldRange(line, 22, 25));
    log(QStringLiteral("> KDR-M, last card ID: %1;").arg(op.LastCardId));
    afterCardCount();
}

void BusEngine::afterCardCount()
{
    const auto endRead = [this] {
        setCommandCaption(BusCommand::ReadKDR, QStringLiteral("Read All Cards"));
        setCommandCaption(BusCommand::ReadKDRFunc, QStringLiteral("Read All functions"));
        setProgressValue(0);
        op.OperationState = kIdle;
    };
    if (op.LastCardId < 1) {
        log(QStringLiteral("> Card reading finished!"));
        emit saveReadCardsEnabledChanged(true);
        endRead();
        return;
    }
    // No slot beyond 4000 has an address: the read would run to the end address of an earlier one.
    if (op.LastCardId > kSlots4000) {
        log(QStringLiteral("> ERROR: the reader reports %1 written cards, more than a reader holds; the read stops.")
                .arg(op.LastCardId));
        endRead();
        return;
    }
    setProgressMaximum(op.LastCardId);
    if (isMBus()) {
        CalcMBusCardLocation(op.LastCardId, true);
        op.OperationState = MBusState::GetCardID;
        op.AwaitAck = false;
        startStepUnlessAborted(Step::ReadCards);
    } else {
        CalcCardLocation(op.LastCardId, true);
        op.OperationState = HlxState::SelMemAccess;
        op.AwaitAck = true;
        startStepUnlessAborted(Step::SelMemReadDevice);
    }
}

} // namespace kdr
