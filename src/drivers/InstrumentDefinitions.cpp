#include "drivers/InstrumentDefinitions.h"

#include "common/AppFolders.h"
#include "common/AutomationError.h"
#include "common/ByteText.h"
#include "common/IniLines.h"
#include "common/Logging.h"
#include "drivers/DefinedExchanges.h"
#include "drivers/FieldConversion.h"
#include "drivers/Roles.h"
#include "serial/LineSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cmath>
#include <map>

namespace quorvex {

using namespace std::chrono_literals;

namespace {

// The operations a definition may describe, as a list for messages.
QString definableOperations()
{
    QStringList names;
    for (const RoleOperationRow &row : kRoleOperations) {
        if (row.definable)
            names << QLatin1String(row.name);
    }
    return names.join(QLatin1String(", "));
}

constexpr const char *kGroup = "Strumento";
// A definition is a few lines; anything larger is not one.
constexpr qint64 kMaxFileBytes = 16 * 1024;

using Group = std::map<QString, QString>; // key -> value, in the file's case

struct Ini {
    std::vector<std::pair<QString, Group>> groups;
    const Group *find(const QString &name) const
    {
        for (const auto &[n, g] : groups) {
            if (n == name)
                return &g;
        }
        return nullptr;
    }
};

struct Failure {
    DefinitionProblem problem;
};

[[noreturn]] void fail(const QString &group, const QString &key, const QString &problem)
{
    throw Failure{{group, key, problem}};
}

QString valueText(const QString &raw, const QString &group, const QString &key)
{
    QString problem;
    const std::optional<QString> value = iniValueText(raw, &problem);
    if (!value)
        fail(group, key, problem);
    return *value;
}

Ini parseIni(QByteArrayView bytes)
{
    Ini ini;
    QString group;
    for (const IniLine &line : splitIniLines(QString::fromUtf8(bytes))) {
        const int lineNumber = line.number;
        if (line.kind == IniLine::Blank || line.kind == IniLine::Comment)
            continue;
        if (line.kind == IniLine::Group) {
            group = line.name.trimmed();
            if (ini.find(group))
                fail(group, QString(), QStringLiteral("the group appears twice"));
            ini.groups.emplace_back(group, Group{});
            continue;
        }
        if (line.text.trimmed().startsWith(QLatin1Char('[')))
            fail(line.text.trimmed(), QString(),
                 QStringLiteral("line %1: the group name has no \"]\"").arg(lineNumber));
        const QString key = line.name.trimmed();
        if (line.kind != IniLine::Key || key.isEmpty())
            fail(group, QString(), QStringLiteral("line %1 is neither a group nor key=value").arg(lineNumber));
        if (ini.groups.empty())
            fail(QString(), key, QStringLiteral("stands before any group"));
        Group &g = ini.groups.back().second;
        if (g.count(key))
            fail(group, key, QStringLiteral("appears twice"));
        g[key] = valueText(line.value, group, key);
    }
    return ini;
}

// Reads the keys of one group; each key asked for is marked as known.
class Keys {
public:
    Keys(const QString &name, const Group &group) : m_name(name), m_group(group) {}

    QString text(const char *key, const QString &fallback = QString())
    {
        m_used << QLatin1String(key);
        const auto it = m_group.find(QLatin1String(key));
        return it == m_group.end() ? fallback : it->second;
    }
    bool has(const char *key) const { return m_group.count(QLatin1String(key)) > 0; }
    QString required(const char *key)
    {
        if (!has(key) || text(key).isEmpty())
            fail(m_name, QLatin1String(key), QStringLiteral("is missing"));
        return text(key);
    }
    QByteArray bytes(const char *key)
    {
        const std::optional<std::string> out = unescapedBytes(text(key).toStdString());
        if (!out)
            fail(m_name, QLatin1String(key), QStringLiteral("has an escape other than \\r \\n \\t \\\\ \\\" \\xHH"));
        return QByteArray::fromStdString(*out);
    }
    int whole(const char *key, int fallback, int low, int high)
    {
        const QString t = text(key);
        if (t.isEmpty())
            return fallback;
        bool ok = false;
        const int v = t.toInt(&ok);
        if (!ok || v < low || v > high)
            fail(m_name, QLatin1String(key),
                 QStringLiteral("\"%1\" is not a whole number from %2 to %3").arg(t).arg(low).arg(high));
        return v;
    }
    double decimal(const char *key, double fallback)
    {
        const QString t = text(key);
        if (t.isEmpty())
            return fallback;
        bool ok = false;
        const double v = t.toDouble(&ok); // the file's numbers use "."
        if (!ok || !std::isfinite(v))
            fail(m_name, QLatin1String(key), QStringLiteral("\"%1\" is not a number (with \".\")").arg(t));
        return v;
    }
    template<typename T> T choice(const char *key, T fallback, std::initializer_list<std::pair<const char *, T>> names)
    {
        const QString t = text(key);
        if (t.isEmpty())
            return fallback;
        QStringList known;
        for (const auto &[name, value] : names) {
            if (t.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return value;
            known << QLatin1String(name);
        }
        fail(m_name, QLatin1String(key),
             QStringLiteral("\"%1\" is not one of %2").arg(t, known.join(QLatin1Char(' '))));
    }
    // Every key of the group was asked for.
    void noOthers() const
    {
        for (const auto &[key, value] : m_group) {
            if (!m_used.contains(key))
                fail(m_name, key, QStringLiteral("is not a key of this group"));
        }
    }

private:
    QString m_name;
    const Group &m_group;
    QStringList m_used;
};

void readTextOperation(Keys &keys, const QString &group, bool zeroing, DefinedOperation &op, Recipe &recipe)
{
    op.request = keys.bytes("Richiesta");
    op.end = keys.bytes("Fine");
    op.length = keys.whole("Risposta", 0, 0, 4096);
    if (!op.end.isEmpty() && op.length > 0)
        fail(group, QStringLiteral("Risposta"), QStringLiteral("and Fine cannot both be given"));
    const bool awaits = !op.end.isEmpty() || op.length > 0;
    if (op.request.isEmpty() && zeroing)
        fail(group, QStringLiteral("Richiesta"), QStringLiteral("is missing: a zeroing must write something"));
    if (!awaits && !zeroing)
        fail(group, QStringLiteral("Fine"), QStringLiteral("is missing (or Risposta): a reply must end somewhere"));
    const QString pattern = keys.text("Formato");
    if (!pattern.isEmpty() || !zeroing) {
        if (pattern.isEmpty())
            fail(group, QStringLiteral("Formato"), QStringLiteral("is missing"));
        op.format = QRegularExpression(pattern);
        if (!op.format.isValid())
            fail(group, QStringLiteral("Formato"),
                 QStringLiteral("is not a valid pattern: %1").arg(op.format.errorString()));
        if (op.format.captureCount() < 1 && !zeroing)
            fail(group, QStringLiteral("Formato"), QStringLiteral("has no group ( ) around the number"));
    }
    const QString mark = keys.text("Decimale", QStringLiteral("."));
    if (mark.size() != 1 || mark[0].unicode() > 0x7f)
        fail(group, QStringLiteral("Decimale"), QStringLiteral("\"%1\" is not one character").arg(mark));
    op.decimalMark = char(mark[0].unicode());
    op.example = keys.bytes("Esempio");
    if (!op.example.isEmpty() && !zeroing && !definedNumber(op.example, op))
        fail(group, QStringLiteral("Esempio"), QStringLiteral("does not match Formato, or its number does not read"));
    recipe.exchange = &exchanges::definedText;
    recipe.request = op.request.constData();
    recipe.replyLength = op.length;
    recipe.attempts = keys.whole("Tentativi", 1, 1, 100);
    // A zeroing that awaits nothing is written and not waited for.
    if (zeroing && !awaits)
        recipe.replyLength = 0;
}

void readModbusOperation(Keys &keys, const QString &group, bool zeroing, DefinedOperation &op, Recipe &recipe)
{
    op.function = keys.whole("Funzione", zeroing ? 6 : 3, 1, 127);
    if (zeroing && op.function != 5 && op.function != 6)
        fail(group, QStringLiteral("Funzione"), QStringLiteral("\"%1\" is not 5 or 6 (a write)").arg(op.function));
    if (!zeroing && op.function != 3 && op.function != 4)
        fail(group, QStringLiteral("Funzione"), QStringLiteral("\"%1\" is not 3 or 4 (a read)").arg(op.function));
    if (!keys.has("Registro"))
        fail(group, QStringLiteral("Registro"), QStringLiteral("is missing"));
    op.address = keys.whole("Registro", 0, 0, 65535);
    op.type = keys.choice<RegisterType>("Tipo", RegisterType::UInt16,
                                        {{"INT16", RegisterType::Int16},
                                         {"UINT16", RegisterType::UInt16},
                                         {"INT32", RegisterType::Int32},
                                         {"UINT32", RegisterType::UInt32},
                                         {"FLOAT32", RegisterType::Float32}});
    op.order = keys.choice<WordOrder>(
        "Ordine", WordOrder::ABCD,
        {{"ABCD", WordOrder::ABCD}, {"CDAB", WordOrder::CDAB}, {"BADC", WordOrder::BADC}, {"DCBA", WordOrder::DCBA}});
    op.factor = keys.decimal("Fattore", 1);
    op.value = keys.whole("Valore", op.function == 5 ? 1 : 0, -32768, 65535);
    if (op.address + op.registerCount() > 65536)
        fail(group, QStringLiteral("Registro"), QStringLiteral("leaves no room for the value"));
    recipe.exchange = &exchanges::modbusRtu;
    recipe.attempts = keys.whole("Tentativi", 1, 1, 100);
}

std::unique_ptr<InstrumentDefinition> read(QByteArrayView text, const QString &source)
{
    const Ini ini = parseIni(text);
    const Group *head = ini.find(QLatin1String(kGroup));
    if (!head)
        fail(QLatin1String(kGroup), QString(), QStringLiteral("the group is missing"));
    auto def = std::make_unique<InstrumentDefinition>();
    Keys keys(QLatin1String(kGroup), *head);
    def->row.brand = keys.required("Marca");
    def->row.model = keys.required("Modello");
    def->row.source = source;
    def->protocol =
        keys.choice<DefinedProtocol>("Protocollo", DefinedProtocol::Ascii,
                                     {{"ASCII", DefinedProtocol::Ascii}, {"MODBUS-RTU", DefinedProtocol::ModbusRtu}});
    def->row.settings = keys.text("Settaggio", QLatin1String(kUsualLineSettings));
    if (!LineSettings::parse(def->row.settings))
        fail(QLatin1String(kGroup), QStringLiteral("Settaggio"),
             QStringLiteral("\"%1\" is not line settings like %2")
                 .arg(def->row.settings, QLatin1String(kUsualLineSettings)));
    const int unit = def->protocol == DefinedProtocol::ModbusRtu ? keys.whole("Indirizzo", 1, 1, 247) : 1;
    keys.noOthers();
    def->brandBytes = def->row.brand.toUtf8();
    def->modelBytes = def->row.model.toUtf8();

    for (const auto &[name, group] : ini.groups) {
        if (name == QLatin1String(kGroup))
            continue;
        const std::optional<RoleOperation> which = roleOperationNamed(name);
        if (!which || !rowOf(*which).definable)
            fail(name, QString(), QStringLiteral("is not an operation (%1)").arg(definableOperations()));
        DefinedOperation &op = def->operations[def->count];
        Recipe &recipe = def->recipes[def->count];
        op.protocol = def->protocol;
        op.unit = unit;
        recipe.operation = operationName(*which);
        recipe.brand = def->brandBytes.constData();
        recipe.model = def->modelBytes.constData();
        recipe.defined = &op;
        const bool zeroing = rowOf(*which).actsOnInstrument;
        recipe.actsOnInstrument = zeroing;
        Keys opKeys(name, group);
        recipe.timeout = std::chrono::milliseconds(opKeys.whole("Attesa", 1000, 1, 600000));
        if (def->protocol == DefinedProtocol::Ascii)
            readTextOperation(opKeys, name, zeroing, op, recipe);
        else
            readModbusOperation(opKeys, name, zeroing, op, recipe);
        opKeys.noOthers();
        ++def->count;
    }
    if (def->count == 0)
        fail(QLatin1String(operationName(RoleOperation::LeggiPeso)), QString(),
             QStringLiteral("no operation group: the model would serve nothing"));
    for (int i = 0; i < def->count; ++i)
        def->row.operations.push_back(&def->recipes[i]);
    return def;
}

bool sameName(const InstrumentModel &row, const QString &brand, const QString &model)
{
    return row.brand.compare(brand, Qt::CaseInsensitive) == 0 && row.model.compare(model, Qt::CaseInsensitive) == 0;
}

// The file's bytes, when it is a regular file of a definition's size.
std::optional<QByteArray> boundedRead(const QString &path, QString *why)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        *why = QStringLiteral("is not a regular file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes) {
        *why = QStringLiteral("is larger than %1 bytes").arg(kMaxFileBytes);
        return std::nullopt;
    }
    return bytes;
}

} // namespace

std::optional<double> definedNumber(QByteArrayView reply, const DefinedOperation &op)
{
    const QRegularExpressionMatch match = op.format.match(QString::fromLatin1(reply.data(), reply.size()));
    if (!match.hasMatch() || match.capturedStart(1) < 0)
        return std::nullopt;
    try {
        return convertField(match.captured(1).toLatin1(), op.decimalMark);
    } catch (const AutomationError &) {
        return std::nullopt;
    }
}

std::unique_ptr<InstrumentDefinition> readDefinition(QByteArrayView text, const QString &source,
                                                     DefinitionProblem *problem)
{
    try {
        return read(text, source);
    } catch (const Failure &f) {
        if (problem)
            *problem = f.problem;
        return nullptr;
    }
}

QStringList definitionFolders()
{
    return {appFolder(QStandardPaths::GenericConfigLocation) + QStringLiteral("/strumenti"),
            QStringLiteral("/usr/share/quorvex/strumenti")};
}

namespace {

// The value of a "key=value" line of the text, comment and quotes aside;
// empty when no line gives it. Enough to name a file that does not read.
QString lineValue(const QByteArray &text, const char *key)
{
    for (const IniLine &line : splitIniLines(QString::fromUtf8(text))) {
        if (line.kind == IniLine::Key && line.name.trimmed() == QLatin1String(key)) {
            QString problem;
            return iniValueText(line.value, &problem).value_or(line.value.trimmed());
        }
    }
    return QString();
}

} // namespace

std::shared_ptr<const InstrumentDefinitions> InstrumentDefinitions::load(const QStringList &folders)
{
    auto set = std::make_shared<InstrumentDefinitions>();
    std::vector<RefusedDefinition> &refused = set->m_refused;
    // why follows the path after separator: " " for the file's own state,
    // ": " for what its text says.
    const auto refuse = [&refused](const QString &path, const QByteArray &text, const char *separator,
                                   const QString &why) {
        refused.push_back({path, lineValue(text, "Marca"), lineValue(text, "Modello"), why});
        qCWarning(lcConfig).noquote()
            << QStringLiteral("instrument definition %1%2%3; it is not used").arg(path, QLatin1String(separator), why);
    };
    for (const QString &folder : folders) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList({QStringLiteral("*.ini")}, QDir::Files | QDir::Readable, QDir::Name)) {
            const QString path = dir.filePath(name);
            QString why;
            const std::optional<QByteArray> bytes = boundedRead(path, &why);
            if (!bytes) {
                refuse(path, {}, " ", why);
                continue;
            }
            DefinitionProblem problem;
            std::unique_ptr<InstrumentDefinition> def = readDefinition(*bytes, path, &problem);
            if (!def) {
                refuse(path, *bytes, ": ",
                       QStringLiteral("[%1]%2 %3")
                           .arg(problem.group, problem.key.isEmpty() ? QString() : QLatin1Char(' ') + problem.key,
                                problem.problem));
                continue;
            }
            QString taken;
            for (const InstrumentModel *row : set->knownModels()) {
                if (sameName(*row, def->row.brand, def->row.model))
                    taken = row->source.isEmpty() ? QStringLiteral("a built-in model") : row->source;
            }
            if (!taken.isEmpty()) {
                refuse(path, *bytes, ": ",
                       QStringLiteral("[%1] Marca/Modello %2 %3 is already %4")
                           .arg(QLatin1String(kGroup), def->row.brand, def->row.model, taken));
                continue;
            }
            qCDebug(lcConfig).noquote() << QStringLiteral("instrument definition %1: %2 %3 (%4)")
                                               .arg(path, def->row.brand, def->row.model,
                                                    def->row.operationNames().join(QLatin1String(", ")));
            set->m_definitions.push_back(std::move(def));
        }
    }
    return set;
}

std::shared_ptr<const InstrumentDefinitions> InstrumentDefinitions::none()
{
    return std::make_shared<const InstrumentDefinitions>();
}

std::vector<const InstrumentModel *> InstrumentDefinitions::definedModels() const
{
    std::vector<const InstrumentModel *> rows;
    for (const std::unique_ptr<InstrumentDefinition> &def : m_definitions)
        rows.push_back(&def->row);
    return rows;
}

std::vector<const InstrumentModel *> InstrumentDefinitions::knownModels() const
{
    std::vector<const InstrumentModel *> rows;
    for (const InstrumentModel &row : builtInModels())
        rows.push_back(&row);
    for (const InstrumentModel *row : definedModels())
        rows.push_back(row);
    return rows;
}

const Recipe *InstrumentDefinitions::recipe(const QString &operation, const QString &brand, const QString &model) const
{
    // Joined as the name of a driver operation, so a brand or model with
    // blanks or "_" in it matches exactly what that name would.
    if (const Recipe *builtIn = findRecipe(operation + QLatin1Char('_') + brand + QLatin1Char('_') + model))
        return builtIn;
    for (const std::unique_ptr<InstrumentDefinition> &def : m_definitions) {
        if (!sameName(def->row, brand, model))
            continue;
        for (int i = 0; i < def->count; ++i) {
            if (operation == QLatin1String(def->recipes[i].operation))
                return &def->recipes[i];
        }
    }
    return nullptr;
}

} // namespace quorvex
