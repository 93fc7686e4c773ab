#pragma once
// Identical reads share one exchange. A read (same row, same port, same
// parameters) that arrives while an identical one is queued for the line
// and has not started joins it and gets its result, or its error. Nothing
// joins an exchange that has started, so every answer comes from a request
// written after the call arrived. Only rows that merely read take part
// (sharesIdenticalReads): their kind of exchange allows it, and commands
// that act on the instrument never merge.
#include "drivers/InstrumentModel.h"

#include <QCoro/QCoroTask>
#include <QVariant>
#include <exception>
#include <memory>

namespace quorvex {

class PortControl;

bool sharesIdenticalReads(const Recipe &recipe);

class SharedRead {
public:
    struct State;

    // Registers a read about to queue for the line, for others to join.
    SharedRead(const PortControl &port, const Recipe &recipe, const QString &parametri);
    // Ends its joiners with an error if it never ended itself.
    ~SharedRead();
    SharedRead(const SharedRead &) = delete;
    SharedRead &operator=(const SharedRead &) = delete;

    // The read has its turn (or gave up waiting for it): nobody joins now.
    void closeToJoiners();
    // Hands the result, or the error, to every joiner.
    void finish(const QVariant &value, const QString &problem = {});
    void fail(std::exception_ptr error);

    // The identical read queued and not started, if any.
    static std::shared_ptr<State> queued(const PortControl &port, const Recipe &recipe, const QString &parametri);
    // Waits for the result of a queued read; problem gets its reason.
    static QCoro::Task<QVariant> join(std::shared_ptr<State> state, QString *problem);

private:
    void end();

    std::shared_ptr<State> m_state;
};

} // namespace quorvex
