#include "ui/settings/FieldHints.h"

#include "line/Conversions.h"
#include "serial/LineSettings.h"
#include "serial/PortControl.h"

namespace quorvex {

namespace {

QString notANumber(const QString &text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("vuoto") : QStringLiteral("non è un numero");
}

} // namespace

QString fieldHint(SettingKind kind, const QString &text)
{
    switch (kind) {
    case SettingKind::PortNumber: {
        // Without a port number from 1 up the role has no port at all.
        if (const auto number = toWholeNumber(text)) {
            if (*number < 0)
                return QStringLiteral("numero negativo: nessuna porta");
            return *number == 0 ? QStringLiteral("0 non è una porta: nessuna porta") : QString();
        }
        if (toDecimal(text))
            return QStringLiteral("fuori da %1…%2: nessuna porta").arg(kLowestPortNumber).arg(kHighestPortNumber);
        return notANumber(text) + QStringLiteral(": nessuna porta");
    }
    case SettingKind::Multiplier:
        return toDecimal(text) ? QString() : notANumber(text) + QStringLiteral(": le letture danno 0");
    case SettingKind::Decimal:
        return toDecimal(text) ? QString() : notANumber(text) + QStringLiteral(": resta il valore precedente");
    case SettingKind::LineSettings:
        if (LineSettings::parse(text))
            return QString();
        return (text.trimmed().isEmpty() ? QStringLiteral("vuoto") : QStringLiteral("settaggio non valido"))
            + QStringLiteral(": la porta resta com'è");
    case SettingKind::Text:
    case SettingKind::WholeNumber:
    case SettingKind::Boolean:
    case SettingKind::Twips:
    case SettingKind::Fixed: break;
    }
    return QString();
}

} // namespace quorvex
