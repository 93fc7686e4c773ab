#include "common/Logging.h"

#include "common/ByteText.h"

#include <cstdio>

namespace quorvex {

// The configuration's line per role is information an integrator needs at
// every start, and an instrument answering again after it fell silent is
// news an operator waits for, so both show by default; everything else only
// from warnings up.
Q_LOGGING_CATEGORY(lcConfig, "quorvex.config", QtInfoMsg)
// One line when the server starts, one when it reloads, one when it ends.
Q_LOGGING_CATEGORY(lcServer, "quorvex.server", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHealth, "quorvex.health", QtInfoMsg)
// A device that went away is a warning and its return news, shown by default.
Q_LOGGING_CATEGORY(lcPort, "quorvex.port", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDbus, "quorvex.dbus", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDriver, "quorvex.driver", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHistory, "quorvex.history", QtWarningMsg)
// Connecting to and losing the plant's broker is worth a line by default.
Q_LOGGING_CATEGORY(lcFeed, "quorvex.feed", QtInfoMsg)

namespace {

// Control characters as escapes; everything else as it is.
void appendEscaped(QString &out, QStringView text)
{
    for (const QChar c : text) {
        const CharEscape e = escapeOf(c.unicode(), Escapes::Controls);
        if (e.size > 0)
            out += QLatin1String(e.text, e.size);
        else
            out += c;
    }
}

int journalPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return 7;
    case QtInfoMsg: return 6;
    case QtWarningMsg: return 4;
    case QtCriticalMsg: return 3;
    case QtFatalMsg: return 2;
    }
    return 6;
}

// A log line never grows past this, whatever it was given.
constexpr qsizetype kLogLineLength = 4096;

bool g_toJournal = false;

void writeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString formatted = qFormatLogMessage(type, context, message);
    QString line;
    line.reserve(formatted.size() + 8);
    if (g_toJournal)
        line += QStringLiteral("<%1>").arg(journalPriority(type));
    appendEscaped(line, QStringView(formatted).left(kLogLineLength));
    if (formatted.size() > kLogLineLength)
        line += QStringLiteral("... (%1 more characters)").arg(formatted.size() - kLogLineLength);
    line += QLatin1Char('\n');
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// The innermost collector, and the handler it stands in front of.
WarningCollector *g_collector = nullptr;
QtMessageHandler g_collectorPrevious = nullptr;

} // namespace

void WarningCollector::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_collector && type != QtDebugMsg && type != QtInfoMsg && context.category
        && qstrncmp(context.category, "quorvex.", 8) == 0)
        g_collector->m_warnings.append(message);
    if (g_collectorPrevious)
        g_collectorPrevious(type, context, message);
}

WarningCollector::WarningCollector() : m_outer(g_collector)
{
    if (!m_outer)
        g_collectorPrevious = qInstallMessageHandler(&WarningCollector::handle);
    g_collector = this;
}

WarningCollector::~WarningCollector()
{
    g_collector = m_outer;
    if (m_outer)
        m_outer->m_warnings += m_warnings;
    else
        qInstallMessageHandler(g_collectorPrevious);
}

QString quotedForLog(const QString &value)
{
    QString out = QStringLiteral("\"");
    appendEscaped(out, QStringView(value).left(kLogValueLength));
    out += QLatin1Char('"');
    if (value.size() > kLogValueLength)
        out += QStringLiteral(" (cut, %1 more characters)").arg(value.size() - kLogValueLength);
    return out;
}

void installLogHandler()
{
    g_toJournal = !qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    qInstallMessageHandler(writeMessage);
}

} // namespace quorvex
