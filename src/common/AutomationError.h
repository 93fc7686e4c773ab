#pragma once
// The errors an operation can end with. Drivers, ports and look-ups throw
// AutomationError; the dispatch turns it into 0 or the empty text, and the
// D-Bus binding turns it into a named error whose message starts "<number>: ".
#include <QString>
#include <stdexcept>

namespace quorvex {

enum class ErrorKind {
    TypeMismatch, // 13: a reply field that is not a number
    InvalidArgument, // 5: a reply too short to hold its fields
    Overflow, // 6: a value outside the range it must fit
    NotFound, // a role, the device collection, a port object or an operation missing
    PortError, // the port refused: closed, missing, in use, bad settings
};

class AutomationError : public std::runtime_error {
public:
    AutomationError(ErrorKind kind, int number, const QString &text)
            : std::runtime_error(text.toStdString()), m_kind(kind), m_number(number)
    {}

    ErrorKind kind() const { return m_kind; }
    int number() const { return m_number; }
    QString text() const { return QString::fromStdString(what()); }

    static AutomationError typeMismatch() { return {ErrorKind::TypeMismatch, 13, QStringLiteral("Type mismatch")}; }
    static AutomationError invalidArgument()
    {
        return {ErrorKind::InvalidArgument, 5, QStringLiteral("Invalid procedure call or argument")};
    }
    static AutomationError overflow() { return {ErrorKind::Overflow, 6, QStringLiteral("Overflow")}; }

private:
    ErrorKind m_kind;
    int m_number;
};

// D-Bus name suffix of each kind: com.velkaro.Quorvex.Error.<name>.
inline const char *errorKindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::TypeMismatch: return "TypeMismatch";
    case ErrorKind::InvalidArgument: return "InvalidArgument";
    case ErrorKind::Overflow: return "Overflow";
    case ErrorKind::NotFound: return "NotFound";
    case ErrorKind::PortError: return "PortError";
    }
    return "Failed";
}

} // namespace quorvex
