#pragma once
// The search boxes above the reader list and the card table: the fields offered, how the typed text
// becomes a search value, and the search step with its single wrap-around.
#include "store/Table.h"

#include <QList>
#include <QString>

namespace kdr {

struct SearchField {
    enum class ValueKind { Text, Number, TwiceNumber, Version, Flag };
    enum class Match { ContainsNoCase, ContainsCase, Equal, EqualNoCase };
    QString item;     // the selector's text
    int field;        // CardField:: or ReaderField::
    ValueKind kind;
    Match match;
    bool digitsOnly;  // what the box accepts
    QString hint;     // empty: no hint
    bool fromFirst = false; // the search always starts at the first record
};

const QList<SearchField> &readerSearchFields(); // default item 0, "File name (*.vtd)"
const QList<SearchField> &cardSearchFields();   // default item 0, "ID"

// The box text after a change: a box holding exactly "0" is cleared.
QString searchBoxText(const QString &typed);

struct SearchValue {
    bool ok = false;
    Value value;
    QString error; // for the error message when !ok
};
SearchValue makeSearchValue(const SearchField &f, const QString &text);

bool searchMatches(const Table &t, int rec, const SearchField &f, const Value &v);

// One search step (isFound1 / isFound2): the first matching record after the current one (from the
// first one for fields that say so), among the records the filter shows. -1 when none.
int searchStep(const Table &t, const SearchField &f, const Value &v);

struct SearchOutcome {
    int record = -1;  // the record to make current; -1: nothing found, the current record stays
    QString error;    // non-empty: show it, nothing moves
};
// The whole search of Enter / the search button: a step, then once from the first record up to the
// current one when the step found nothing and the current record is not the first.
SearchOutcome invokeSearch(const Table &t, const SearchField &f, const QString &text);

// "Compare cards": the slot's read card number is set and differs from the saved one (NULL as 0).
bool cardDiffersFromRead(const Table &cards, int rec);

} // namespace kdr
