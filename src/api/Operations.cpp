#include "api/Operations.h"

namespace quorvex {

namespace {

using V = ValueType;
const Parameter kPort{"MSCObj", V::Port};

Operation driver(int slot, const char *name, quint32 id, V result = V::Double)
{
    return {slot, name, id, {kPort}, result, true};
}

std::vector<Operation> makeOperations()
{
    return {
        {1, "LeggiAltezza", 0x60030000, {{"Force", V::Boolean, true, false}}, V::Double, false},
        {2, "LeggiAltezzaAlPuntoDiOsservazione", 0x60030001, {}, V::Double, false},
        {3, "LeggiPeso", 0x60030002, {}, V::Double, false},
        {4, "AzzeraLunghezza", 0x60030003, {}, V::None, false},
        {5, "LeggiLunghezza", 0x60030004, {{"Force", V::Boolean, true, false}}, V::Double, false},
        driver(6, "LeggiPeso_CTM_PS11", 0x60030006),
        driver(7, "LeggiLunghezza_CTM_1", 0x60030007),
        driver(8, "LeggiAltezza_CTM_1", 0x60030008),
        driver(9, "AzzeraLunghezza_CTM_1", 0x60030009),
        {10, "ShowSettings", 0x6003000a, {}, V::None, false},
        {11, "ShowSampler", 0x6003000b, {{"Show", V::Boolean, true, true}}, V::None, false},
        driver(12, "LeggiPeso_BILANCIAI_D400", 0x6003000f),
        driver(13, "LeggiLunghezza_ELAP_CM78", 0x60030013),
        driver(14, "AzzeraLunghezza_ELAP_CM78", 0x60030014),
        driver(15, "LeggiPeso_PAVONE_MC100", 0x60030018),
        driver(16, "LeggiPeso_COMAR_PROFACE", 0x6003001c),
        driver(17, "LeggiLunghezza_COMAR_PROFACE", 0x6003001d),
        driver(18, "AzzeraLunghezza_COMAR_PROFACE", 0x6003001e),
        {19, "LeggiTara", 0x6003001f, {}, V::Double, false},
        driver(20, "LeggiTara_BILANCIAI_D400", 0x60030023),
        driver(21, "LeggiPeso_EUROBIL_FLYTN", 0x60030027),
        driver(22, "LeggiPeso_ELAP_CM78", 0x6003002b),
        {23, "LeggiServizio", 0x6003002c, {{"parametri", V::Text}}, V::Text, false},
        {24, "ScriviServizio", 0x6003002d, {{"parametri", V::Text}}, V::Text, false},
        {25, "ScriviServizio_CTM_MELSEC", 0x6003002e, {kPort, {"parametri", V::Text}}, V::Text, true},
        {26, "ImpostaServizio", 0x6003002f, {{"parametri", V::Text}}, V::Text, false},
        driver(27, "LeggiLunghezza_RLC_1", 0x60030032),
        driver(28, "LeggiPeso_RLC_1", 0x60030033),
        driver(29, "AzzeraLunghezza_RLC_1", 0x60030034),
        driver(30, "LeggiPeso_EUROBIL_BC100M", 0x60030035),
        driver(31, "LeggiPeso_BMC_507", 0x60030036, V::Any),
        driver(32, "LeggiPeso_ALFABILICI_807", 0x60030039, V::Any),
        driver(33, "LeggiLunghezza_ELAP_CM78A", 0x6003003e),
        driver(34, "AzzeraLunghezza_ELAP_CM78A", 0x60030043),
        driver(35, "LeggiPeso_ELAP_CM78A", 0x60030048),
    };
}

} // namespace

int Operation::requiredCount() const
{
    int n = 0;
    for (const Parameter &p : params)
        n += p.optional ? 0 : 1;
    return n;
}

const std::vector<Operation> &operations()
{
    static const std::vector<Operation> table = makeOperations();
    return table;
}

const Operation *findOperation(const QString &name)
{
    for (const Operation &op : operations()) {
        if (name == QLatin1String(op.name))
            return &op;
    }
    return nullptr;
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
