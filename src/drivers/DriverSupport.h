#pragma once
// What every driver shares: the port it was given, the wait for a reply
// and letting other work run (conversions: FieldConversion.h).
#include "drivers/FieldConversion.h"
#include "serial/PortControl.h"

#include <QCoro/QCoroTask>
#include <chrono>

namespace quorvex {

// The port a driver was given; throws NotFound when there is none.
PortControl &requirePort(const PortRef &port);

// Suspends the caller once so that pending events (other clients' calls,
// timer ticks, window events) run, then resumes it.
QCoro::Task<> letEventsRun();

// Waits until at least n bytes are in the port's input buffer (true) or
// strictly more than timeout has passed on a monotonic clock (false). The
// count is looked at before the clock. Between looks it sleeps until bytes
// arrive or the deadline passes, so waiting costs no CPU, and other work of
// the process runs meanwhile. Port errors end the wait with their error.
QCoro::Task<bool> waitForBytes(PortControl &port, int n, std::chrono::milliseconds timeout);

} // namespace quorvex
