#pragma once
// A driver operation of the instrument table, by its name, callable like a
// function of the port: Driver LeggiPeso_BILANCIAI_D400{"LeggiPeso_BILANCIAI_D400"}.
#include "drivers/Exchanges.h"

#include <stdexcept>

namespace quorvex::testing {

class Driver {
public:
    explicit Driver(const char *name) : m_recipe(findRecipe(QLatin1String(name)))
    {
        if (!m_recipe)
            throw std::logic_error(name);
    }
    QCoro::Task<QVariant> operator()(PortRef port, QString parametri = {}) const
    {
        return runExchange(*m_recipe, std::move(port), std::move(parametri));
    }

private:
    const Recipe *m_recipe;
};

} // namespace quorvex::testing

#define QUORVEX_DRIVER(name)                                                                                           \
    const quorvex::testing::Driver name                                                                                \
    {                                                                                                                  \
#name                                                                                                          \
    }
