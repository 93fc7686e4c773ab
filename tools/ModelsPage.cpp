#include "ModelsPage.h"

#include "drivers/InstrumentModel.h"
#include "drivers/line/MelsecFrame.h"
#include "drivers/line/RlcControllerFrame.h"
#include "drivers/scales/ContinuousScaleFrame.h"
#include "drivers/Roles.h"

#include <QStringList>

namespace quorvex::cli {

namespace {

// One page, written once as blocks and rendered twice: Markdown and roff.
struct Block {
    enum Kind { Heading, Subheading, Field, Item, Text } kind;
    QString label;
    QString text;
};

// The role (its settings group) whose instrument serves the operation.
QString roleServing(const char *operation)
{
    if (const std::optional<RoleOperation> op = roleOperationNamed(std::string_view(operation)))
        return QLatin1String(roleGroup(roleOf(*op)));
    return QLatin1String(operation);
}

// Bytes as text, control characters by their names: "XB<CR>".
QString shown(QByteArrayView bytes)
{
    static const char *const names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF",
                                          "VT", "FF", "CR", "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                          "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US"};
    QString out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32)
            out += QStringLiteral("<%1>").arg(QLatin1String(names[u]));
        else if (u >= 127)
            out += QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}

QString decimalMark(const InstrumentModel &op)
{
    if (op.parse != parseFixedField && op.parse != parseStreamField)
        return QStringLiteral("none (the model's own number format)");
    if (op.decimalMark == 0)
        return QStringLiteral("none (\".\" groups digits and is dropped)");
    return QStringLiteral("\"%1\"").arg(QLatin1Char(op.decimalMark));
}

// How a number in the model's own format becomes the reading; empty where
// the decimal mark says it all.
QString readingText(const InstrumentModel &op)
{
    if (op.check == rlcChecksumMatches) {
        return QStringLiteral("the status block starts after the reply's first `(` (at its first character when it "
                              "has none): 8 hexadecimal digits of the length, 8 of the weight, 2 status characters, "
                              "then 2 hexadecimal digits equal to the sum of the codes of the 18 characters before "
                              "them, modulo 256. The %1's digits (either case) are a whole number h of the "
                              "controller's counts; the reading is (h + 9) / 10 rounded to the nearest whole number, "
                              "a half to the even one (h = 0 reads 1, h = 6 reads 2, h = 1234 reads 124), which the "
                              "role's Divisore turns into the line's unit. h of 7FFFFFF7 or more is the overflow error")
            .arg(qstrcmp(op.operation, "LeggiPeso") == 0 ? QStringLiteral("weight") : QStringLiteral("length"));
    }
    return {};
}

QString silence(Fallback fallback)
{
    switch (fallback) {
    case Fallback::Zero:
        return QStringLiteral("reads 0");
    case Fallback::WholeZero:
        return QStringLiteral("reads the integer 0");
    case Fallback::Empty:
        return QStringLiteral("reads the empty value");
    case Fallback::TypeMismatch:
        return QStringLiteral("is the type-mismatch error");
    }
    return {};
}

QString seconds(std::chrono::milliseconds t)
{
    return QStringLiteral("%1 s").arg(QString::number(t.count() / 1000.0, 'g', 6));
}

// What the operation writes, awaits and gives.
QString exchangeText(const InstrumentModel &op)
{
    const QString request = QStringLiteral("`%1`").arg(shown(op.request));
    const QString field = QStringLiteral("%1 characters from character %2").arg(op.fieldLength).arg(op.fieldStart);
    switch (op.exchange) {
    case Exchange::Request:
        if (!op.parse)
            return QStringLiteral("writes %1 and consumes a reply of %2 characters without looking at it%3; "
                                  "time-out %4, no retry")
                .arg(request).arg(op.replyLength)
                .arg(op.onSilence == Fallback::TypeMismatch ? QStringLiteral("; silence is the type-mismatch error")
                                                            : QString(),
                     seconds(op.timeout));
        return QStringLiteral("writes %1, awaits a reply of %2 characters, reads %3; silence %4; "
                              "time-out %5, no retry")
            .arg(request).arg(op.replyLength)
            .arg(op.fieldLength ? field : QStringLiteral("the model's own frame"), silence(op.onSilence),
                 seconds(op.timeout));
    case Exchange::RequestUntilValid:
        return QStringLiteral("writes %1, awaits a reply of %2 characters under a check, asking again while the "
                              "check fails (%3 tries at most, time-out %4 each); silence %5")
            .arg(request).arg(op.replyLength).arg(op.attempts).arg(seconds(op.timeout), silence(op.onSilence));
    case Exchange::Command:
        return QStringLiteral("writes %1 and does not wait; whatever comes back is dropped").arg(request);
    case Exchange::StreamWindow:
        return QStringLiteral("writes nothing: the instrument transmits; looks in windows of %1 characters "
                              "(%2 at most, time-out %3 each) for the marker `%4`, the value %5 characters "
                              "after it, %6 long; silence %7, no marker %8")
            .arg(op.replyLength).arg(op.attempts).arg(seconds(op.timeout), shown(QByteArrayView(&op.marker, 1)))
            .arg(op.fieldStart).arg(op.fieldLength).arg(silence(op.onSilence), silence(op.onNoMarker));
    case Exchange::Ps11Stream:
        return QStringLiteral("starts the stream with `<DC1>`, collects a whole binary frame (%1 bytes hold "
                              "its start; %2 windows at most, time-out %3 each), stops it with `<DC3>`")
            .arg(op.replyLength).arg(op.attempts).arg(seconds(op.timeout));
    case Exchange::Handshake: {
        QStringList accepted;
        for (const char *p : {"1", "2", "3"})
            accepted << QStringLiteral("\"%1\" sends `%2`").arg(QLatin1String(p), shown(melsecCommandFrame(QLatin1String(p))));
        return QStringLiteral("writes `<ENQ>`; on `<ACK>` sends the frame the parameter selects: %1; any other "
                              "parameter sends no frame. The answer is dropped, never retried; the result is "
                              "always the empty text; time-out %2 each wait")
            .arg(accepted.join(QStringLiteral(", ")), seconds(op.timeout));
    }
    case Exchange::DefinedText:
    case Exchange::ModbusRtu:
        return QStringLiteral("as its definition file says");
    }
    return {};
}

// What can go wrong with a model that a reader should know, each limit
// once with the operations it applies to.
QStringList limitsOf(const ModelRow &row)
{
    QStringList limits;
    QList<QStringList> operations;
    const auto note = [&](const QString &limit, const InstrumentModel &op) {
        qsizetype at = limits.indexOf(limit);
        if (at < 0) {
            at = limits.size();
            limits << limit;
            operations << QStringList();
        }
        operations[at] << QLatin1String(op.operation);
    };
    for (const InstrumentModel *op : row.operations) {
        if (op->exchange == Exchange::Request && op->parse)
            note(QStringLiteral("the reply carries no check; on a noisy line a damaged reply can be read as a "
                                "wrong value"), *op);
        if (op->exchange == Exchange::Command)
            note(QStringLiteral("nothing is read back; a command lost on the line goes unnoticed"), *op);
        if (op->parse && op->onSilence == Fallback::Zero)
            note(QStringLiteral("a silent instrument reads 0, like a true zero"), *op);
        if (op->exchange == Exchange::StreamWindow && op->onNoMarker != Fallback::Empty)
            note(QStringLiteral("a stream without the marker %1").arg(silence(op->onNoMarker)), *op);
    }
    for (qsizetype i = 0; i < limits.size(); ++i)
        limits[i] = operations[i].join(QStringLiteral(", ")) + QStringLiteral(": ") + limits[i];
    return limits;
}

std::vector<Block> pageBlocks()
{
    std::vector<Block> blocks;
    blocks.push_back({Block::Text, {},
                      QStringLiteral("The built-in instrument models, one section each: the roles a model serves, "
                                     "the line settings it is usually found at, and what each of its operations "
                                     "writes, awaits and gives. Generated by `quorvex models --markdown` "
                                     "(and `--man`) from the model table; do not edit by hand.")});
    for (const ModelRow &row : builtInModels()) {
        blocks.push_back({Block::Heading, {}, row.brand + QLatin1Char(' ') + row.model});
        QStringList roles;
        for (const InstrumentModel *op : row.operations)
            roles << roleServing(op->operation);
        roles.removeDuplicates();
        blocks.push_back({Block::Field, QStringLiteral("Roles"), roles.join(QStringLiteral(", "))});
        blocks.push_back({Block::Field, QStringLiteral("Usual line settings"), row.settings});
        for (const InstrumentModel *op : row.operations) {
            blocks.push_back({Block::Subheading, {}, QLatin1String(op->operation)});
            blocks.push_back({Block::Field, QStringLiteral("Exchange"), exchangeText(*op)});
            if (op->parse || op->exchange == Exchange::Ps11Stream)
                blocks.push_back({Block::Field, QStringLiteral("Decimal mark"), decimalMark(*op)});
            if (const QString reading = readingText(*op); !reading.isEmpty())
                blocks.push_back({Block::Field, QStringLiteral("Reading"), reading});
        }
        const QStringList limits = limitsOf(row);
        if (!limits.isEmpty()) {
            blocks.push_back({Block::Subheading, {}, QStringLiteral("Known limits")});
            for (const QString &limit : limits)
                blocks.push_back({Block::Item, {}, limit});
        }
    }
    return blocks;
}

// Roff takes backslashes and leading dots literally only when escaped.
QString roff(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\e")).replace(QLatin1Char('-'), QStringLiteral("\\-"));
    text.remove(QLatin1Char('`'));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\'')))
        text.prepend(QStringLiteral("\\&"));
    return text;
}

} // namespace

QString modelsMarkdown()
{
    QString out = QStringLiteral("# Instrument models\n");
    for (const Block &b : pageBlocks()) {
        switch (b.kind) {
        case Block::Heading:
            out += QStringLiteral("\n## %1\n\n").arg(b.text);
            break;
        case Block::Subheading:
            out += QStringLiteral("\n### %1\n\n").arg(b.text);
            break;
        case Block::Field:
            out += QStringLiteral("- %1: %2\n").arg(b.label, b.text);
            break;
        case Block::Item:
            out += QStringLiteral("- %1\n").arg(b.text);
            break;
        case Block::Text:
            out += QStringLiteral("\n%1\n").arg(b.text);
            break;
        }
    }
    return out;
}

QString modelsManPage()
{
    QString out = QStringLiteral(".TH QUORVEX\\-INSTRUMENTS 7 \"2026\" \"Quorvex\" \"Quorvex\"\n"
                                 ".SH NAME\nquorvex\\-instruments \\- the built\\-in instrument models\n"
                                 ".SH DESCRIPTION\n");
    for (const Block &b : pageBlocks()) {
        switch (b.kind) {
        case Block::Heading:
            out += QStringLiteral(".SH %1\n").arg(roff(b.text));
            break;
        case Block::Subheading:
            out += QStringLiteral(".SS %1\n").arg(roff(b.text));
            break;
        case Block::Field:
            out += QStringLiteral(".TP\n.B %1\n%2\n").arg(roff(b.label), roff(b.text));
            break;
        case Block::Item:
            out += QStringLiteral(".IP \\(bu 2\n%1\n").arg(roff(b.text));
            break;
        case Block::Text:
            out += QStringLiteral(".PP\n%1\n").arg(roff(b.text));
            break;
        }
    }
    out += QStringLiteral(".SH SEE ALSO\n.BR quorvex (1),\n.BR quorvexd (1),\n.BR quorvex\\-sim (1)\n");
    return out;
}

} // namespace quorvex::cli
