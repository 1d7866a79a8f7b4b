#pragma once
// The reader data file (.vtd): the binary stream form of a table. Writing is byte-exact in
// version 3; reading accepts versions 0 to 3 and other writers' layouts.

#include "store/Table.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kdr {

struct VtdFieldDef {
    QString name;
    quint16 dataType = 0; // 1 text, 3 integer, 5 boolean; others are skipped
    quint16 size = 0;
    qint32 precision = 0;
};

struct VtdReadResult {
    bool ok = false;
    QString error;            // plain words, empty when ok
    bool headerRead = false;  // false: the table was left empty
    quint16 version = 0;
    QList<VtdFieldDef> definitions;
    qint32 recordCount = 0;   // as the file claims
    int recordsRead = 0;      // records now in the table
};

// Loads the records of a data file into `table`, matching the file's definitions to the table's
// fields by name; the table keeps its own layout. After the load the first record is current.
VtdReadResult readVtd(const QByteArray &data, Table &table);
VtdReadResult readVtdFile(const QString &path, Table &table);
// Only the header and the first `maxRecords` records: enough for the reader values record.
VtdReadResult readVtdFile(const QString &path, Table &table, int maxRecords);

// The header alone, for tools that show a file as it is.
VtdReadResult readVtdHeader(const QByteArray &data);
// Field layout that holds every definition of a file (types other than text/integer/boolean are
// kept as text fields whose data is skipped).
QList<FieldDef> fieldsForDefinitions(const QList<VtdFieldDef> &defs);

// The version 3 image of a table: all records, also those hidden by a filter, in stored order.
QByteArray writeVtd(const Table &table);
// Saves the table to `path` (atomically), keeping its current record. Returns the error in plain
// words, empty on success; on failure the previous file is unchanged.
QString SaveTableToFile(Table &table, const QString &path);

} // namespace kdr
