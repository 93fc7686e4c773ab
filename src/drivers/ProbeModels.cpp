#include "drivers/ProbeModels.h"

#include "drivers/ExchangeKind.h"

#include <QStringList>
#include <algorithm>

namespace quorvex {

namespace {

// How a probe tries the recipe, if it may: never a recipe that acts on its
// instrument, and only what its kind of exchange allows.
std::optional<ProbeTry> probeTryOf(const Recipe &recipe)
{
    if (recipe.actsOnInstrument || !recipe.exchange->probeTry)
        return std::nullopt;
    return recipe.exchange->probeTry(recipe);
}

} // namespace

std::optional<std::vector<ProbeModel>> probeModels(const InstrumentDefinitions &definitions, const QString &role)
{
    const QString wanted = readingOperationOf(role);
    if (!role.isEmpty() && wanted.isEmpty())
        return std::nullopt;
    std::vector<ProbeModel> models;
    // An open probe takes the reading roles in their order.
    QStringList readings{wanted};
    if (role.isEmpty()) {
        readings.clear();
        for (int r = 0; r < kReadingRoleCount; ++r)
            readings << QLatin1String(operationName(*readingOf(Role(r))));
    }
    for (const QString &reading : readings) {
        for (const InstrumentModel *entry : definitions.knownModels()) {
            const InstrumentModel &model = *entry;
            for (const Recipe *recipe : model.operations) {
                if (reading != QLatin1String(recipe->operation))
                    continue;
                const std::optional<ProbeTry> probe = probeTryOf(*recipe);
                if (!probe)
                    continue;
                const bool known = std::any_of(models.begin(), models.end(), [&](const ProbeModel &m) {
                    return m.brand == model.brand && m.model == model.model;
                });
                if (!known)
                    models.push_back(
                        {model.brand, model.model, QLatin1String(recipe->operation), recipe, model.settings, *probe});
                break;
            }
        }
    }
    return models;
}

std::optional<double> probeReading(const ProbeModel &model, QByteArrayView bytes)
{
    return model.recipe->exchange->probeReading(*model.recipe, bytes);
}

} // namespace quorvex
