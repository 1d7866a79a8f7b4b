#include "store/ReaderRows.h"

#include "store/VtdFile.h"

#include <QDir>

namespace kdr {

QStringList listVtdFiles(const QString &folder)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists()) return {};
    // QDir name filters ignore letter case, so "X.VTD" is listed as well.
    return dir.entryList({QStringLiteral("*.vtd")}, QDir::Files, QDir::Name);
}

bool hasVtdExtension(const QString &name)
{
    return name.size() > 4 && name.endsWith(QLatin1String(".vtd"), Qt::CaseSensitive);
}

ReaderRowResult readReaderRow(const QString &folder, const QString &name, CardTable &scratchCards,
                              ReaderList &scratchList)
{
    ReaderRowResult out;
    QString path = folder;
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    path += name;
    // The row needs the reader values record only: the header and the first record.
    const VtdReadResult r = readVtdFile(path, scratchCards, 1);
    if (!r.ok) {
        out.error = QStringLiteral("%1: %2").arg(name, r.error);
        return out;
    }
    scratchList.disableControls();
    scratchList.clear();
    scratchList.appendFromCardTable(name, scratchCards);
    out.row.values.reserve(ReaderField::Version_calc);
    for (int f = 0; f < ReaderField::Version_calc; ++f) out.row.values.append(scratchList.storedValue(0, f));
    scratchList.clear();
    scratchList.enableControls();
    out.ok = true;
    return out;
}

ReaderRowResult readReaderRow(const QString &folder, const QString &name)
{
    CardTable cards;
    ReaderList list;
    return readReaderRow(folder, name, cards, list);
}

int appendReaderRow(ReaderList &list, const ReaderRowData &row)
{
    const int r = list.appendRecord();
    for (int f = 0; f < row.values.size() && f < ReaderField::Version_calc; ++f) list.setValue(r, f, row.values[f]);
    return r;
}

} // namespace kdr
