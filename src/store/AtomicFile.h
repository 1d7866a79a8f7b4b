#pragma once
// Replaces a file so that it is either the old content or the new one, never a torn mix: the data
// goes to a temporary file in the same folder, is flushed to disk and then renamed over the target.
#include <QByteArray>
#include <QString>

namespace kdr {
// Returns an empty string on success, otherwise the reason in plain words. On failure the previous
// file is untouched and no temporary file is left behind.
QString writeFileAtomically(const QString &path, const QByteArray &data);
// The temporary name a save of `fileName` uses: "." + fileName + "." + six characters.
bool isAtomicTempFor(const QString &tempName, const QString &fileName);
// Whether a name has the shape of such a temporary file.
bool isAtomicTempName(const QString &name);
} // namespace kdr
