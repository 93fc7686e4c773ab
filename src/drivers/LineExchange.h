#pragma once
// One exchange with an instrument, as one object: the port, the line's turn
// and the reply deadline. The engines talk to the line only through it:
// discard, send, wait for n bytes or the deadline, take the bytes.
//
// The turn is waited for at most the recipe's time-out; an exchange that does
// not get it ends as its recipe ends on silence without touching the line. An
// exchange that gets it has its full time-out from the moment its request
// is written (send), or, for a stream that is only listened to, from
// restartClock(). When it ends it tells the port how the instrument
// answered (PortControl::Health): one warning when the instrument stops
// answering, one info line when it answers again, and the time of its last
// request and reply beside their time on the wire.
//
// A probe's try is an exchange too, with bounds of its own and no word to
// the port's health: its silence says nothing of the instrument configured
// there.
#include "drivers/InstrumentModel.h"
#include "serial/PortControl.h"

#include <QByteArrayView>
#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QVariant>
#include <optional>

namespace quorvex {

class LineExchange {
public:
    // role: who asked ("Bilancia"), for the health messages; empty for a
    // call that named its port itself.
    LineExchange(PortControl &port, const Recipe &recipe, QString role);
    // A probe's try: the turn waited for at most turnWait at each begin(),
    // each reply at most replyWait.
    LineExchange(PortControl &port, std::chrono::milliseconds turnWait, std::chrono::milliseconds replyWait);
    ~LineExchange();
    LineExchange(const LineExchange &) = delete;
    LineExchange &operator=(const LineExchange &) = delete;

    // Waits for the line's turn at most the row's time-out; false when it
    // did not come (nothing was touched). Then opens the port again if its
    // device came back (see PortControl::ensureOpen); throws its error if not.
    QCoro::Task<bool> begin();

    // Puts the port at these line settings for this exchange only: they are
    // undone, and whatever came in dropped, before the turn goes. False
    // when the device refuses them.
    bool useSettings(const QString &settings);

    // Drops whatever was received: a late answer to an earlier request must
    // not be taken for this one.
    void discard();
    // Writes the bytes and starts the reply clock.
    void send(QByteArrayView bytes);
    // Starts the reply clock without writing (a stream that is listened to).
    void restartClock();
    // Until at least n bytes are in (true) or the deadline has passed (false).
    QCoro::Task<bool> waitFor(int n);
    // Everything received, as bytes; the port's buffer is empty afterwards.
    QByteArray take();
    // Until nothing has been written or received for the given time (a
    // silence between frames); it does not count against the reply clock.
    QCoro::Task<> quietFor(std::chrono::microseconds silence);
    // Until nothing has been written or received for quiet, bytes that keep
    // coming waited out for at most limit; then drops what came. For a
    // frame that must not follow other bytes too closely.
    QCoro::Task<> waitForQuietLine(std::chrono::milliseconds quiet, std::chrono::milliseconds limit);
    // The instrument answered, but not with a reading: the port's last
    // error, so Diagnostics tells why the reading was 0.
    void problem(const QString &why);
    PortControl &port() { return m_port; }

    // Why the exchange gave no reading, when it gave none: an engine that
    // falls back for a reason of its own says it here; a wait that ran out
    // says "no answer within N ms" by itself. The first reason stays.
    void fail(const QString &why);
    QString problem() const { return m_problem; }

private:
    QString who() const;
    void tellHealth();

    PortControl &m_port;
    const Recipe *m_recipe = nullptr; // none for a probe's try
    std::chrono::milliseconds m_turnWait;
    std::chrono::milliseconds m_replyWait;
    QString m_role;
    std::optional<QString> m_ownSettings; // the port's settings while a probe's are in use
    LineTurn::Holder m_line;
    QDeadlineTimer m_deadline;
    bool m_heard = false; // some wait got its bytes
    bool m_silent = false; // some wait ran out
    QString m_problem;
    QString m_badAnswer; // the last answer that was not a reading, if any
    // The last request and its reply, timed for the port's health.
    QElapsedTimer m_requestClock; // started when a request is written
    qsizetype m_requestBytes = 0;
    qsizetype m_replyBytes = 0;
    qint64 m_replyCompleteNs = -1;
};

// Waits until at least n bytes are in the port's input buffer (true) or
// strictly more than timeout has passed on a monotonic clock (false). The
// count is looked at before the clock. Between looks it sleeps until bytes
// arrive or the deadline passes, so waiting costs no CPU, and other work of
// the process runs meanwhile. Port errors end the wait with their error.
QCoro::Task<bool> waitForBytes(PortControl &port, int n, std::chrono::milliseconds timeout);

// What a row gives for kind: 0.0, the 16-bit 0, the empty reading, or the
// type-mismatch error (thrown).
QVariant fallbackValue(Fallback kind);
// The row's value in a reply (its parser; without one, 0).
QVariant parsedValue(const Recipe &recipe, QByteArrayView reply);

} // namespace quorvex
