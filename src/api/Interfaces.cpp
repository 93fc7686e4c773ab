#include "api/Interfaces.h"

#include "api/BusNames.h"

#include <QFile>
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

// The <interface> element of an interface file compiled into the program.
QString interfaceElement(const QString &resource)
{
    QFile file(resource);
    file.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(file.readAll());
    const qsizetype begin = text.indexOf(QLatin1String("<interface"));
    const qsizetype end = text.lastIndexOf(QLatin1String("</interface>"));
    return begin < 0 || end < 0 ? QString() : text.mid(begin, end - begin + 12) + QLatin1Char('\n');
}

Interface readInterface(const char *name)
{
    const QString element = interfaceElement(QStringLiteral(":/data/%1.xml").arg(QLatin1String(name)));
    return {QLatin1String(name), element, readMethods(element)};
}

} // namespace

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
                method->signature += attr("type");
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

const std::vector<Interface> &interfaces()
{
    static const std::vector<Interface> all{readInterface(kInterfaceName), readInterface(kDiagnosticsInterface),
                                            readInterface(kHistoryInterface)};
    return all;
}

const Interface *findInterface(const QString &name)
{
    for (const Interface &interface : interfaces()) {
        if (interface.name == name)
            return &interface;
    }
    return nullptr;
}

} // namespace quorvex
