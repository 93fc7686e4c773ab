#include "Completion.h"

#include "Commands.h"
#include "drivers/Roles.h"

#include <map>

namespace quorvex::cli {

namespace {

// The names of an option as typed: "-v, --verbose" is "--verbose".
QString longName(const OptionRow &row)
{
    return QString::fromLatin1(row.names).split(QStringLiteral(", ")).constLast();
}

QString words(const QStringList &list)
{
    return list.join(QLatin1Char(' '));
}

QString readingRoles()
{
    QStringList roles;
    for (int role = 0; role < kReadingRoleCount; ++role)
        roles << QLatin1String(roleGroup(Role(role)));
    return words(roles);
}

// What the shell offers for a value of this kind; "return" offers nothing.
QString offer(Completes kind)
{
    const auto wordsOf = [](const QString &list) {
        return QStringLiteral("COMPREPLY=($(compgen -W \"%1\" -- \"$cur\")); return").arg(list);
    };
    switch (kind) {
    case Completes::Nothing: return QStringLiteral("return");
    case Completes::DispatchId: {
        QStringList ids;
        for (const Operation &op : declaredOperations())
            ids << QStringLiteral("0x%1").arg(op.dispId, 8, 16, QLatin1Char('0'));
        return wordsOf(words(ids));
    }
    case Completes::Time: return wordsOf(QStringLiteral("today yesterday"));
    case Completes::Role: return wordsOf(readingRoles());
    case Completes::File: return QStringLiteral("COMPREPLY=($(compgen -f -- \"$cur\")); return");
    case Completes::Device: return QStringLiteral("COMPREPLY=($(compgen -f -- \"${cur:-/dev/tty}\")); return");
    }
    return QStringLiteral("return");
}

// One case of $prev per kind of value, for every option that takes one.
QString valueCases()
{
    std::map<Completes, QStringList> byKind;
    const auto add = [&](std::span<const OptionRow> options) {
        for (const OptionRow &row : options)
            if (row.valueName && !byKind[row.value].contains(longName(row)))
                byKind[row.value] << longName(row);
    };
    add(globalOptions());
    for (const Command &command : commands())
        add(command.options);
    QString out;
    for (const auto &[kind, names] : byKind)
        out += QStringLiteral("        %1) %2 ;;\n").arg(names.join(QStringLiteral(" | ")), offer(kind));
    out.chop(1);
    return out;
}

QString commandCases()
{
    QString out;
    for (const Command &command : commands()) {
        QStringList options;
        for (const OptionRow &row : command.options)
            options << longName(row);
        out += QStringLiteral("        %1) options=\"%2\"%3 ;;\n")
                   .arg(QLatin1String(command.name), words(options),
                        command.arguments == Completes::Device ? QStringLiteral("; device=1") : QString());
    }
    out.chop(1);
    return out;
}

} // namespace

QString bashCompletion(QString script)
{
    QStringList globalNames, globalValueNames, commandNames, operations, booleanOperations;
    for (const OptionRow &row : globalOptions()) {
        if (longName(row) == QLatin1String("--"))
            continue;
        globalNames << longName(row);
        if (row.valueName)
            globalValueNames << longName(row);
    }
    for (const Command &command : commands())
        commandNames << QLatin1String(command.name);
    for (const Operation &op : declaredOperations()) {
        operations << op.name;
        if (std::any_of(op.params.begin(), op.params.end(),
                        [](const Parameter &p) { return p.type == ValueType::Boolean; }))
            booleanOperations << op.name;
    }
    script.replace(QLatin1String("@VALUES@"), valueCases());
    script.replace(QLatin1String("@GLOBAL_VALUE_OPTIONS@"), globalValueNames.join(QStringLiteral(" | ")));
    script.replace(QLatin1String("@GLOBAL_OPTIONS@"), words(globalNames));
    script.replace(QLatin1String("@COMMANDS@"), commandCases());
    script.replace(QLatin1String("@COMMAND_NAMES@"), words(commandNames));
    script.replace(QLatin1String("@OPERATIONS@"), words(operations));
    script.replace(QLatin1String("@BOOLEAN_OPERATIONS@"), booleanOperations.join(QLatin1Char('|')));
    return script;
}

} // namespace quorvex::cli
