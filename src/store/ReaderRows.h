#pragma once
// Building reader list rows from the data files of a folder. Used by the background load, the
// folder watch and kdrctl; touches no shared table.
#include "store/Records.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace kdr {

// The stored fields of one reader list row (calculated fields excluded).
struct ReaderRowData {
    QList<Value> values; // indexed by ReaderField, up to ReaderField::Version_calc
};

struct ReaderRowResult {
    bool ok = false;
    QString error; // plain words, naming the file
    ReaderRowData row;
};

// The names (without folder) of the "*.vtd" files of a folder, any letter case, in name order.
// Empty when the folder is missing or cannot be read.
QStringList listVtdFiles(const QString &folder);

// The extension the folder watch and the file commands use: exactly ".vtd".
bool hasVtdExtension(const QString &name);

// Reads the header and the reader values record of `folder` + `name` into a row.
// `scratchCards` and `scratchList` are working tables owned by the caller (reused between files).
ReaderRowResult readReaderRow(const QString &folder, const QString &name, CardTable &scratchCards,
                              ReaderList &scratchList);
ReaderRowResult readReaderRow(const QString &folder, const QString &name);

// Appends a row to the reader list; returns its index.
int appendReaderRow(ReaderList &list, const ReaderRowData &row);

} // namespace kdr

Q_DECLARE_METATYPE(kdr::ReaderRowData)
