// kdrsim: a bus interface with KDR readers on a pseudo-terminal, for trying the program without
// hardware and for end-to-end tests through a real serial port path.
#include "kdrsim/PtyHost.h"
#include "kdrsim/SimBus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace kdr::sim;

namespace {

int fail(const QString &msg)
{
    std::fprintf(stderr, "kdrsim: %s\n", qPrintable(msg));
    return 2;
}

// "2.0.12" or "0x20C" / "20C" (hex, as the reader reports it).
std::optional<int> parseVersion(const QString &t)
{
    if (t.contains(QLatin1Char('.'))) {
        const QStringList p = t.split(QLatin1Char('.'));
        if (p.size() != 3) return std::nullopt;
        int v = 0;
        for (const QString &s : p) {
            bool ok = false;
            const int n = s.toInt(&ok);
            if (!ok || n < 0 || n > 15) return std::nullopt;
            v = (v << 4) | n;
        }
        return v;
    }
    QString h = t;
    if (h.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)) h = h.mid(2);
    bool ok = false;
    const int v = h.toInt(&ok, 16);
    if (!ok || v < 0 || v > 0xFFF) return std::nullopt;
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    // SIGINT/SIGTERM arrive through a signalfd watched by the event loop: block them first.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigprocmask(SIG_BLOCK, &sigs, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kdrsim"));

    QCommandLineParser cl;
    cl.setApplicationDescription(QStringLiteral(
        "Simulates a KDR bus interface with readers on a pseudo-terminal. The program opens the printed\n"
        "slave path (or the --pty-link path, listed in aExtraPorts of section ProgSett) like a serial port.\n"
        "The interface answers only at its own speed: 9600 baud for hlx/hlx5, 28800 baud with 2 stop\n"
        "bits for mbus. Stops cleanly on SIGINT or SIGTERM."));
    cl.addHelpOption();
    const QCommandLineOption busOpt(QStringLiteral("bus"),
                                    QStringLiteral("Interface: hlx (KIM3100, 9600 baud, 4-digit serial), hlx5 (KIM3110, "
                                                   "9600 baud, 5-digit serial) or mbus (KIM3121, 28800 baud). Default hlx."),
                                    QStringLiteral("kind"), QStringLiteral("hlx"));
    const QCommandLineOption ifSerialOpt(QStringLiteral("interface-serial"),
                                         QStringLiteral("Interface serial number, decimal (KIM3100 0-65535, KIM3110 65536-1048575)."),
                                         QStringLiteral("n"));
    const QCommandLineOption readerOpt(QStringLiteral("reader"),
                                       QStringLiteral("A reader on the bus: serial number (decimal), optionally :2000 or :4000 slots "
                                                      "and :version (2.0.12 or hex 20C). Repeatable. Example: 123456:4000:2.0.12"),
                                       QStringLiteral("serial[:slots][:version]"));
    const QCommandLineOption fileOpt(QStringLiteral("reader-file"),
                                     QStringLiteral("A reader whose start state (serial, version, slots, saved cards, parameters) "
                                                    "comes from a .vtd data file. Repeatable."),
                                     QStringLiteral("file.vtd"));
    const QCommandLineOption stateOpt(QStringLiteral("state"),
                                      QStringLiteral("JSON state of all readers (exact memory). Loaded at start when the file exists, "
                                                     "written back at a clean exit. Readers from --reader/--reader-file are added to it."),
                                      QStringLiteral("file.json"));
    const QCommandLineOption linkOpt(QStringLiteral("pty-link"),
                                     QStringLiteral("Create a symbolic link to the pseudo-terminal at this path (removed at exit)."),
                                     QStringLiteral("path"));
    const QCommandLineOption traceOpt(QStringLiteral("trace"),
                                      QStringLiteral("Print every telegram received and every line sent, with a time stamp, on stderr."));
    const QCommandLineOption paceOpt(QStringLiteral("pace"),
                                     QStringLiteral("Send answers no faster than the line speed (10 bits a byte at 9600, 11 at 28800)."));
    const QCommandLineOption latencyOpt(QStringLiteral("latency"),
                                        QStringLiteral("Answer latency in ms, for all requests (e.g. 20) or one kind (e.g. read=5). "
                                                       "Kinds: scan, init, search, page, subpage, read, write, version, count, reset, "
                                                       "unknown. Repeatable. Default 10."),
                                        QStringLiteral("[kind=]ms"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"),
                                      QStringLiteral("Switch a fault on: name=rate (0.0-1.0 or 25%) or name=count, optionally "
                                                     ",after=N (skip the first N occasions) and for delay ,ms=M. Names: nak.<kind>, drop, "
                                                     "garbage, dots, delay, novideo, nointerface, vanish, portlost. Repeatable. "
                                                     "Example: --fault nak.page=2 --fault drop=0.05 --fault vanish=1,after=40"),
                                      QStringLiteral("name=rate|count"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"), QStringLiteral("Seed of the fault generator (default 1): same seed, same faults."),
                                     QStringLiteral("n"), QStringLiteral("1"));
    cl.addOptions({busOpt, ifSerialOpt, readerOpt, fileOpt, stateOpt, linkOpt, traceOpt, paceOpt, latencyOpt, faultOpt, seedOpt});
    cl.process(app);
    if (!cl.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(cl.positionalArguments().first()));

    const QString busName = cl.value(busOpt).toLower();
    Model model;
    if (busName == QLatin1String("hlx")) model = Model::KIM3100;
    else if (busName == QLatin1String("hlx5")) model = Model::KIM3110;
    else if (busName == QLatin1String("mbus")) model = Model::KIM3121;
    else return fail(QStringLiteral("--bus must be hlx, hlx5 or mbus, not \"%1\"").arg(cl.value(busOpt)));

    Bus bus(model);
    QString err;
    bool ok = false;
    const quint32 seed = cl.value(seedOpt).toUInt(&ok);
    if (!ok) return fail(QStringLiteral("--seed needs a whole number"));
    bus.setSeed(seed);
    if (cl.isSet(ifSerialOpt)) {
        const quint32 s = cl.value(ifSerialOpt).toUInt(&ok);
        if (!ok || !bus.setInterfaceSerial(s, &err)) return fail(QStringLiteral("--interface-serial: %1").arg(ok ? err : QStringLiteral("not a number")));
    }

    const QString statePath = cl.value(stateOpt);
    if (!statePath.isEmpty() && QFileInfo::exists(statePath) && !bus.loadState(statePath, &err)) return fail(err);

    for (const QString &f : cl.values(fileOpt)) {
        auto r = Reader::fromVtd(f, &err);
        if (!r) return fail(err);
        bus.addReader(std::move(r));
    }
    for (const QString &readerArg : cl.values(readerOpt)) {
        const QStringList p = readerArg.split(QLatin1Char(':'));
        const quint32 serial = p[0].toUInt(&ok);
        if (!ok || serial == 0 || serial > 0xFFFFFF)
            return fail(QStringLiteral("--reader %1: the serial number must be 1 to 16777215").arg(readerArg));
        int nslots = 2000, version = 0x20C;
        if (p.size() > 1 && !p[1].isEmpty()) {
            nslots = p[1].toInt(&ok);
            if (!ok || (nslots != 2000 && nslots != 4000)) return fail(QStringLiteral("--reader %1: slots must be 2000 or 4000").arg(readerArg));
        }
        if (p.size() > 2) {
            const auto v = parseVersion(p[2]);
            if (!v) return fail(QStringLiteral("--reader %1: version must look like 2.0.12 or 20C").arg(readerArg));
            version = *v;
        }
        if (p.size() > 3) return fail(QStringLiteral("--reader %1: too many fields").arg(readerArg));
        bus.addReader(serial, nslots, version);
    }
    if (!isMBus(model))
        for (Reader *r : bus.readers())
            if (r->serial() > 0xFFFFF)
                return fail(QStringLiteral("reader %1 does not fit the 5 hex digits of an HLX:BUS serial (max 1048575)").arg(r->serial()));

    for (const QString &l : cl.values(latencyOpt)) {
        const int eq = int(l.indexOf(QLatin1Char('=')));
        const int ms = l.mid(eq + 1).toInt(&ok);
        if (!ok || ms < 0) return fail(QStringLiteral("--latency %1: milliseconds must be a whole number").arg(l));
        if (eq < 0) {
            bus.setLatency(ms);
        } else {
            const auto k = kindFromName(l.left(eq));
            if (!k) return fail(QStringLiteral("--latency %1: unknown request kind").arg(l));
            bus.setLatency(*k, ms);
        }
    }
    bus.setPacing(cl.isSet(paceOpt));
    for (const QString &f : cl.values(faultOpt))
        if (!bus.setFault(f, &err)) return fail(err);

    if (cl.isSet(traceOpt)) {
        QObject::connect(&bus, &Bus::traced, [](const TraceEntry &e) {
            const char *dir = e.dir == TraceEntry::In ? "<-" : e.dir == TraceEntry::Out ? "->" : "  ";
            std::fprintf(stderr, "%s %8lld %s %s\n", qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                         static_cast<long long>(e.ms), dir, qPrintable(e.text));
        });
    }

    PtyHost host(&bus, cl.value(linkOpt));
    if (!host.start(&err)) return fail(err);
    std::printf("kdrsim: %s at %d baud, %d reader(s)\n", qPrintable(modelName(model)), bus.baud(), int(bus.readers().size()));
    std::printf("pty: %s\n", qPrintable(host.slavePath()));
    if (cl.isSet(linkOpt)) std::printf("link: %s\n", qPrintable(cl.value(linkOpt)));
    std::fflush(stdout);
    QObject::connect(&host, &PtyHost::reopened, [](const QString &p) {
        std::printf("pty: %s\n", qPrintable(p));
        std::fflush(stdout);
    });
    int exitCode = 0;
    QObject::connect(&host, &PtyHost::failed, [&exitCode](const QString &e) {
        std::fprintf(stderr, "kdrsim: %s\n", qPrintable(e));
        exitCode = 1;
        QCoreApplication::quit();
    });

    const int sfd = signalfd(-1, &sigs, SFD_NONBLOCK | SFD_CLOEXEC);
    if (sfd < 0) return fail(QStringLiteral("signalfd failed"));
    QSocketNotifier sn(sfd, QSocketNotifier::Read);
    QObject::connect(&sn, &QSocketNotifier::activated, [sfd] {
        signalfd_siginfo si;
        while (::read(sfd, &si, sizeof si) == ssize_t(sizeof si)) {
        }
        QCoreApplication::quit();
    });

    app.exec();
    host.stop();
    ::close(sfd);
    if (!statePath.isEmpty() && !bus.saveState(statePath, &err)) {
        std::fprintf(stderr, "kdrsim: state not saved: %s\n", qPrintable(err));
        return 1;
    }
    std::printf("kdrsim: stopped\n");
    return exitCode;
}
