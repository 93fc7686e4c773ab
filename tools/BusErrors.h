#pragma once
// What the client says when a call fails. The usual failures that come from
// the bus rather than from the server (no server running, a server the bus
// could not start, no answer in time, no session bus at all) are said in
// words with what to do; the server's own errors keep their error name.
// With --verbose the raw D-Bus error follows on a line of its own.
#include <QDBusMessage>
#include <QString>

namespace quorvex::cli {

// --verbose: every failure also shows the raw D-Bus error.
void setVerboseErrors(bool verbose);

// The lines (each "quorvex: ...", joined by '\n') for a call that failed
// with this error; timeoutMs is how long the client waited for the answer.
// context, when given, says what did not happen: "the server did not reload".
QString callFailure(const QString &errorName, const QString &errorMessage, int timeoutMs,
                    const QString &context = QString());
QString callFailure(const QDBusMessage &reply, int timeoutMs, const QString &context = QString());

// For a command that looks but never starts the server (ports, monitor):
// no server runs, and how one starts.
QString noServerRunning();

// No session bus could be reached. address: DBUS_SESSION_BUS_ADDRESS (empty
// when unset); uid: this user's id; busSocketExists: whether the user's bus
// socket, /run/user/UID/bus, is there.
QString noSessionBus(const QString &address, const QDBusError &error, unsigned uid, bool busSocketExists);

} // namespace quorvex::cli
