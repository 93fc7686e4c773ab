#pragma once
// Logging categories, one per subsystem, written to stderr (the journal
// under systemd). Warnings show by default, and information from config
// (one line per role at each load), health (an instrument answering again)
// and feed (the broker connection made and lost); more with
// QT_LOGGING_RULES, e.g. "quorvex.*.debug=true".
#include <QLoggingCategory>

namespace quorvex {

Q_DECLARE_LOGGING_CATEGORY(lcConfig)   // quorvex.config: what each configuration load made of the store
Q_DECLARE_LOGGING_CATEGORY(lcPort)     // quorvex.port: ports lost and reopened
Q_DECLARE_LOGGING_CATEGORY(lcDbus)     // quorvex.dbus: clients arriving and leaving
Q_DECLARE_LOGGING_CATEGORY(lcDriver)   // quorvex.driver: readings that failed, waits for the line given up
Q_DECLARE_LOGGING_CATEGORY(lcHealth)   // quorvex.health: instruments that stop answering and answer again
Q_DECLARE_LOGGING_CATEGORY(lcHistory)  // quorvex.history: the coil record store
Q_DECLARE_LOGGING_CATEGORY(lcFeed)     // quorvex.feed: the plant feed's broker connection

} // namespace quorvex
