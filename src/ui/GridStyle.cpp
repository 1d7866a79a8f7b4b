#include "ui/GridStyle.h"

#include "store/Records.h"
#include "store/Search.h"

namespace kdr {

CellStyle cellStyle(GridKind kind, const Table &t, int rec, int recordNumber, const GridColumn &col, bool selected,
                    bool compareCards)
{
    CellStyle s;
    s.bold = selected;
    s.back = selected ? GridColor::SelectedBack : (recordNumber % 2 ? GridColor::OddBack : GridColor::EvenBack);
    const bool ownColour = col.text == GridColor::Red || col.text == GridColor::Navy || col.text == GridColor::Green;
    s.text = ownColour ? col.text : GridColor::Black;

    if (kind == GridKind::Cards) {
        if ((col.field == CardField::ID || col.field == CardField::CardNoSaved) &&
            t.storedValue(rec, CardField::IsCardChanged).toBool())
            s.text = GridColor::Red;
        if (compareCards && cardDiffersFromRead(t, rec)) s.back = GridColor::CompareBack;
    } else {
        if (col.field == ReaderField::Status)
            s.text = t.storedValue(rec, ReaderField::Status).toText() == kStatusOffline ? GridColor::Red : GridColor::Green;
        if ((col.field == ReaderField::ASAdr || col.field == ReaderField::RelayT_Calc || col.field == ReaderField::REX_calc) &&
            t.storedValue(rec, ReaderField::ChangeParam).toBool())
            s.text = GridColor::Navy;
    }
    return s;
}

QList<GridColumn> cardGridColumns()
{
    return {{CardField::ID, QStringLiteral("ID:")},
            {CardField::CardNoSaved, QStringLiteral("Card saved:")},
            {CardField::CardNoRead, QStringLiteral("Card read:"), GridColor::Green},
            {CardField::CardHolder, QStringLiteral("Person:")},
            {CardField::FuncR_str, QStringLiteral("R:")},
            {CardField::FuncKDR_str, QStringLiteral("Card function:")}};
}

QList<GridColumn> readerGridColumns()
{
    return {{ReaderField::VtdFileN, QStringLiteral(".vtd FileName")},
            {ReaderField::KDRSerial, QStringLiteral("KDRSerial:")},
            {ReaderField::Version_calc, QStringLiteral("Version:")},
            {ReaderField::Status, QStringLiteral("Status:")},
            {ReaderField::ASAdr, QStringLiteral("AS adr.:")},
            {ReaderField::RelayT_Calc, QStringLiteral("Rel. time:")},
            {ReaderField::REX_calc, QStringLiteral("REX function:")}};
}

} // namespace kdr
