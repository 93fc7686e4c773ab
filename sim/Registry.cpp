#include "sim/Registry.h"

#include "sim/instruments/BC100M.h"
#include "sim/instruments/ContinuousScale.h"
#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"
#include "sim/instruments/Elap.h"
#include "sim/instruments/Melsec.h"
#include "sim/instruments/Proface.h"
#include "sim/instruments/Ps11.h"
#include "sim/instruments/Rlc1.h"

namespace sim {

namespace {
template<class T> Handle<Instrument> create()
{
    return make<T>();
}

constexpr std::string_view kScaleOptions = "--weight X  --decimals N  --field TEXT  --length N";
} // namespace

const std::vector<ModelInfo> &models()
{
    static const std::vector<ModelInfo> table = {
        {"d400", "BILANCIAI D400 indicator: \"XB\\r\" weight, \"XT\\r\" tare, 15-char frame",
         "--weight X  --tare X  --decimals N  --field TEXT  --tare-field TEXT  --length N", create<D400>},
        {"bc100m", "EUROBIL BC100M scale: \"$\" weight, 8-char frame", kScaleOptions, create<BC100M>},
        {"flytn", "EUROBIL FLYTN continuous scale: CR LF field(6) \" kg \" every tick",
         "--weight X  --field TEXT  --frame BYTES  --markerless 0|1  --stop-after K  --tick MS", create<Flytn>},
        {"mc100", "PAVONE MC100 continuous scale: STX, 7 status chars, field(6) zero-padded",
         "--weight X  --field TEXT  --frame BYTES  --markerless 0|1  --stop-after K  --tick MS", create<Mc100>},
        {"bmc507", "BMC 507 continuous scale: \"$\", status char, field(6)",
         "--weight X  --field TEXT  --frame BYTES  --markerless 0|1  --stop-after K  --tick MS", create<Bmc507>},
        {"alfabilici807", "ALFABILICI 807 continuous scale: \"$\", field(7)",
         "--weight X  --field TEXT  --frame BYTES  --markerless 0|1  --stop-after K  --tick MS", create<Alfabilici807>},
        {"ctm1", "CTM counter model 1: STX P CR count with XOR check, STX A CR zero",
         "--count N  --bad-checks K  --digits DDDDD  --length N", create<CtmCounter>},
        {"ps11", "CTM PS11 weight stream: DC1 starts 12-byte frames, DC3 stops",
         "--weight N  --bad-frames K  --tick MS", create<Ps11>},
        {"cm78", "ELAP CM78 counter: \"@r01\\r\" 18-char answer, \"@R01\\r\" zero",
         "--value X  --field TEXT  --length N", create<Cm78>},
        {"cm78a", "ELAP CM78A counter: \"@r01\\r\" 13-char answer, \"@R01\\r\" zero",
         "--value X  --field TEXT  --length N", create<Cm78A>},
        {"rlc1", "RLC controller model 1: \"<0161>\" status (length, weight), \"<0262>\" zero",
         "--length H  --weight H  --status XX  --bad-checksums K  --checksum XX  --lower  --trailer TEXT  --raw TEXT",
         create<Rlc1>},
        {"proface", "COMAR PROFACE: \"@1\\r\" length, \"@2\\r\" weight (binary, bytes 6-7), \"@3\\r\" zero",
         "--weight N  --length N  --reply-length N  --header SIXCHARS", create<Proface>},
        {"melsec", "MELSEC controller: ENQ answered with ACK/NAK/nothing, frames STX..ETX+2 recorded and ACKed",
         "--enq ack|refuse|none  --ack-extra BYTES", create<Melsec>},
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
