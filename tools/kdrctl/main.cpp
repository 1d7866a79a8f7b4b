// kdrctl: the command-line companion of the KDR02 programmer, on the same core as the window.
#include "Command.h"

#include <QCoreApplication>
#include <QList>

namespace kdrctl {

static QList<Command> &commands()
{
    static QList<Command> list;
    return list;
}

void registerCommand(const Command &c) { commands().append(c); }

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

static void usage(QTextStream &s)
{
    s << "usage: kdrctl COMMAND [ARGS]\n\ncommands:\n";
    QList<Command> sorted = commands();
    std::sort(sorted.begin(), sorted.end(), [](const Command &a, const Command &b) { return qstrcmp(a.name, b.name) < 0; });
    for (const Command &c : sorted) s << c.usage << "\n";
    s.flush();
}

} // namespace kdrctl

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        kdrctl::usage(args.isEmpty() ? kdrctl::err() : kdrctl::out());
        return args.isEmpty() ? 2 : 0;
    }
    const QString name = args.takeFirst();
    for (const kdrctl::Command &c : kdrctl::commands())
        if (name == QLatin1String(c.name)) {
            const int rc = c.run(args);
            kdrctl::out().flush();
            kdrctl::err().flush();
            return rc;
        }
    kdrctl::err() << "kdrctl: unknown command \"" << name << "\"\n";
    kdrctl::usage(kdrctl::err());
    return 2;
}
