#include "drivers/DriverTable.h"

#include "drivers/line/ComarProface.h"
#include "drivers/line/RlcController.h"
#include "drivers/scales/PolledScales.h"

#include <array>

namespace quorvex {

namespace {

// One row per driver operation. To support a new instrument, write its
// protocol file and add its operations here (and to the operation table).
const DriverEntry kDrivers[] = {
    {"LeggiPeso_BILANCIAI_D400", LeggiPeso_BILANCIAI_D400},
    {"LeggiTara_BILANCIAI_D400", LeggiTara_BILANCIAI_D400},
    {"LeggiPeso_EUROBIL_BC100M", LeggiPeso_EUROBIL_BC100M},
    {"LeggiLunghezza_RLC_1", LeggiLunghezza_RLC_1},
    {"LeggiPeso_RLC_1", LeggiPeso_RLC_1},
    {"AzzeraLunghezza_RLC_1", AzzeraLunghezza_RLC_1},
    {"LeggiPeso_COMAR_PROFACE", LeggiPeso_COMAR_PROFACE},
    {"LeggiLunghezza_COMAR_PROFACE", LeggiLunghezza_COMAR_PROFACE},
    {"AzzeraLunghezza_COMAR_PROFACE", AzzeraLunghezza_COMAR_PROFACE},
};

} // namespace

const DriverEntry *findDriver(const QString &name)
{
    for (const DriverEntry &entry : kDrivers) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

} // namespace quorvex
