#pragma once
// The instrument models: one row per model (brand, model, the line settings
// it is usually found at, its operations), and for each operation a recipe:
// what is written, what is awaited, where the value stands in the reply and
// how it is read. The recipes are plain data; each names its kind of
// exchange (ExchangeKind.h), which runs it. Adding a model of a protocol
// family that exists is one row in InstrumentModels.cpp; a model defined in
// a file (InstrumentDefinitions.h) is a row of the same kind.
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <chrono>
#include <span>
#include <vector>

namespace quorvex {

struct Recipe;
struct DefinedOperation;
struct ExchangeKind;

// Operations one built-in model serves at most.
inline constexpr int kMaxOperationsPerModel = 4;

// What an exchange gives when the instrument stays silent, or when a stream
// shows no marker in any window.
enum class Fallback {
    Zero, // the reading 0.0
    WholeZero, // the 16-bit integer 0
    Empty, // the empty reading
    TypeMismatch, // the type-mismatch error, so a direct caller can tell silence from a reading
};

// The value in a reply, as the bytes read from the port. Throws the
// driver's error (type mismatch, invalid argument, overflow) when it does
// not read.
using ReplyParser = double (*)(QByteArrayView reply, const Recipe &recipe);
// Whether a reply is whole and valid, for a request asked again until valid.
using ReplyCheck = bool (*)(QByteArrayView reply);

struct Recipe {
    const char *operation = nullptr; // the generic operation served: "LeggiPeso"
    const char *brand = ""; // Marca as configured: "BILANCIAI"
    const char *model = ""; // Modello as configured: "D400"
    const ExchangeKind *exchange = nullptr; // its kind of exchange; every recipe names one
    const char *request = ""; // bytes written (for a command, the command)
    int replyLength = 0; // characters awaited; for a stream, one window
    // The wait for the line's turn at most, and then each wait for a reply,
    // counted from the moment the request is written (for a stream, from
    // the start of each window).
    std::chrono::milliseconds timeout{2000};
    int attempts = 1; // requests or stream windows at most
    char marker = 0; // stream: the character that marks a known place
    int fieldStart = 1; // 1-based; for a stream, characters after the marker
    int fieldLength = 0; // characters of the value
    char decimalMark = '.'; // the instrument's decimal mark; 0: "." groups digits
    ReplyParser parse = nullptr; // the value in the reply; none: the result is 0
    ReplyCheck check = nullptr; // a request asked again until valid: the reply's check
    Fallback onSilence = Fallback::Zero;
    Fallback onNoMarker = Fallback::Zero; // stream: no marker in any window
    bool actsOnInstrument = false; // a command (zeroing): never shares an exchange with another call
    const DefinedOperation *defined = nullptr; // a defined model's recipe: the definition's settings
};

// One model: who makes it, its name, where it is usually found and what it serves.
struct InstrumentModel {
    QString brand;
    QString model;
    QString settings; // usual line settings, "9600,N,8,1"
    QString source; // the definition file; empty for a built-in model
    std::vector<const Recipe *> operations;

    QStringList operationNames() const;
};

// Every recipe of the built-in models.
std::span<const Recipe> builtInRecipes();
// The built-in models, one row each.
std::span<const InstrumentModel> builtInModels();

// The driver operation's name: operation, brand and model joined by "_".
QString driverName(const Recipe &recipe);

// The built-in recipe of that driver name (the interface's direct driver
// operations bind to these); null when there is none.
const Recipe *findRecipe(const QString &driverName);

// Row parsers shared by several families.
// Bytes fieldStart.. of the reply, the model's decimal mark replaced by the
// locale's.
double parseFixedField(QByteArrayView reply, const Recipe &recipe);

} // namespace quorvex
