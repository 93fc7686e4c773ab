#include "drivers/line/CtmCounterFrame.h"

#include "common/AutomationError.h"
#include "drivers/FieldConversion.h"

#include <QLocale>

namespace quorvex {

bool ctmReplyChecks(QByteArrayView reply)
{
    if (reply.size() < 7)
        return false;
    char check = 0;
    for (int i = 1; i <= 5; ++i)
        check ^= reply.at(i);
    return check == reply.at(6);
}

double parseCtmCount(QByteArrayView reply)
{
    // Five digits cannot leave the 32-bit range; the C locale keeps group
    // separators and decimal marks of the user's locale out of a count. The
    // blanks trimmed are those of Latin-1 text (no-break space included).
    bool ok = false;
    const int count = QLocale::c().toInt(QString::fromLatin1(mid1(reply, 2, 5)).trimmed(), &ok);
    if (!ok)
        throw AutomationError::typeMismatch();
    return count;
}

} // namespace quorvex
