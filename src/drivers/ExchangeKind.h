#pragma once
// One kind of exchange with an instrument (a polled request, a stream that
// is listened to, a handshake, ...), described by one object: how it runs
// on the line, whether identical reads may share it, whether and how a
// probe tries it and recognises its frames, and what the models page says
// of it. The engine (Exchanges.h), sharing (SharedReads.h), the probe
// (ProbeModels.h) and the models page ask a recipe's kind and nothing else;
// a new kind is one file that defines one of these.
#include "drivers/InstrumentModel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCoro/QCoroTask>
#include <QStringList>
#include <QVariant>
#include <chrono>
#include <optional>

namespace quorvex {

class LineExchange;

// How a probe tries a recipe.
struct ProbeTry {
    QByteArray request; // written for a reading; empty: the instrument transmits, it is listened to
    QByteArray afterReading; // written once the bytes are in (a stream's stop), if anything
    int replyLength = 0; // bytes awaited
    // Its replies carry a CRC, so noise is never taken for one: at each
    // line setting it is tried before any request without one.
    bool crcChecked = false;
    // Characters of silence its frame needs before it (Modbus RTU: 3.5),
    // so the instrument does not read it as the tail of what came before.
    double quietCharacters = 0;
};

// What the models page says of a recipe.
struct PageWords {
    QString exchange; // what it writes, awaits and gives
    QStringList limits; // what can go wrong that a reader should know
    bool ownNumberFormat = false; // gives a number read by the kind itself, not by the recipe's parser
};

struct ExchangeKind {
    // Runs the recipe on an exchange that holds the line's turn. parametri:
    // what the caller passed (a service command's choice).
    QCoro::Task<QVariant> (*run)(LineExchange &line, const Recipe &recipe, const QString &parametri) = nullptr;
    // Gives a service text, not a reading: the empty text on silence and
    // when the line's turn does not come.
    bool givesText = false;
    // An identical read queued on the same port may join the exchange and
    // take its result. A recipe that acts on its instrument never shares,
    // whatever its kind.
    bool sharesIdenticalReads = false;
    // How a probe tries the recipe; no function, or nullopt: a probe never
    // sends it. A recipe that acts on its instrument is never tried.
    std::optional<ProbeTry> (*probeTry)(const Recipe &recipe) = nullptr;
    // The reading in bytes heard after the probe's request (or while
    // listening); nullopt when they hold no whole, valid frame of the recipe.
    std::optional<double> (*probeReading)(const Recipe &recipe, QByteArrayView bytes) = nullptr;
    // Its words on the models page.
    PageWords (*pageWords)(const Recipe &recipe) = nullptr;
};

// Bytes heard after a request that begin with the request itself are the
// line's echo, never a reply.
bool isEcho(QByteArrayView heard, QByteArrayView request);

// Words the kinds' page texts share.
// Bytes as text, control characters by their names: "XB<CR>".
QString pageBytes(QByteArrayView bytes);
// What a fallback gives: "reads 0".
QString pageFallback(Fallback fallback);
// "2 s".
QString pageSeconds(std::chrono::milliseconds t);
// Adds the limit of a recipe whose silent instrument reads 0, if it does.
void noteSilentZero(const Recipe &recipe, QStringList &limits);

} // namespace quorvex
