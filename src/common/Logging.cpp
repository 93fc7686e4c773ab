#include "common/Logging.h"

namespace quorvex {

// The configuration's line per role is information an integrator needs at
// every start, and an instrument answering again after it fell silent is
// news an operator waits for, so both show by default; everything else only
// from warnings up.
Q_LOGGING_CATEGORY(lcConfig, "quorvex.config", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHealth, "quorvex.health", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPort, "quorvex.port", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDbus, "quorvex.dbus", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDriver, "quorvex.driver", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHistory, "quorvex.history", QtWarningMsg)
// Connecting to and losing the plant's broker is worth a line by default.
Q_LOGGING_CATEGORY(lcFeed, "quorvex.feed", QtInfoMsg)

} // namespace quorvex
