#pragma once
// A freshly downloaded program is saved as "_KDR02.x64"; its first start copies it over the
// installed program, starts that copy and ends.
#include <QString>

namespace kdr {

inline const QString kProgramFileName = QStringLiteral("KDR02.x64");
inline const QString kProgramVersion = QStringLiteral("3.0");

// True when `programPath` names a hand-over copy (its file name begins with "_").
bool isHandOverCopy(const QString &programPath);
// Copies the running file over kProgramFileName in its folder. Fails, changing nothing, when the
// target is in use ("Text file busy") or cannot be written. Returns the installed path or empty.
QString installHandOverCopy(const QString &programPath);
// The whole hand-over: install, then start the installed program detached. Returns true when
// the process should end without a window (always, for a hand-over copy).
bool runHandOver(const QString &programPath);

} // namespace kdr
