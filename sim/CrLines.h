// Collects what the server writes into lines ended by CR (LF is ignored),
// for instruments whose requests are CR-terminated text. A line longer than
// 64 characters keeps only its newest part, so noise cannot grow it.
#pragma once

#include <string>
#include <string_view>

namespace sim {

class CrLines {
public:
    // Calls onLine(line) for every line completed by these bytes.
    template<class OnLine> void feed(std::string_view bytes, OnLine &&onLine)
    {
        for (char c : bytes) {
            if (c == '\n')
                continue;
            if (c != '\r') {
                if (m_line.size() >= 64)
                    m_line.erase(0, 32);
                m_line.push_back(c);
                continue;
            }
            onLine(std::string_view(m_line));
            m_line.clear();
        }
    }

private:
    std::string m_line;
};

} // namespace sim
