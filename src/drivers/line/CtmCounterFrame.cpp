#include "drivers/line/CtmCounterFrame.h"

#include "common/AutomationError.h"
#include "drivers/FieldConversion.h"

#include <QLocale>

namespace quorvex {

bool ctmReplyChecks(const QString &reply)
{
    if (reply.size() < 7)
        return false;
    char16_t check = 0;
    for (int i = 1; i <= 5; ++i)
        check ^= reply.at(i).unicode();
    return check == reply.at(6).unicode();
}

double parseCtmCount(const QString &reply)
{
    // Five digits cannot leave the 32-bit range; the C locale keeps group
    // separators and decimal marks of the user's locale out of a count.
    bool ok = false;
    const int count = QLocale::c().toInt(mid1(reply, 2, 5).trimmed(), &ok);
    if (!ok)
        throw AutomationError::typeMismatch();
    return count;
}

} // namespace quorvex
