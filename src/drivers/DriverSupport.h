#pragma once
// What the engines share besides the line itself: letting other work run
// between writing a request and waiting for its reply.
#include <QCoro/QCoroTask>

namespace quorvex {

// Suspends the caller once so that pending events (other clients' calls,
// timer ticks, window events) run, then resumes it.
QCoro::Task<> letEventsRun();

} // namespace quorvex
