#pragma once
// What every driver shares: the port it was given, the wait for a reply,
// letting other work run, the locale's decimal separator and the
// conversion of a reply field to a number.
#include "server/Device.h"

#include <QCoro/QCoroTask>
#include <QString>
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

// The second character of 9.9 formatted under the current locale.
QChar localeDecimalSeparator();

// Replaces every `mark` in field by the locale's decimal separator and
// converts the text under the locale; blanks around the number and a
// leading sign are accepted. Throws the type-mismatch error otherwise.
double convertField(QString field, QChar mark);

// Converts text under the locale without touching any mark.
double convertLocaleNumber(const QString &text);

// Characters first..first+count-1 (1-based) of text, fewer when it ends first.
QString mid1(const QString &text, int first, int count);

} // namespace quorvex
