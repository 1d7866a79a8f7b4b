#pragma once
// The two tables of the program: the card table of the selected reader (tblCards) and the reader
// list built from the data files of the active folder (tblKDRReaders), with their field layouts,
// calculated values and the small encodings they carry.

#include "store/Table.h"

#include <QLocale>
#include <QStringList>

namespace kdr {

// Card table fields, in file order.
namespace CardField {
enum : int {
    ID, CardNoRead, CardHolder, CardNoSaved, KDRSerial, ASAdr, RelayT, REX, Note, Version,
    IsCardChanged, IsParamChanged, FuncKDR, FuncR_str, FuncKDR_str, FuncKDR_RcvOpenDoor,
    FreeProt1, FreeProt2, FreeProt3, FreeProt4, MasterCard, DevMode, DevMode_MSB, IsStandalone,
    Count
};
}

// Reader list fields.
namespace ReaderField {
enum : int {
    VtdFileN, KDRSerial, Status, ASAdr, RelayT, REX, Note, ChangeParam, Version, FuncKDR_RcvOpenDoor,
    FreeProt1, FreeProt2, FreeProt3, FreeProt4, MasterCard, DevMode, DevMode_MSB, IsStandalone,
    Version_calc, RelayT_Calc, REX_calc,
    Count
};
}

inline constexpr int kSlots2000 = 2000;
inline constexpr int kSlots4000 = 4000;
inline constexpr qint32 kMaxCardNo = 16777215; // FF FF FF, also "empty slot" in the reader
inline const QString kStatusOnline = QStringLiteral("ONLINE");
inline const QString kStatusOffline = QStringLiteral("OFFLINE");
inline const QString kNotePlaceholder = QStringLiteral("[Click to change]");

QList<FieldDef> cardTableFields();
QList<FieldDef> readerListFields();

// tblCards: the card slots of the selected reader, record 0 is the reader values record.
class CardTable : public Table {
    Q_OBJECT
public:
    explicit CardTable(QObject *parent = nullptr);
    // Replaces the content by n empty slots numbered 1..n.
    void resetToSlots(int n);
    // Appends slots numbered after the last one, up to n slots in all.
    void growToSlots(int n);
};

// tblKDRReaders: one row per data file; never saved. Its filter is Status = "ONLINE".
class ReaderList : public Table {
    Q_OBJECT
public:
    explicit ReaderList(QObject *parent = nullptr);
    // Fills a new row from the reader values record of a card table.
    int appendFromCardTable(const QString &vtdFileName, const Table &cards);
    int findFile(const QString &vtdFileName) const; // -1 when not listed
    void setLocale(const QLocale &l) { m_locale = l; }
    const QLocale &locale() const { return m_locale; }

private:
    QLocale m_locale;
};

// Card function code: "4x" (R contact) or "0x", x = function number 0..15 in hex.
struct FuncCode {
    bool r = true;
    int number = 0;
};
FuncCode ParseFuncKDR(const QString &code);
QString MakeFuncKDR(bool r, int number);
QString FunctionText(int number);           // the card function texts, 0..15
QStringList FunctionChoiceTexts();           // the dialogs' choice list (entry 1 with a trailing blank)

QString FormatReaderVersion(qint32 v);       // 0x20C -> "2.0.12", 0 -> ""
qint32 ParseReaderVersion(const QString &t); // "2.0.12" -> 0x20C, anything else -> 0
inline constexpr qint32 kVersionDevModes = 0x206; // 2.0.6: first firmware with the device modes

QString RelayTimeText(int halfSeconds, QChar decimalSep = QLatin1Char(',')); // 7 -> "3,5"
QStringList RelayTimeChoices();               // "0", "0,5", ..., "15"
QString RexText(int rex);                     // empty for values without a text
QStringList RexChoices();

} // namespace kdr
