// kdrctl folder list: the reader list rows a load of a folder builds, as JSON.
#include "Command.h"

#include "store/ReaderRows.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace kdr;

namespace {

QJsonValue toJson(const Value &v)
{
    if (v.isNull()) return QJsonValue::Null;
    if (v.isInt()) return v.toInt();
    if (v.isBool()) return v.toBool();
    return v.toText();
}

int folderList(const QStringList &args)
{
    if (args.size() != 1) {
        kdrctl::err() << "usage: kdrctl folder list DIR\n";
        return 2;
    }
    const QString dir = args[0];
    if (!QDir(dir).exists()) {
        kdrctl::err() << "kdrctl: folder \"" << dir << "\" does not exist\n";
        return 1;
    }
    // Unlike the window's load, every file is tried: each unreadable one is reported on its own.
    ReaderList rows;
    CardTable scratchCards;
    ReaderList scratchList;
    int failures = 0;
    for (const QString &name : listVtdFiles(dir)) {
        const ReaderRowResult r = readReaderRow(dir, name, scratchCards, scratchList);
        if (!r.ok) {
            kdrctl::err() << "kdrctl: cannot read " << QDir(dir).filePath(name) << ": " << r.error.mid(name.size() + 2) << "\n";
            ++failures;
            continue;
        }
        appendReaderRow(rows, r.row);
    }
    QJsonArray out;
    for (int rec = 0; rec < rows.recordCount(); ++rec) {
        QJsonObject o;
        for (int f = 0; f < rows.fieldCount(); ++f) o[rows.fields()[f].name] = toJson(rows.value(rec, f));
        out.append(o);
    }
    kdrctl::out() << QJsonDocument(out).toJson(QJsonDocument::Indented);
    return failures ? 1 : 0;
}

int folder(const QStringList &args)
{
    if (!args.isEmpty() && args[0] == QLatin1String("list")) return folderList(args.mid(1));
    kdrctl::err() << "usage: kdrctl folder list DIR\n";
    return 2;
}

} // namespace

KDRCTL_COMMAND(folder, "folder", "  folder list DIR                    print the reader list rows of the *.vtd files in DIR as JSON", folder);
