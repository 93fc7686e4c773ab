#pragma once
// Logging categories, one per subsystem, written to stderr (the journal
// under systemd). Warnings show by default, and information from config
// (one line per role at each load), health (an instrument answering again)
// and feed (the broker connection made and lost); more with
// QT_LOGGING_RULES, e.g. "quorvex.*.debug=true".
#include <QLoggingCategory>
#include <QStringList>

namespace quorvex {

Q_DECLARE_LOGGING_CATEGORY(lcServer) // quorvex.server: the server's start, reloads and end
Q_DECLARE_LOGGING_CATEGORY(lcConfig) // quorvex.config: what each configuration load made of the store
Q_DECLARE_LOGGING_CATEGORY(lcPort) // quorvex.port: devices that went away and came back
Q_DECLARE_LOGGING_CATEGORY(lcDbus) // quorvex.dbus: clients arriving and leaving
Q_DECLARE_LOGGING_CATEGORY(lcDriver) // quorvex.driver: readings that failed, waits for the line given up
Q_DECLARE_LOGGING_CATEGORY(lcHealth) // quorvex.health: instruments that stop answering and answer again
Q_DECLARE_LOGGING_CATEGORY(lcHistory) // quorvex.history: the coil record store
Q_DECLARE_LOGGING_CATEGORY(lcFeed) // quorvex.feed: the plant feed's broker connection

// A value for a log line: in double quotes, control characters (NUL among
// them) written as \xNN or \n, \r, \t, and cut after kLogValueLength
// characters with the count of those left out.
inline constexpr int kLogValueLength = 120;
QString quotedForLog(const QString &value);

// Writes every message to stderr in Qt's format (QT_MESSAGE_PATTERN,
// "category: message" by default), one line each: control characters in it
// are escaped, never cut the line. When stderr is the journal
// (JOURNAL_STREAM set) each line starts with its syslog priority, <7>
// debug, <6> info, <4> warning, <3> critical, <2> fatal.
void installLogHandler();

// While one lives, every warning (and worse) of a quorvex.* category is kept
// as its message text, and still written as always: what a configuration
// load said, to give back to whoever asked for the load. Collectors nest;
// one thread only.
class WarningCollector {
public:
    WarningCollector();
    ~WarningCollector();
    WarningCollector(const WarningCollector &) = delete;
    WarningCollector &operator=(const WarningCollector &) = delete;
    const QStringList &warnings() const { return m_warnings; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QStringList m_warnings;
    WarningCollector *m_outer;
};

} // namespace quorvex
