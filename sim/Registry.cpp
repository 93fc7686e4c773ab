#include "sim/Registry.h"

#include "sim/instruments/BC100M.h"
#include "sim/instruments/D400.h"
#include "sim/instruments/Proface.h"
#include "sim/instruments/Rlc1.h"

namespace sim {

namespace {
template<class T>
Handle<Instrument> create()
{
    return make<T>();
}

constexpr std::string_view kScaleOptions =
    "--weight X  --decimals N  --field TEXT  --length N";
} // namespace

const std::vector<ModelInfo> &models()
{
    static const std::vector<ModelInfo> table = {
        {"d400", "BILANCIAI D400 indicator: \"XB\\r\" weight, \"XT\\r\" tare, 15-char frame",
         "--weight X  --tare X  --decimals N  --field TEXT  --tare-field TEXT  --length N",
         create<D400>},
        {"bc100m", "EUROBIL BC100M scale: \"$\" weight, 8-char frame", kScaleOptions,
         create<BC100M>},
        {"rlc1", "RLC controller model 1: \"<0161>\" status (length, weight), \"<0262>\" zero", "--length H  --weight H  --status XX  --bad-checksums K  --checksum XX  --lower  --trailer TEXT  --raw TEXT", create<Rlc1>},
        {"proface", "COMAR PROFACE: \"@1\\r\" length, \"@2\\r\" weight (binary, bytes 6-7), \"@3\\r\" zero", "--weight N  --length N  --reply-length N  --header SIXCHARS", create<Proface>},
    };
    return table;
}

Handle<Instrument> createInstrument(std::string_view name)
{
    for (const auto &model : models())
        if (model.name == name)
            return model.create();
    return nullptr;
}

} // namespace sim
