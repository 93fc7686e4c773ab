#include "line/SettingsText.h"

#include "common/ByteText.h"
#include "common/IniLines.h"

#include <QList>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

namespace quorvex {

namespace {

const QString kGeneral = QStringLiteral("General");

// Names in group headers and keys: "%XX" escapes (UTF-8), and "\" for the
// "/" of a sub-key.
QString decodeName(QStringView raw)
{
    QByteArray bytes;
    const QByteArray utf8 = raw.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '%' && i + 2 < utf8.size()) {
            const int value = hexByteValue(utf8[i + 1], utf8[i + 2]);
            if (value >= 0) {
                bytes.append(char(value));
                i += 2;
                continue;
            }
        }
        bytes.append(c == '\\' ? '/' : c);
    }
    return QString::fromUtf8(bytes);
}

QString encodeName(const QString &name)
{
    QString out;
    for (const QChar ch : name) {
        const char16_t c = ch.unicode();
        if (c == '/')
            out += QLatin1Char('\\');
        else if (ch.isLetterOrNumber() || c == '_' || c == '-' || c == '.' || c == ' ' || c > 0x7f)
            out += ch;
        else
            out += QStringLiteral("%%1").arg(int(c), 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

// A value: quoted parts with backslash escapes, unquoted parts as typed
// up to a ";" comment, blanks around it ignored.
QString decodeValue(QStringView raw)
{
    QString out;
    bool quoted = false;
    qsizetype lastSignificant = 0; // out's length up to the last char that is not trailing blank
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar ch = raw[i];
        if (ch == QLatin1Char('\\') && i + 1 < raw.size()) {
            const QChar next = raw[++i];
            switch (next.unicode()) {
            case 'n': out += QLatin1Char('\n'); break;
            case 't': out += QLatin1Char('\t'); break;
            case 'r': out += QLatin1Char('\r'); break;
            case '0': out += QChar(0); break;
            default: out += next; break;
            }
            lastSignificant = out.size();
            continue;
        }
        if (ch == QLatin1Char('"')) {
            quoted = !quoted;
            lastSignificant = out.size();
            continue;
        }
        if (!quoted && ch == QLatin1Char(';'))
            break;
        if (!quoted && out.isEmpty() && ch.isSpace())
            continue;
        out += ch;
        if (quoted || !ch.isSpace())
            lastSignificant = out.size();
    }
    out.truncate(lastSignificant);
    if (out.startsWith(QLatin1String("@@")))
        out.remove(0, 1);
    return out;
}

QString encodeValue(const QString &value)
{
    bool quote = value.trimmed() != value;
    QString body;
    for (const QChar ch : value) {
        switch (ch.unicode()) {
        case '"':
            body += QLatin1String("\\\"");
            quote = true;
            break;
        case '\\':
            body += QLatin1String("\\\\");
            quote = true;
            break;
        case '\n':
            body += QLatin1String("\\n");
            quote = true;
            break;
        case '\r':
            body += QLatin1String("\\r");
            quote = true;
            break;
        case '\t':
            body += QLatin1String("\\t");
            quote = true;
            break;
        case 0:
            body += QLatin1String("\\0");
            quote = true;
            break;
        case ';':
        case ',':
        case '=':
        case '#':
            body += ch;
            quote = true;
            break;
        default: body += ch; break;
        }
    }
    if (body.startsWith(QLatin1Char('@')))
        body.prepend(QLatin1Char('@'));
    return quote ? QLatin1Char('"') + body + QLatin1Char('"') : body;
}

QString textOf(const QVariant &v)
{
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

// One line of the file as read.
struct Line {
    enum Kind { Other, Group, Key } kind = Other;
    QString text; // as in the file, without its line end
    QString group; // Group: its name ("" for [General]); Key: its group
    QString keyText; // Key: the text before "=", as typed
    QString path; // Key: "group/key"
    QString value; // Key: its value
};

// Every line is kept (as Other when it is no group or key), so a line reads
// and writes back the same.
QList<Line> splitLines(const QString &text)
{
    QList<Line> lines;
    QString group;
    for (const IniLine &ini : splitIniLines(text)) {
        Line line;
        line.text = ini.text;
        if (ini.kind == IniLine::Group) {
            // [General] holds the keys without a group; [%General] a group of that name.
            const QString name = decodeName(ini.name);
            group = ini.name == QLatin1String("%General") ? kGeneral : name == kGeneral ? QString() : name;
            line.kind = Line::Group;
            line.group = group;
        } else if (ini.kind == IniLine::Key) {
            line.keyText = ini.name;
            const QString key = decodeName(QStringView(line.keyText).trimmed());
            if (!key.isEmpty()) {
                line.kind = Line::Key;
                line.group = group;
                line.path = group.isEmpty() ? key : group + QLatin1Char('/') + key;
                line.value = decodeValue(ini.value);
            }
        }
        lines.append(line);
    }
    return lines;
}

std::optional<QString> decodeText(const QByteArray &bytes, QString *why)
{
    if (bytes.contains('\0')) {
        if (why)
            *why = QStringLiteral("it holds NUL bytes (a binary or UTF-16 file, not UTF-8 text)");
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        if (why)
            *why = QStringLiteral("it is not UTF-8 text");
        return std::nullopt;
    }
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1);
    return text;
}

QString groupOf(const QString &path)
{
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

QString keyOf(const QString &path)
{
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace

std::optional<SettingsValues> parseSettingsText(const QByteArray &bytes, QString *why)
{
    const std::optional<QString> text = decodeText(bytes, why);
    if (!text)
        return std::nullopt;
    SettingsValues values;
    for (const Line &line : splitLines(*text)) {
        if (line.kind == Line::Key)
            values.insert(line.path, line.value);
    }
    return values;
}

QByteArray mergeSettingsText(const QByteArray &original, const SettingsValues &wanted)
{
    const QString text = decodeText(original, nullptr).value_or(QString());
    const QString eol = text.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QStringList out;
    QSet<QString> placed;
    // Per group, the output line after which a new key goes: after its last
    // key (or its header) in its last block.
    QMap<QString, qsizetype> groupEnd;
    for (const Line &line : splitLines(text)) {
        switch (line.kind) {
        case Line::Group:
            out << line.text;
            groupEnd[line.group] = out.size();
            break;
        case Line::Key: {
            const auto it = wanted.constFind(line.path);
            if (it == wanted.constEnd() || placed.contains(line.path))
                break; // removed, or a repeated key already written
            placed.insert(line.path);
            const QString value = textOf(*it);
            out << (value == line.value ? line.text : line.keyText + QLatin1Char('=') + encodeValue(value));
            groupEnd[line.group] = out.size();
            break;
        }
        case Line::Other: out << line.text; break;
        }
    }

    // New keys, grouped, in the order of wanted.
    QMap<QString, QStringList> added;
    QStringList newGroups;
    for (auto it = wanted.constBegin(); it != wanted.constEnd(); ++it) {
        if (placed.contains(it.key()))
            continue;
        const QString group = groupOf(it.key());
        if (!groupEnd.contains(group) && !added.contains(group))
            newGroups << group;
        added[group] << encodeName(keyOf(it.key())) + QLatin1Char('=') + encodeValue(textOf(*it));
    }
    // Into existing groups, the last in the file first, so earlier
    // positions stay valid.
    QList<std::pair<qsizetype, QString>> inserts;
    for (auto it = added.constBegin(); it != added.constEnd(); ++it) {
        if (groupEnd.contains(it.key()))
            inserts.append({groupEnd.value(it.key()), it.key()});
    }
    std::sort(inserts.begin(), inserts.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (const auto &[at, group] : inserts) {
        const QStringList &keys = added[group];
        for (qsizetype i = keys.size() - 1; i >= 0; --i)
            out.insert(at, keys[i]);
    }
    for (const QString &group : std::as_const(newGroups)) {
        if (!out.isEmpty() && !out.last().trimmed().isEmpty())
            out << QString();
        const QString header = group.isEmpty() ? kGeneral
            : group == kGeneral                ? QStringLiteral("%General")
                                               : encodeName(group);
        out << QLatin1Char('[') + header + QLatin1Char(']');
        out << added[group];
    }
    QString result = out.join(eol);
    if (!result.isEmpty())
        result += eol;
    return result.toUtf8();
}

} // namespace quorvex
