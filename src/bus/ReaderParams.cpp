#include "bus/ReaderParams.h"

#include "store/Records.h"
#include "store/Workspace.h"

namespace kdr {

bool StoreReaderParamsInTable(Workspace &ws, int readerRow)
{
    if (readerRow < 0 || readerRow >= ws.readers.recordCount() || ws.cards.recordCount() == 0) return false;
    ws.readers.setValue(readerRow, ReaderField::ChangeParam, Value(false));
    static const int pairs[][2] = {
        {ReaderField::KDRSerial, CardField::KDRSerial}, {ReaderField::ASAdr, CardField::ASAdr},
        {ReaderField::RelayT, CardField::RelayT}, {ReaderField::REX, CardField::REX},
        {ReaderField::FuncKDR_RcvOpenDoor, CardField::FuncKDR_RcvOpenDoor},
        {ReaderField::FreeProt1, CardField::FreeProt1}, {ReaderField::FreeProt2, CardField::FreeProt2},
        {ReaderField::FreeProt3, CardField::FreeProt3}, {ReaderField::FreeProt4, CardField::FreeProt4},
        {ReaderField::MasterCard, CardField::MasterCard}, {ReaderField::DevMode, CardField::DevMode},
        {ReaderField::DevMode_MSB, CardField::DevMode_MSB}, {ReaderField::IsStandalone, CardField::IsStandalone},
    };
    TableWalk walk(ws.cards);
    for (const auto &p : pairs) ws.cards.setValue(0, p[1], ws.readers.storedValue(readerRow, p[0]));
    ws.cards.setValue(0, CardField::IsParamChanged, Value(false));
    return ws.saveCards();
}

} // namespace kdr
