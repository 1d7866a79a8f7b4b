// kdrctl ports | scan | search: the port list, the interface scan and the reader search of the
// window, printing the same log lines.
#include "Command.h"

#include "bus/BusEngine.h"
#include "bus/QtSerialLink.h"
#include "store/Records.h"
#include "store/ScriptedPrompter.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

using namespace kdr;

namespace {

// Answers the program's questions from the command line and shows them on stderr.
class FlagPrompter : public Prompter {
public:
    explicit FlagPrompter(bool yes) : m_yes(yes) {}
    Btn message(DlgType, const QString &text, const BtnSet &buttons, const QStringList &) override
    {
        Btn answer = buttons.isEmpty() ? Btn::Ok : buttons.first();
        if (buttons.contains(Btn::Cancel) && !m_yes) answer = Btn::Cancel;
        kdrctl::err() << "kdrctl: " << text << (buttons.size() > 1 ? (answer == Btn::Cancel ? " -> Cancel" : " -> OK") : "")
                      << "\n";
        kdrctl::err().flush();
        return answer;
    }
    std::optional<QString> inputText(const QString &, const QString &prompt, const QString &) override
    {
        kdrctl::err() << "kdrctl: " << prompt << " -> Cancel\n";
        return std::nullopt;
    }
    FileDialogResult openFile(const FileDialogRequest &) override { return {}; }
    FileDialogResult saveFile(const FileDialogRequest &) override { return {}; }

private:
    bool m_yes;
};

struct Options {
    QString port;
    QString folder;
    bool yes = false;
    int waitMs = 3000;
};

bool parse(const QStringList &args, bool withFolder, Options *o, const char *usage)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--port") && i + 1 < args.size()) {
            o->port = args[++i];
        } else if (withFolder && a == QLatin1String("--folder") && i + 1 < args.size()) {
            o->folder = args[++i];
        } else if (withFolder && a == QLatin1String("--yes")) {
            o->yes = true;
        } else if (withFolder && a == QLatin1String("--wait") && i + 1 < args.size()) {
            bool ok = false;
            o->waitMs = args[++i].toInt(&ok);
            if (!ok || o->waitMs < 0) {
                kdrctl::err() << "kdrctl: --wait takes milliseconds\n";
                return false;
            }
        } else {
            kdrctl::err() << "kdrctl: unexpected argument \"" << a << "\"\n" << usage << "\n";
            return false;
        }
    }
    if (o->port.isEmpty()) {
        kdrctl::err() << usage << "\n";
        return false;
    }
    // The name goes into the port list as an entry of its own: the list's fixed entries, a ";"
    // (the separator of the extra ports) or blanks around it would make it some other entry.
    if (!BusEngine::isPortEntry(o->port) || o->port.trimmed() != o->port || o->port.contains(QLatin1Char(';'))) {
        kdrctl::err() << "kdrctl: \"" << o->port << "\" is not a port name\n";
        return false;
    }
    return true;
}

// The program folder is that of kdrctl unless --folder names the active folder itself.
struct Session {
    Workspace ws;
    FlagPrompter prompter;
    BusEngine engine;

    Session(const QString &programPath, bool yes)
        : ws(programPath), prompter(yes), engine(ws, [](QObject *p) { return new QtSerialLink(p); })
    {
        ws.setPrompter(&prompter);
        ws.settings.load(ws.settingsPath());
        ws.setActiveSubfolder(ws.settings.vtdFolderPath);
        QObject::connect(&ws.log, &Log::lineAppended, [](const QString &line) {
            kdrctl::out() << line << "\n";
            kdrctl::out().flush();
        });
    }

    // The port named on the command line, listed or not (a pseudo-terminal is never listed).
    bool selectPort(const QString &port)
    {
        const QString extra = ws.settings.extraPorts;
        ws.settings.extraPorts = extra.isEmpty() ? port : extra + QLatin1Char(';') + port;
        engine.cbPortDropDown();
        engine.cbPortSelect(port);
        return engine.selectedPort() == port;
    }

    bool runScan()
    {
        engine.btnScanPortClick();
        if (!engine.scanning()) return false; // refused before it began: nothing to wait for
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (engine.scanPortEnabled() && !engine.scanning()) loop.quit();
        });
        poll.start(20);
        loop.exec();
        return engine.interfaceFound();
    }
};

QString programPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/KDR02.x64"); }

int portsCmd(const QStringList &args)
{
    if (!args.isEmpty()) {
        kdrctl::err() << "usage: kdrctl ports\n";
        return 2;
    }
    Session s(programPath(), false);
    s.engine.cbPortDropDown();
    for (const QString &e : s.engine.portEntries()) kdrctl::out() << e << "\n";
    return 0;
}

int scanCmd(const QStringList &args)
{
    Options o;
    if (!parse(args, false, &o, "usage: kdrctl scan --port P")) return 2;
    Session s(programPath(), false);
    if (!s.selectPort(o.port)) return 1;
    // Exit 0: interface found; 1: none found or the port could not be used.
    return s.runScan() ? 0 : 1;
}

int searchCmd(const QStringList &args)
{
    Options o;
    if (!parse(args, true, &o, "usage: kdrctl search --port P [--folder DIR] [--yes] [--wait MS]")) return 2;
    QString program = programPath();
    if (!o.folder.isEmpty()) {
        const QDir d(o.folder);
        if (!d.exists()) {
            kdrctl::err() << "kdrctl: folder \"" << o.folder << "\" does not exist\n";
            return 2;
        }
        program = d.absoluteFilePath(QStringLiteral("KDR02.x64"));
    }
    Session s(program, o.yes);
    if (!o.folder.isEmpty()) s.ws.setActiveSubfolder(QString());

    // The reader list from the data files of the active folder.
    const QDir active(s.ws.activeFolderPath());
    for (const QString &name : active.entryList({QStringLiteral("*.vtd")}, QDir::Files, QDir::Name)) {
        QFile f(active.filePath(name));
        CardTable t;
        if (!f.open(QIODevice::ReadOnly) || !readVtd(f.readAll(), t).ok) {
            kdrctl::err() << "kdrctl: skipped unreadable data file " << name << "\n";
            continue;
        }
        s.ws.readers.appendFromCardTable(name, t);
    }
    if (s.ws.readers.recordCount() > 0) s.ws.readers.setCurrent(0);

    if (!s.selectPort(o.port) || !s.runScan()) return 1;
    s.engine.btnFindKDRClick();
    if (!s.engine.busOpen()) return 1;
    QEventLoop loop;
    QTimer::singleShot(o.waitMs, &loop, &QEventLoop::quit);
    loop.exec();

    int online = 0;
    for (int r = 0; r < s.ws.readers.recordCount(); ++r) {
        const QString status = s.ws.readers.storedValue(r, ReaderField::Status).toText();
        if (status == kStatusOnline) ++online;
        kdrctl::out() << s.ws.readers.storedValue(r, ReaderField::KDRSerial).toText() << "\t" << status << "\t"
                      << s.ws.readers.storedValue(r, ReaderField::VtdFileN).toText() << "\n";
    }
    // Exit 0: at least one reader online; 1: none answered.
    return online > 0 ? 0 : 1;
}

} // namespace

KDRCTL_COMMAND(ports, "ports", "  ports                     list the serial ports as the port list shows them", portsCmd);
KDRCTL_COMMAND(scan, "scan",
               "  scan --port P             look for the bus interface on port P (a name like ttyUSB0 or a path)",
               scanCmd);
KDRCTL_COMMAND(search, "search",
               "  search --port P [--folder DIR] [--yes] [--wait MS]\n"
               "                            scan P, then search the bus for readers; DIR holds the data files\n"
               "                            (default: kdrctl's folder), --yes adds new readers with a data file,\n"
               "                            --wait: how long to collect answers (default 3000 ms)",
               searchCmd);
