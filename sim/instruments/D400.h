// BILANCIAI D400 weight indicator, polled.
//
// "XB" CR asks for the weight, "XT" CR for the tare. Each answer is 15
// characters: a 9-character right-aligned field with ',' as decimal mark
// (e.g. "   12,340"), then " kg", two blanks and CR. A line is recognised by
// its last two characters, so stray bytes before a request (leftovers of an
// interrupted transfer) do not make the scale deaf; other lines are ignored.
#pragma once

#include "sim/CrLines.h"
#include "sim/PolledScale.h"

namespace sim {

class D400 : public PolledScale {
public:
    D400() : PolledScale("d400", {9, ',', 3, " kg  \r", " kg  \r"}) {}

protected:
    void onReceived(std::string_view bytes) override
    {
        m_lines.feed(bytes, [this](std::string_view line) {
            if (line.ends_with("XB"))
                reply(weightFrame());
            else if (line.ends_with("XT"))
                reply(tareFrame());
        });
    }

private:
    CrLines m_lines; // only touched on the simulator thread
};

} // namespace sim
