#include "drivers/DriverTable.h"

#include "drivers/line/ComarProface.h"
#include "drivers/line/Melsec.h"
#include "drivers/line/RlcController.h"
#include "drivers/scales/PolledScales.h"
#include "drivers/scales/ContinuousScales.h"
#include "drivers/line/CtmCounter.h"
#include "drivers/line/Ps11.h"
#include "drivers/line/ElapCounters.h"

#include <array>

namespace quorvex {

namespace {

// One row per driver operation. To support a new instrument, write its
// protocol file and add its operations here (and to the operation table).
const DriverEntry kDrivers[] = {
    {"LeggiPeso_BILANCIAI_D400", LeggiPeso_BILANCIAI_D400},
    {"LeggiTara_BILANCIAI_D400", LeggiTara_BILANCIAI_D400},
    {"LeggiPeso_EUROBIL_BC100M", LeggiPeso_EUROBIL_BC100M},
    {"LeggiPeso_EUROBIL_FLYTN", LeggiPeso_EUROBIL_FLYTN},
    {"LeggiPeso_PAVONE_MC100", LeggiPeso_PAVONE_MC100},
    {"LeggiPeso_BMC_507", LeggiPeso_BMC_507},
    {"LeggiPeso_ALFABILICI_807", LeggiPeso_ALFABILICI_807},
    {"LeggiLunghezza_CTM_1", LeggiLunghezza_CTM_1},
    {"LeggiAltezza_CTM_1", LeggiAltezza_CTM_1},
    {"AzzeraLunghezza_CTM_1", AzzeraLunghezza_CTM_1},
    {"LeggiPeso_CTM_PS11", LeggiPeso_CTM_PS11},
    {"LeggiLunghezza_ELAP_CM78", LeggiLunghezza_ELAP_CM78},
    {"LeggiLunghezza_ELAP_CM78A", LeggiLunghezza_ELAP_CM78A},
    {"LeggiPeso_ELAP_CM78", LeggiPeso_ELAP_CM78},
    {"LeggiPeso_ELAP_CM78A", LeggiPeso_ELAP_CM78A},
    {"AzzeraLunghezza_ELAP_CM78", AzzeraLunghezza_ELAP_CM78},
    {"AzzeraLunghezza_ELAP_CM78A", AzzeraLunghezza_ELAP_CM78A},
    {"LeggiLunghezza_RLC_1", LeggiLunghezza_RLC_1},
    {"LeggiPeso_RLC_1", LeggiPeso_RLC_1},
    {"AzzeraLunghezza_RLC_1", AzzeraLunghezza_RLC_1},
    {"LeggiPeso_COMAR_PROFACE", LeggiPeso_COMAR_PROFACE},
    {"LeggiLunghezza_COMAR_PROFACE", LeggiLunghezza_COMAR_PROFACE},
    {"AzzeraLunghezza_COMAR_PROFACE", AzzeraLunghezza_COMAR_PROFACE},
    {"ScriviServizio_CTM_MELSEC", nullptr, ScriviServizio_CTM_MELSEC},
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
