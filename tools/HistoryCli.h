#pragma once
// The client's coil record commands: `coils`, `coil ID` and `history`,
// read through com.velkaro.Quorvex.History. Human output (local time, the
// locale's numbers) or CSV (a header, ISO 8601 UTC times, "." decimals).
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <optional>

namespace quorvex::cli {

struct HistoryRequest {
    enum class Command { Coils, Coil, Show };
    Command command = Command::Coils;
    qint64 sinceUs = 0;
    qint64 untilUs = 0;
    quint32 limit = 0;
    qint64 id = 0;
    bool csv = false;
};

// The words after the program name, when the first is a history command;
// nullopt when it is not. Throws UsageError.
std::optional<HistoryRequest> parseHistoryCommand(const QStringList &arguments);

// A time on the command line: "today", "yesterday", an ISO 8601 date or
// date and time (local time unless it names its zone). Microseconds since
// 1970 UTC. Throws UsageError.
qint64 parseWhen(const QString &text);

// The reply of Coils as text, and of Profile.
QString formatCoils(const QDBusMessage &reply, bool csv);
QString formatProfile(const QDBusMessage &reply, bool csv);

// Runs the command; the exit status.
int runHistory(QDBusConnection &bus, const HistoryRequest &request, int timeoutMs);

} // namespace quorvex::cli
