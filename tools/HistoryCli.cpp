#include "HistoryCli.h"

#include "Output.h"
#include "line/PublishedValues.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDateTime>
#include <QLocale>
#include <QPointF>
#include <QTimeZone>
#include <cstdio>

namespace quorvex::cli {

namespace {

QString needValue(const QStringList &arguments, int &i)
{
    if (i + 1 >= arguments.size())
        throw UsageError(QStringLiteral("%1 needs a value").arg(arguments[i]));
    return arguments[++i];
}

quint32 parseLimit(const QString &text)
{
    bool ok = false;
    const uint n = text.toUInt(&ok);
    if (!ok)
        throw UsageError(QStringLiteral("--limit takes a whole number from 0 to 4294967295, not '%1'").arg(text));
    return n;
}

qint64 parseId(const QString &text)
{
    bool ok = false;
    const qlonglong id = text.toLongLong(&ok);
    if (!ok || id <= 0)
        throw UsageError(QStringLiteral("a coil's id is a positive whole number, not '%1'").arg(text));
    return id;
}

QString csvNumber(double value)
{
    return QLocale::c().toString(value, 'g', 15);
}

QString humanNumber(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

QDateTime fromUs(qint64 us)
{
    return QDateTime::fromMSecsSinceEpoch(us / 1000, Qt::UTC);
}

QString csvTime(qint64 us)
{
    return fromUs(us).toString(Qt::ISODateWithMs);
}

QString humanTime(qint64 us)
{
    return fromUs(us).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QList<QVariantMap> coilMaps(const QDBusMessage &reply)
{
    QList<QVariantMap> coils;
    const QDBusArgument arg = reply.arguments().value(0).value<QDBusArgument>();
    arg >> coils;
    return coils;
}

// The fields of a coil record the client prints, in order.
constexpr Value kCoilFields[] = {Value::Id,       Value::Chiusura, Value::Lunghezza, Value::AltezzaMedia,
                                 Value::Campioni, Value::Peso,     Value::PesoLetto};

// The CSV header: the coil record's D-Bus keys.
QString csvHeader()
{
    QStringList keys;
    for (const Value field : kCoilFields)
        keys << dbusKey(field);
    return keys.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString csvRow(const QVariantMap &c)
{
    const bool weighed = c.contains(dbusKey(Value::Peso));
    return QStringList{c.value(dbusKey(Value::Id)).toString(),
                       csvTime(c.value(dbusKey(Value::Chiusura)).toLongLong()),
                       csvNumber(c.value(dbusKey(Value::Lunghezza)).toDouble()),
                       csvNumber(c.value(dbusKey(Value::AltezzaMedia)).toDouble()),
                       c.value(dbusKey(Value::Campioni)).toString(),
                       weighed ? csvNumber(c.value(dbusKey(Value::Peso)).toDouble()) : QString(),
                       weighed ? csvTime(c.value(dbusKey(Value::PesoLetto)).toLongLong()) : QString()}
        .join(QLatin1Char(','));
}

QString humanRow(const QVariantMap &c)
{
    const bool weighed = c.contains(dbusKey(Value::Peso));
    return QStringLiteral("%1  %2  %3  %4  %5  %6")
        .arg(c.value(dbusKey(Value::Id)).toString(), 6)
        .arg(humanTime(c.value(dbusKey(Value::Chiusura)).toLongLong()), -19)
        .arg(humanNumber(c.value(dbusKey(Value::Lunghezza)).toDouble()), 12)
        .arg(humanNumber(c.value(dbusKey(Value::AltezzaMedia)).toDouble()), 14)
        .arg(c.value(dbusKey(Value::Campioni)).toString(), 8)
        .arg(weighed ? humanNumber(c.value(dbusKey(Value::Peso)).toDouble()) : QStringLiteral("-"), 10);
}

} // namespace

qint64 parseWhen(const QString &text)
{
    const QDate today = QDate::currentDate();
    QDateTime when;
    if (text == QLatin1String("today"))
        when = today.startOfDay();
    else if (text == QLatin1String("yesterday"))
        when = today.addDays(-1).startOfDay();
    else if (const QDate date = QDate::fromString(text, Qt::ISODate); date.isValid())
        when = date.startOfDay();
    else
        when = QDateTime::fromString(QString(text).replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODateWithMs);
    if (!when.isValid())
        throw UsageError(
            QStringLiteral("'%1' is not a time: give today, yesterday, 2026-03-01 or 2026-03-01T08:30").arg(text));
    return when.toMSecsSinceEpoch() * 1000;
}

bool readHistoryWords(Request &whole, const QStringList &arguments)
{
    const QString command = arguments.value(0);
    HistoryRequest &request = whole.history;
    if (command == QLatin1String("coils"))
        request.command = HistoryRequest::Command::Coils;
    else if (command == QLatin1String("coil"))
        request.command = HistoryRequest::Command::Coil;
    else if (command == QLatin1String("history"))
        request.command = HistoryRequest::Command::Show;
    const bool listing = request.command == HistoryRequest::Command::Coils;
    QStringList words;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--csv") && request.command != HistoryRequest::Command::Show)
            request.csv = true;
        else if (listing && a == QLatin1String("--since"))
            request.sinceUs = parseWhen(needValue(arguments, i));
        else if (listing && a == QLatin1String("--until"))
            request.untilUs = parseWhen(needValue(arguments, i));
        else if (listing && a == QLatin1String("--limit"))
            request.limit = parseLimit(needValue(arguments, i));
        else if (a.startsWith(QLatin1Char('-')))
            throw UsageError(QStringLiteral("%1 does not take the option '%2'").arg(command, a));
        else
            words << a;
    }
    if (request.command == HistoryRequest::Command::Coil) {
        if (words.size() != 1)
            throw UsageError(QStringLiteral("coil takes one coil id"));
        request.id = parseId(words[0]);
    } else if (!words.isEmpty()) {
        throw UsageError(QStringLiteral("%1 takes no arguments but options").arg(command));
    }
    return true;
}

QVariantList coilsArguments(const Request &request)
{
    return {QVariant::fromValue(request.history.sinceUs), QVariant::fromValue(request.history.untilUs),
            QVariant::fromValue(request.history.limit)};
}

QVariantList profileArguments(const Request &request)
{
    return {QVariant::fromValue(request.history.id)};
}

QString formatCoils(const QDBusMessage &reply, bool csv)
{
    QString out = csv
        ? csvHeader()
        : QStringLiteral("    id  closed                  length  average height   samples      weight\n");
    for (const QVariantMap &c : coilMaps(reply))
        out += (csv ? csvRow(c) : humanRow(c)) + QLatin1Char('\n');
    return out;
}

QString formatProfile(const QDBusMessage &reply, bool csv)
{
    QList<QPointF> points;
    reply.arguments().value(0).value<QDBusArgument>() >> points;
    QString out = csv ? QStringLiteral("length,height\n") : QStringLiteral("      length        height\n");
    for (const QPointF &p : points) {
        out += csv ? csvNumber(p.x()) + QLatin1Char(',') + csvNumber(p.y())
                   : QStringLiteral("%1  %2").arg(humanNumber(p.x()), 12).arg(humanNumber(p.y()), 12);
        out += QLatin1Char('\n');
    }
    return out;
}

int printCoils(const Request &request, const QDBusMessage &reply)
{
    writeText(stdout, formatCoils(reply, request.history.csv));
    return kExitOk;
}

int printProfile(const Request &request, const QDBusMessage &reply)
{
    writeText(stdout, formatProfile(reply, request.history.csv));
    return kExitOk;
}

} // namespace quorvex::cli
