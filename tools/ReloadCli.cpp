#include "ReloadCli.h"

#include "Output.h"

namespace quorvex::cli {

void readNoArguments(Request &, const QStringList &words)
{
    if (words.size() > 1)
        throw UsageError(QStringLiteral("%1 takes no arguments").arg(words.first()));
}

int printReloadWarnings(const Request &, const QDBusMessage &reply)
{
    const QStringList warnings = reply.arguments().value(0).toStringList();
    for (const QString &warning : warnings)
        writeLine(stderr, QStringLiteral("quorvex: reload: ") + warning);
    return warnings.isEmpty() ? kExitOk : kExitLoadWarnings;
}

} // namespace quorvex::cli
