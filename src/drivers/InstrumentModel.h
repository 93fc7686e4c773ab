#pragma once
// One row per operation of an instrument model: what is written, what is
// awaited, where the value stands in the reply and how it is read. The rows
// are plain data; one engine per kind of exchange runs them (Exchanges.h).
// Adding a model of a protocol family that exists is one row in
// InstrumentModels.cpp.
#include <QString>
#include <chrono>
#include <span>

namespace quorvex {

struct InstrumentModel;

// How an exchange runs.
enum class Exchange {
    Request,           // write the request once, wait once for the reply
    RequestUntilValid, // request again while the reply fails its check, `attempts` times at most
    Command,           // write and do not wait: whatever comes back is dropped
    StreamWindow,      // nothing written: look for the marker in windows of the stream
    Ps11Stream,        // start the stream, collect a whole frame, stop the stream
    Handshake,         // enquiry, acknowledgement, then the command frame (a service text)
};

// What an exchange gives when the instrument stays silent, or when a stream
// shows no marker in any window.
enum class Fallback {
    Zero,         // the reading 0.0
    WholeZero,    // the 16-bit integer 0
    Empty,        // the empty reading
    TypeMismatch, // the type-mismatch error, so a direct caller can tell silence from a reading
};

// The value in a reply (Latin-1, one character a byte). Throws the driver's
// error (type mismatch, invalid argument, overflow) when it does not read.
using ReplyParser = double (*)(const QString &reply, const InstrumentModel &model);
// Whether a reply is whole and valid, for RequestUntilValid.
using ReplyCheck = bool (*)(const QString &reply);

struct InstrumentModel {
    const char *operation;             // the generic operation served: "LeggiPeso"
    const char *brand;                 // Marca as configured: "BILANCIAI"
    const char *model;                 // Modello as configured: "D400"
    Exchange exchange;                 // the engine that runs it
    const char *request = "";          // bytes written (the command, for Command)
    int replyLength = 0;               // characters awaited; for a stream, one window
    // The wait for the line's turn at most, and then each wait for a reply,
    // counted from the moment the request is written (for a stream, from
    // the start of each window).
    std::chrono::milliseconds timeout{2000};
    int attempts = 1;                  // requests or stream windows at most
    char marker = 0;                   // stream: the character that marks a known place
    int fieldStart = 1;                // 1-based; for a stream, characters after the marker
    int fieldLength = 0;               // characters of the value
    char decimalMark = '.';            // the instrument's decimal mark; 0: "." groups digits
    ReplyParser parse = nullptr;       // the value in the reply; none: the result is 0
    ReplyCheck check = nullptr;        // RequestUntilValid: the reply's check
    Fallback onSilence = Fallback::Zero;
    Fallback onNoMarker = Fallback::Zero; // stream: no marker in any window
    bool actsOnInstrument = false;     // a command (zeroing): never shares an exchange with another call
};

// Every row of the table.
std::span<const InstrumentModel> instrumentModels();

// The driver operation's name: operation, brand and model joined by "_".
QString driverName(const InstrumentModel &model);

// The row whose driver name is operation + "_" + brand + "_" + model,
// compared without regard to case; null when there is none.
const InstrumentModel *findInstrumentModel(const QString &operation, const QString &brand, const QString &model);
const InstrumentModel *findInstrumentModel(const QString &driverName);

// Row parsers shared by several families.
// Characters fieldStart.. of the reply, the model's decimal mark replaced by
// the locale's.
double parseFixedField(const QString &reply, const InstrumentModel &model);

} // namespace quorvex
