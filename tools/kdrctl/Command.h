#pragma once
// kdrctl sub-commands register themselves here; each lives in its own cmd_*.cpp file.
#include <QStringList>
#include <QTextStream>

namespace kdrctl {

struct Command {
    const char *name;   // first word on the command line, e.g. "vtd"
    const char *usage;  // one or more lines for --help
    int (*run)(const QStringList &args); // args after the name; returns the exit code
};

void registerCommand(const Command &c);
QTextStream &out();
QTextStream &err();

struct Registrar {
    explicit Registrar(const Command &c) { registerCommand(c); }
};

} // namespace kdrctl

#define KDRCTL_COMMAND(id, name, usage, fn) static ::kdrctl::Registrar kdrctl_reg_##id({name, usage, fn})
