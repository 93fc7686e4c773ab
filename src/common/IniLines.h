#pragma once
// The lines of an INI text, as the settings file and the instrument
// definition files are both written: "[group]" headers, key=value lines,
// comments after ";" or "#", blank lines. Which line is which is decided
// here only; the settings file decodes its names and values by QSettings'
// rules, the definition files theirs with iniValueText.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace quorvex {

struct IniLine {
    enum Kind { Blank, Comment, Group, Key, Other } kind = Other;
    QString text; // as in the file, without its line end
    QString name; // Group: the text between "[" and "]"; Key: the text before "=", as typed
    QString value; // Key: the text after "=", as typed
    int number = 0; // 1-based
};

// The lines of text. CRs before a newline are its line ending (stray ones
// too), so a file of either ending reads the same. A header's "]" comes
// before any "=": "[x=a]b" is the key "[x".
inline QList<IniLine> splitIniLines(const QString &text)
{
    QList<IniLine> lines;
    const QStringList raw = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < raw.size(); ++i) {
        // The last piece after a final newline is no line.
        if (i == raw.size() - 1 && raw[i].isEmpty())
            break;
        IniLine line;
        line.number = int(i + 1);
        line.text = raw[i];
        while (line.text.endsWith(QLatin1Char('\r')))
            line.text.chop(1);
        const QString trimmed = line.text.trimmed();
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        const qsizetype eq = line.text.indexOf(QLatin1Char('='));
        if (trimmed.isEmpty()) {
            line.kind = IniLine::Blank;
        } else if (trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'))) {
            line.kind = IniLine::Comment;
        } else if (trimmed.startsWith(QLatin1Char('[')) && close > 0
                   && (trimmed.indexOf(QLatin1Char('=')) < 0 || close < trimmed.indexOf(QLatin1Char('=')))) {
            line.kind = IniLine::Group;
            line.name = trimmed.mid(1, close - 1);
        } else if (eq >= 0) {
            line.kind = IniLine::Key;
            line.name = line.text.left(eq);
            line.value = line.text.mid(eq + 1);
        }
        lines.append(line);
    }
    return lines;
}

// A value as the definition files write it: quoted (the text between the
// quotes, escapes as typed, only a comment after the closing quote) or bare
// (up to a ";"), blanks around it dropped. nullopt when it does not read,
// with the reason in *problem.
inline std::optional<QString> iniValueText(const QString &raw, QString *problem)
{
    const QString text = raw.trimmed();
    if (!text.startsWith(QLatin1Char('"'))) {
        const qsizetype comment = text.indexOf(QLatin1Char(';'));
        return (comment < 0 ? text : text.left(comment)).trimmed();
    }
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\')) {
            ++i;
            continue;
        }
        if (text[i] == QLatin1Char('"')) {
            const QString rest = text.mid(i + 1).trimmed();
            if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(';'))) {
                *problem = QStringLiteral("has text after its closing quote");
                return std::nullopt;
            }
            return text.mid(1, i - 1);
        }
    }
    *problem = QStringLiteral("has no closing quote");
    return std::nullopt;
}

} // namespace quorvex
