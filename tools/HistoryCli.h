#pragma once
// The client's coil record commands: `coils`, `coil ID` and `history`,
// read through com.velkaro.Quorvex.History. Human output (local time, the
// locale's numbers) or CSV (a header, ISO 8601 UTC times, "." decimals).
#include "Cli.h"

#include <QDBusMessage>
#include <QStringList>

namespace quorvex::cli {

// The words of a history command, its name first. Throws UsageError.
bool readHistoryWords(Request &request, const QStringList &words);

// A time on the command line: "today", "yesterday", an ISO 8601 date or
// date and time (local time unless it names its zone). Microseconds since
// 1970 UTC. Throws UsageError.
qint64 parseWhen(const QString &text);

// The arguments of Coils and of Profile.
QVariantList coilsArguments(const Request &request);
QVariantList profileArguments(const Request &request);

// The reply of Coils as text, and of Profile.
QString formatCoils(const QDBusMessage &reply, bool csv);
QString formatProfile(const QDBusMessage &reply, bool csv);

// Print them on stdout; the exit status.
int printCoils(const Request &request, const QDBusMessage &reply);
int printProfile(const Request &request, const QDBusMessage &reply);

} // namespace quorvex::cli
