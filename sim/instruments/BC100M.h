// EUROBIL BC100M scale, polled.
//
// The single byte '$' (no terminator) asks for the weight; the answer is a
// 7-character right-aligned field with '.' as decimal mark (e.g. "  12.50")
// and CR, 8 characters. The model has no tare request.
#pragma once

#include "sim/PolledScale.h"

namespace sim {

class BC100M : public PolledScale {
public:
    BC100M() : PolledScale("bc100m", {7, '.', 2, "\r", ""}) {}

protected:
    void onReceived(std::string_view bytes) override
    {
        for (char c : bytes)
            if (c == '$')
                reply(weightFrame());
    }
};

} // namespace sim
