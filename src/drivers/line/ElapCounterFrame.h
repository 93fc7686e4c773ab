#pragma once
// The ELAP counters CM78 and CM78A: one text protocol, the models differ in
// the length of the reply and where the value stands in it.
#include <QByteArray>
#include <QString>

namespace quorvex {

inline const QByteArray kElapReadRequest = QByteArrayLiteral("@r01\r");
inline const QByteArray kElapZeroCommand = QByteArrayLiteral("@R01\r");

struct ElapModel {
    int replyLength; // characters awaited
    int fieldStart;  // 1-based position of the value
    int fieldLength;
};

extern const ElapModel kElapCm78;
extern const ElapModel kElapCm78A;

// The value in a reply: "." is the decimal point whatever the locale.
// Throws the type-mismatch error when the field does not convert.
double parseElapReply(const QString &reply, const ElapModel &model);

} // namespace quorvex
