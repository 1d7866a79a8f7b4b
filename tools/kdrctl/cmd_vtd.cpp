// kdrctl vtd new|dump: create an empty reader data file, or show one as JSON.
#include "Command.h"

#include "store/Records.h"
#include "store/VtdFile.h"

#include <QFile>
#include <optional>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace kdr;

namespace {

int vtdNew(const QStringList &args)
{
    QString file;
    int slotCount = kSlots2000;
    std::optional<qint32> serial;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--serial") && i + 1 < args.size()) {
            bool ok = false;
            const qint32 v = args[++i].toInt(&ok);
            if (!ok || v < 0) {
                kdrctl::err() << "kdrctl: --serial must be a decimal reader serial number\n";
                return 2;
            }
            serial = v;
            continue;
        }
        if (args[i] == QLatin1String("--slots") && i + 1 < args.size()) {
            slotCount = args[++i].toInt();
            if (slotCount != kSlots2000 && slotCount != kSlots4000) {
                kdrctl::err() << "kdrctl: --slots must be 2000 or 4000\n";
                return 2;
            }
        } else if (file.isEmpty() && !args[i].startsWith(QLatin1String("--"))) {
            file = args[i];
        } else {
            kdrctl::err() << "kdrctl: unexpected argument \"" << args[i] << "\"\n";
            return 2;
        }
    }
    if (file.isEmpty()) {
        kdrctl::err() << "usage: kdrctl vtd new FILE [--slots 2000|4000] [--serial N]\n";
        return 2;
    }
    CardTable cards;
    cards.resetToSlots(slotCount);
    if (serial) cards.setValue(0, CardField::KDRSerial, Value(*serial));
    const QString error = SaveTableToFile(cards, file);
    if (!error.isEmpty()) {
        kdrctl::err() << "kdrctl: " << error << "\n";
        return 1;
    }
    return 0;
}

QJsonValue toJson(const Value &v)
{
    if (v.isNull()) return QJsonValue::Null;
    if (v.isInt()) return v.toInt();
    if (v.isBool()) return v.toBool();
    return v.toText();
}

int vtdDump(const QStringList &args)
{
    if (args.size() != 1) {
        kdrctl::err() << "usage: kdrctl vtd dump FILE\n";
        return 2;
    }
    QFile f(args[0]);
    if (!f.open(QIODevice::ReadOnly)) {
        kdrctl::err() << "kdrctl: cannot open \"" << args[0] << "\": " << f.errorString() << "\n";
        return 1;
    }
    const QByteArray data = f.readAll();
    // Show the file as it is: a table with the file's own definitions.
    const VtdReadResult header = readVtdHeader(data);
    Table table(header.headerRead ? fieldsForDefinitions(header.definitions) : QList<FieldDef>{});
    const VtdReadResult r = readVtd(data, table);

    QJsonObject doc;
    doc[QStringLiteral("file")] = args[0];
    doc[QStringLiteral("ok")] = r.ok;
    if (!r.ok) doc[QStringLiteral("error")] = r.error;
    if (r.headerRead) {
        doc[QStringLiteral("version")] = r.version;
        QJsonArray defs;
        for (const VtdFieldDef &d : r.definitions)
            defs.append(QJsonObject{{QStringLiteral("name"), d.name}, {QStringLiteral("type"), d.dataType},
                                    {QStringLiteral("size"), d.size}, {QStringLiteral("precision"), d.precision}});
        doc[QStringLiteral("definitions")] = defs;
        doc[QStringLiteral("recordCount")] = r.recordCount;
    }
    QJsonArray records;
    for (int rec = 0; rec < table.recordCount(); ++rec) {
        QJsonObject o;
        for (int fi = 0; fi < table.fieldCount(); ++fi) o[table.fields()[fi].name] = toJson(table.storedValue(rec, fi));
        records.append(o);
    }
    doc[QStringLiteral("recordsRead")] = table.recordCount();
    doc[QStringLiteral("records")] = records;
    kdrctl::out() << QJsonDocument(doc).toJson(QJsonDocument::Indented);
    if (!r.ok) {
        kdrctl::err() << "kdrctl: " << args[0] << ": " << r.error << "\n";
        return 1;
    }
    return 0;
}

int vtd(const QStringList &args)
{
    if (args.isEmpty()) {
        kdrctl::err() << "usage: kdrctl vtd new FILE [--slots 2000|4000] | kdrctl vtd dump FILE\n";
        return 2;
    }
    if (args[0] == QLatin1String("new")) return vtdNew(args.mid(1));
    if (args[0] == QLatin1String("dump")) return vtdDump(args.mid(1));
    kdrctl::err() << "kdrctl: unknown vtd command \"" << args[0] << "\"\n";
    return 2;
}

} // namespace

KDRCTL_COMMAND(vtd, "vtd", "  vtd new FILE [--slots 2000|4000] [--serial N]\n"
                           "                                     write an empty reader data file\n"
                           "  vtd dump FILE                      print a data file as JSON (NULL as null)", vtd);
