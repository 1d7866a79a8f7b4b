#include "app/CommandRules.h"

namespace kdr {

bool commandEnabled(CommandRule rule, const CommandInputs &in)
{
    switch (rule) {
    case CommandRule::Always: return true;
    case CommandRule::Online: return in.online;
    case CommandRule::OnlineHlxBus: return in.online && in.bus9600;
    case CommandRule::HasCards: return in.cardRecords > 0;
    case CommandRule::HasCardsAndBackups: return in.cardRecords > 0 && in.backupsInInactiveFolder;
    }
    return false;
}

QHash<QString, bool> commandStates(const CommandInputs &in)
{
    QHash<QString, bool> out;
    for (const CommandRuleRow &row : kCommandRules) out.insert(QString::fromLatin1(row.button), commandEnabled(row.rule, in));
    return out;
}

CloseDecision decideClose(bool loadingFiles, qint64 loaderThreadId, bool downloadingFiles, qint64 downloadThreadId)
{
    if (loadingFiles) return {false, QStringLiteral("> Operation running! [th%1]").arg(loaderThreadId)};
    if (downloadingFiles) return {false, QStringLiteral("> Operation running! [th%1]").arg(downloadThreadId)};
    return {true, QString()};
}

} // namespace kdr
