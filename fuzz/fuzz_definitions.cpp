// Instrument definition files: any bytes give a model or a problem naming
// where it is; a model always serves at least one operation, each with a
// recipe pointing back at its settings.
#include "FuzzLocale.h"
#include "drivers/InstrumentDefinitions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView text = fuzzReply(data, size);
    quorvex::DefinitionProblem problem;
    const std::unique_ptr<quorvex::InstrumentDefinition> def =
        quorvex::readDefinition(text, QStringLiteral("fuzz.ini"), &problem);
    if (!def) {
        if (problem.problem.isEmpty())
            __builtin_trap();
        return 0;
    }
    if (def->count < 1 || def->count > 5 || def->row.operations.size() != size_t(def->count))
        __builtin_trap();
    for (int i = 0; i < def->count; ++i) {
        const quorvex::Recipe &recipe = def->recipes[i];
        if (recipe.defined != &def->operations[i] || recipe.timeout.count() < 1 || recipe.attempts < 1)
            __builtin_trap();
        const quorvex::DefinedOperation &op = def->operations[i];
        if (!op.example.isEmpty())
            (void)quorvex::definedNumber(op.example, op);
    }
    return 0;
}
