#include "store/Search.h"

#include "store/Records.h"

namespace kdr {

namespace {
const QString kCrLf = QStringLiteral("\r\n");

QString boolHint() { return QStringLiteral("[0] = False") + kCrLf + QStringLiteral("[1] = True"); }

QString rexHint()
{
    QStringList l;
    for (int i = 0; i < 4; ++i) l << QStringLiteral("[%1] = %2").arg(i).arg(RexText(i));
    return l.join(kCrLf);
}

QString functionHint()
{
    QStringList l{QStringLiteral("[4x] = R True")};
    for (int n = 0; n < 16; ++n) l << QStringLiteral("[x%1] = %2").arg(QString::number(n, 16).toUpper(), FunctionText(n));
    l << QStringLiteral("[x] can be any number (ex. 0 for [4x])");
    return l.join(kCrLf);
}
} // namespace

const QList<SearchField> &readerSearchFields()
{
    using K = SearchField::ValueKind;
    using M = SearchField::Match;
    static const QList<SearchField> list{
        {QStringLiteral("File name (*.vtd)"), ReaderField::VtdFileN, K::Text, M::ContainsNoCase, false, {}},
        {QStringLiteral("KDR serial"), ReaderField::KDRSerial, K::Number, M::Equal, true, {}},
        {QStringLiteral("Version"), ReaderField::Version, K::Version, M::Equal, false, {}},
        {QStringLiteral("AS address"), ReaderField::ASAdr, K::Number, M::Equal, true, {}},
        {QStringLiteral("Relay time"), ReaderField::RelayT, K::TwiceNumber, M::Equal, true, {}},
        {QStringLiteral("REX function"), ReaderField::REX, K::Number, M::Equal, true, rexHint()},
        {QStringLiteral("Master card"), ReaderField::MasterCard, K::Text, M::ContainsCase, true, {}},
        {QStringLiteral("Note"), ReaderField::Note, K::Text, M::ContainsNoCase, false, {}},
        {QStringLiteral("NOT Check A-line"), ReaderField::IsStandalone, K::Number, M::Equal, true, boolHint()},
        {QStringLiteral("Reader mode"), ReaderField::DevMode, K::Number, M::Equal, true, boolHint()},
        {QStringLiteral("Params set for change"), ReaderField::ChangeParam, K::Flag, M::Equal, true, boolHint()},
    };
    return list;
}

const QList<SearchField> &cardSearchFields()
{
    using K = SearchField::ValueKind;
    using M = SearchField::Match;
    static const QList<SearchField> list{
        {QStringLiteral("ID"), CardField::ID, K::Number, M::Equal, true, {}, true},
        {QStringLiteral("Card saved"), CardField::CardNoSaved, K::Number, M::Equal, true, {}},
        {QStringLiteral("Card read"), CardField::CardNoRead, K::Number, M::Equal, true, {}},
        {QStringLiteral("Person"), CardField::CardHolder, K::Text, M::ContainsNoCase, false, {}},
        {QStringLiteral("R/Card function"), CardField::FuncKDR, K::Text, M::EqualNoCase, false, functionHint()},
        {QStringLiteral("Card set for change"), CardField::IsCardChanged, K::Flag, M::Equal, true, boolHint()},
    };
    return list;
}

QString searchBoxText(const QString &typed) { return typed == QLatin1String("0") ? QString() : typed; }

SearchValue makeSearchValue(const SearchField &f, const QString &text)
{
    SearchValue sv;
    switch (f.kind) {
    case SearchField::ValueKind::Text:
        sv.value = Value(text);
        break;
    case SearchField::ValueKind::Version:
        sv.value = Value(ParseReaderVersion(text));
        break;
    case SearchField::ValueKind::Flag:
        sv.value = Value(text == QLatin1String("1"));
        break;
    case SearchField::ValueKind::Number:
    case SearchField::ValueKind::TwiceNumber: {
        bool ok = false;
        const qint32 n = text.trimmed().toInt(&ok);
        // Relay time is typed in seconds and kept in half seconds.
        const bool twice = f.kind == SearchField::ValueKind::TwiceNumber;
        if (!ok || (twice && (n > INT32_MAX / 2 || n < INT32_MIN / 2))) {
            sv.error = text.trimmed().isEmpty() ? QStringLiteral("Type a number to search for \"%1\"!").arg(f.item)
                                                : QStringLiteral("\"%1\" is not a valid number for \"%2\"!").arg(text, f.item);
            return sv;
        }
        sv.value = Value(qint32(twice ? n * 2 : n));
        break;
    }
    }
    sv.ok = true;
    return sv;
}

bool searchMatches(const Table &t, int rec, const SearchField &f, const Value &v)
{
    const Value have = t.value(rec, f.field);
    if (have.isNull()) return false;
    switch (f.match) {
    case SearchField::Match::ContainsNoCase:
        return have.toText().contains(v.toText(), Qt::CaseInsensitive);
    case SearchField::Match::ContainsCase:
        return have.toText().contains(v.toText(), Qt::CaseSensitive);
    case SearchField::Match::EqualNoCase:
        return have.toText().compare(v.toText(), Qt::CaseInsensitive) == 0;
    case SearchField::Match::Equal:
        if (v.isBool()) return have.toBool() == v.toBool();
        return have.toInt() == v.toInt();
    }
    return false;
}

namespace {
int scan(const Table &t, const SearchField &f, const Value &v, int from, int to) // [from, to)
{
    for (int rec = from; rec < to; ++rec)
        if (t.isVisible(rec) && searchMatches(t, rec, f, v)) return rec;
    return -1;
}
} // namespace

int searchStep(const Table &t, const SearchField &f, const Value &v)
{
    const int from = f.fromFirst ? 0 : t.current() + 1;
    return scan(t, f, v, std::max(0, from), t.recordCount());
}

SearchOutcome invokeSearch(const Table &t, const SearchField &f, const QString &text)
{
    SearchOutcome out;
    const SearchValue sv = makeSearchValue(f, text);
    if (!sv.ok) {
        out.error = sv.error;
        return out;
    }
    out.record = searchStep(t, f, sv.value);
    if (out.record < 0) {
        const QList<int> visible = t.visibleRecords();
        const int cur = t.current();
        if (cur >= 0 && !visible.isEmpty() && cur != visible.first())
            out.record = scan(t, f, sv.value, 0, cur + 1); // wrap around once
    }
    return out;
}

bool cardDiffersFromRead(const Table &cards, int rec)
{
    const Value read = cards.value(rec, CardField::CardNoRead);
    if (read.isNull()) return false;
    return read.toInt() != cards.value(rec, CardField::CardNoSaved).toInt();
}

} // namespace kdr
