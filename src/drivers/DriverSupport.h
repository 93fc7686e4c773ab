#pragma once
// What every driver shares: the port it was given, the wait for a reply
// and letting other work run (conversions: FieldConversion.h).
#include "drivers/FieldConversion.h"
#include "serial/PortControl.h"

#include <QCoro/QCoroTask>
#include <chrono>
#include <optional>

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

// A command whose answer is not awaited: text mode, discard, write, and
// discard again at once, so nothing it may already have answered is kept.
void sendWithoutWaiting(PortControl &port, const QByteArray &command);

// One request, one wait: sets the input mode, discards what was received
// (a late answer to an earlier request must not be taken for this one),
// writes the request, lets pending events run once, then waits for n bytes.
// Gives everything received (Input) when they came in time, else nothing.
QCoro::Task<std::optional<QVariant>> requestReply(PortControl &port, int inputMode, QByteArray request, int n,
                                                  std::chrono::milliseconds timeout);

} // namespace quorvex
