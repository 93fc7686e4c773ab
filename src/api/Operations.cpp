#include "api/Operations.h"

#include <QFile>
#include <QHash>
#include <QXmlStreamReader>

namespace quorvex {

namespace {

constexpr char kAnnotationPrefix[] = "com.velkaro.Quorvex.";

ValueType valueType(const QString &signature, const QString &name)
{
    if (signature == QLatin1String("b"))
        return ValueType::Boolean;
    if (signature == QLatin1String("d"))
        return ValueType::Double;
    if (signature == QLatin1String("v"))
        return ValueType::Any;
    if (signature == QLatin1String("s"))
        return name == QLatin1String("MSCObj") ? ValueType::Port : ValueType::Text;
    return ValueType::None;
}

// One <method> element: an operation, or one overload of it.
struct Method {
    QString name;
    int slot = 0;
    quint32 dispId = 0;
    std::vector<Parameter> params;
    ValueType result = ValueType::None;
};

std::vector<Method> readMethods(const QString &xml)
{
    std::vector<Method> methods;
    QXmlStreamReader reader(xml);
    Method *method = nullptr;
    Parameter *param = nullptr;
    while (!reader.atEnd()) {
        reader.readNext();
        const auto attr = [&](const char *name) { return reader.attributes().value(QLatin1String(name)).toString(); };
        if (reader.isStartElement() && reader.name() == QLatin1String("method")) {
            methods.emplace_back();
            methods.back().name = attr("name");
            method = &methods.back();
        } else if (reader.isEndElement() && reader.name() == QLatin1String("method")) {
            method = nullptr;
        } else if (method && reader.isStartElement() && reader.name() == QLatin1String("arg")) {
            param = nullptr;
            if (attr("direction") == QLatin1String("out")) {
                method->result = valueType(attr("type"), QString());
            } else {
                method->params.push_back({attr("name"), valueType(attr("type"), attr("name"))});
                param = &method->params.back();
            }
        } else if (method && reader.isEndElement() && reader.name() == QLatin1String("arg")) {
            param = nullptr;
        } else if (method && reader.isStartElement() && reader.name() == QLatin1String("annotation")) {
            const QString key = attr("name").mid(int(qstrlen(kAnnotationPrefix)));
            const QString value = attr("value");
            if (param && key == QLatin1String("Default"))
                param->defaultValue = value == QLatin1String("true");
            else if (key == QLatin1String("Slot"))
                method->slot = value.toInt();
            else if (key == QLatin1String("DispId"))
                method->dispId = value.toUInt(nullptr, 16);
        }
    }
    Q_ASSERT(!reader.hasError());
    return methods;
}

// Overloads of one name are one operation: the longest gives the
// parameters, and those the shorter ones leave out are optional.
std::vector<Operation> makeOperations()
{
    std::vector<Operation> table;
    for (const Method &method : readMethods(interfaceXml())) {
        if (method.slot == 0)
            continue; // Invoke, which is not an operation of the class
        auto same = std::find_if(table.begin(), table.end(), [&](const Operation &op) { return op.name == method.name; });
        if (same == table.end()) {
            table.push_back({method.slot, method.name, method.dispId, method.params, method.result});
            continue;
        }
        const size_t shorter = std::min(same->params.size(), method.params.size());
        if (method.params.size() > same->params.size())
            same->params = method.params;
        for (size_t i = shorter; i < same->params.size(); ++i)
            same->params[i].optional = true;
    }
    std::sort(table.begin(), table.end(), [](const Operation &a, const Operation &b) { return a.slot < b.slot; });
    for (Operation &op : table) {
        op.model = findInstrumentModel(op.name);
        if (!op.model)
            op.generic = genericOperation(op.name);
    }
    return table;
}

} // namespace

int Operation::requiredCount() const
{
    int n = 0;
    for (const Parameter &p : params)
        n += p.optional ? 0 : 1;
    return n;
}

QString interfaceElement(const QString &resource)
{
    QFile file(resource);
    file.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(file.readAll());
    const qsizetype begin = text.indexOf(QLatin1String("<interface"));
    const qsizetype end = text.lastIndexOf(QLatin1String("</interface>"));
    return begin < 0 || end < 0 ? QString() : text.mid(begin, end - begin + 12) + QLatin1Char('\n');
}

QString interfaceXml()
{
    static const QString xml = interfaceElement(QStringLiteral(":/data/com.velkaro.Quorvex.Global.xml"));
    return xml;
}

const std::vector<Operation> &operations()
{
    static const std::vector<Operation> table = makeOperations();
    return table;
}

const Operation *findOperation(const QString &name)
{
    // The D-Bus member name is the only text looked up on a call.
    static const QHash<QString, const Operation *> byName = [] {
        QHash<QString, const Operation *> index;
        for (const Operation &op : operations())
            index.insert(op.name, &op);
        return index;
    }();
    return byName.value(name);
}

const Operation *findOperation(quint32 dispId)
{
    for (const Operation &op : operations()) {
        if (op.dispId == dispId)
            return &op;
    }
    return nullptr;
}

QString dbusSignature(ValueType type)
{
    switch (type) {
    case ValueType::None: return QString();
    case ValueType::Boolean: return QStringLiteral("b");
    case ValueType::Double: return QStringLiteral("d");
    case ValueType::Text:
    case ValueType::Port: return QStringLiteral("s");
    case ValueType::Any: return QStringLiteral("v");
    }
    return QString();
}

} // namespace quorvex
