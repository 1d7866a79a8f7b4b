#include "store/Records.h"

namespace kdr {

namespace {
FieldDef txt(const char *n, int size, bool calc = false) { return {QString::fromLatin1(n), FieldType::Text, size, calc}; }
FieldDef num(const char *n, bool calc = false) { return {QString::fromLatin1(n), FieldType::Integer, 0, calc}; }
FieldDef flag(const char *n, bool calc = false) { return {QString::fromLatin1(n), FieldType::Boolean, 0, calc}; }
} // namespace

QList<FieldDef> cardTableFields()
{
    return {num("ID"), num("CardNoRead"), txt("CardHolder", 60), num("CardNoSaved"), num("KDRSerial"),
            num("ASAdr"), num("RelayT"), num("REX"), txt("Note", 255), num("Version"),
            flag("IsCardChanged"), flag("IsParamChanged"), txt("FuncKDR", 20), flag("FuncR_str", true),
            txt("FuncKDR_str", 50, true), flag("FuncKDR_RcvOpenDoor"), txt("FreeProt1", 20),
            txt("FreeProt2", 20), txt("FreeProt3", 20), txt("FreeProt4", 20), txt("MasterCard", 10),
            num("DevMode"), num("DevMode_MSB"), num("IsStandalone")};
}

QList<FieldDef> readerListFields()
{
    // The file name column holds any name the folder may have (the list is never saved).
    return {txt("VtdFileN", 255), num("KDRSerial"), txt("Status", 10), num("ASAdr"), num("RelayT"),
            num("REX"), txt("Note", 255), flag("ChangeParam"), num("Version"), flag("FuncKDR_RcvOpenDoor"),
            txt("FreeProt1", 20), txt("FreeProt2", 20), txt("FreeProt3", 20), txt("FreeProt4", 20),
            txt("MasterCard", 10), num("DevMode"), num("DevMode_MSB"), num("IsStandalone"),
            txt("Version_calc", 20, true), txt("RelayT_Calc", 20, true), txt("REX_calc", 25, true)};
}

CardTable::CardTable(QObject *parent) : Table(cardTableFields(), parent)
{
    setCalculator([](const Table &t, int rec, int field) -> Value {
        const Value code = t.storedValue(rec, CardField::FuncKDR);
        if (code.isNull()) return {};
        const FuncCode f = ParseFuncKDR(code.toText());
        if (field == CardField::FuncR_str) return Value(f.r);
        if (field == CardField::FuncKDR_str) return Value(FunctionText(f.number));
        return {};
    });
}

void CardTable::resetToSlots(int n)
{
    disableControls();
    clear();
    reserve(n);
    appendRecords(n);
    for (int i = 0; i < n; ++i) setValue(i, CardField::ID, Value(qint32(i + 1)));
    setCurrent(n > 0 ? 0 : -1);
    enableControls();
}

void CardTable::growToSlots(int n)
{
    const int have = recordCount();
    if (have >= n) return;
    const qint32 lastId = have > 0 ? storedValue(have - 1, CardField::ID).toInt() : 0;
    disableControls();
    reserve(n);
    appendRecords(n - have);
    for (int i = have; i < n; ++i) setValue(i, CardField::ID, Value(qint32(lastId + (i - have) + 1)));
    enableControls();
}

ReaderList::ReaderList(QObject *parent) : Table(readerListFields(), parent)
{
    setFilter([](const Table &t, int rec) { return t.storedValue(rec, ReaderField::Status).toText() == kStatusOnline; });
    setCalculator([this](const Table &t, int rec, int field) -> Value {
        switch (field) {
        case ReaderField::Version_calc:
            return Value(FormatReaderVersion(t.storedValue(rec, ReaderField::Version).toInt()));
        case ReaderField::RelayT_Calc: {
            const Value v = t.storedValue(rec, ReaderField::RelayT);
            if (v.isNull()) return {};
            return Value(RelayTimeText(v.toInt(), m_locale.decimalPoint().at(0)));
        }
        case ReaderField::REX_calc: {
            const Value v = t.storedValue(rec, ReaderField::REX);
            if (v.isNull()) return {};
            return Value(RexText(v.toInt()));
        }
        }
        return {};
    });
}

int ReaderList::appendFromCardTable(const QString &vtdFileName, const Table &cards)
{
    const int row = appendRecord();
    setValue(row, ReaderField::VtdFileN, vtdFileName);
    setValue(row, ReaderField::Status, kStatusOffline);
    if (cards.recordCount() == 0) return row;
    // Reader-level values come from the first record; NULL reads as 0, empty or false.
    auto i = [&](int f) { return Value(cards.storedValue(0, f).toInt()); };
    auto s = [&](int f) { return Value(cards.storedValue(0, f).toText()); };
    auto b = [&](int f) { return Value(cards.storedValue(0, f).toBool()); };
    setValue(row, ReaderField::KDRSerial, i(CardField::KDRSerial));
    setValue(row, ReaderField::ASAdr, i(CardField::ASAdr));
    setValue(row, ReaderField::RelayT, i(CardField::RelayT));
    setValue(row, ReaderField::REX, i(CardField::REX));
    setValue(row, ReaderField::Note, s(CardField::Note));
    setValue(row, ReaderField::ChangeParam, b(CardField::IsParamChanged));
    setValue(row, ReaderField::Version, i(CardField::Version));
    setValue(row, ReaderField::FuncKDR_RcvOpenDoor, b(CardField::FuncKDR_RcvOpenDoor));
    setValue(row, ReaderField::FreeProt1, s(CardField::FreeProt1));
    setValue(row, ReaderField::FreeProt2, s(CardField::FreeProt2));
    setValue(row, ReaderField::FreeProt3, s(CardField::FreeProt3));
    setValue(row, ReaderField::FreeProt4, s(CardField::FreeProt4));
    setValue(row, ReaderField::MasterCard, s(CardField::MasterCard));
    setValue(row, ReaderField::DevMode, i(CardField::DevMode));
    setValue(row, ReaderField::DevMode_MSB, i(CardField::DevMode_MSB));
    setValue(row, ReaderField::IsStandalone, i(CardField::IsStandalone));
    return row;
}

int ReaderList::findFile(const QString &vtdFileName) const
{
    for (int r = 0; r < recordCount(); ++r)
        if (storedValue(r, ReaderField::VtdFileN).toText() == vtdFileName) return r;
    return -1;
}

FuncCode ParseFuncKDR(const QString &code)
{
    FuncCode f;
    if (code.size() < 2) return f;
    bool ok = false;
    const int n = QString(code.at(1)).toInt(&ok, 16);
    if (!ok) return f;
    f.r = code.at(0) == QLatin1Char('4');
    f.number = n;
    return f;
}

QString MakeFuncKDR(bool r, int number)
{
    return QString(r ? QLatin1Char('4') : QLatin1Char('0')) + QString::number(number, 16).toUpper();
}

QString FunctionText(int n)
{
    if (n == 0) return QStringLiteral("door opener with AS address");
    if (n == 1) return QStringLiteral("control function no. 1 with own serial number");
    if (n >= 2 && n <= 5) return QStringLiteral("free protocol %1").arg(n - 1);
    if (n >= 6 && n <= 15) return QStringLiteral("control function no. %1 with own serial number").arg(n + 65);
    return QString();
}

QStringList FunctionChoiceTexts()
{
    QStringList l;
    for (int n = 0; n < 16; ++n) l << (n == 1 ? FunctionText(n) + QLatin1Char(' ') : FunctionText(n));
    return l;
}

QString FormatReaderVersion(qint32 v)
{
    if (v == 0) return QString();
    const QString hex = QStringLiteral("%1").arg(quint32(v), 3, 16, QLatin1Char('0')).toUpper();
    QStringList parts;
    for (int i = 0; i < 3; ++i) parts << QString::number(QString(hex.at(i)).toInt(nullptr, 16));
    return parts.join(QLatin1Char('.'));
}

qint32 ParseReaderVersion(const QString &t)
{
    const QStringList parts = t.split(QLatin1Char('.'));
    if (parts.size() < 3) return 0;
    QString hex;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const int n = parts[i].toInt(&ok);
        if (!ok || n < 0) return 0;
        hex += QString::number(n, 16);
    }
    bool ok = false;
    const qint32 v = qint32(hex.toUInt(&ok, 16));
    return ok ? v : 0;
}

QString RelayTimeText(int halfSeconds, QChar decimalSep)
{
    QString s = QString::number(halfSeconds / 2);
    if (halfSeconds % 2) {
        if (halfSeconds < 0 && halfSeconds / 2 == 0) s = QStringLiteral("-0");
        s += decimalSep + QStringLiteral("5");
    }
    return s;
}

QStringList RelayTimeChoices()
{
    QStringList l;
    for (int v = 0; v <= 30; ++v) l << RelayTimeText(v, QLatin1Char(','));
    return l;
}

QString RexText(int rex)
{
    switch (rex) {
    case 0: return QStringLiteral("Door open sensor");
    case 1: return QStringLiteral("Light switch protocol");
    case 2: return QStringLiteral("Door opener protocol");
    case 3: return QStringLiteral("Control function 3");
    }
    return QString();
}

QStringList RexChoices()
{
    return {RexText(0), RexText(1), RexText(2), RexText(3)};
}

} // namespace kdr
