// CTM PS11 weight stream.
//
// DC1 starts the stream, DC3 stops it. While started, every tick (20 ms by
// default) sends one 12-byte frame: DC1, 0x01, 0x00, weight high, weight
// low, six zero bytes, XOR of bytes 0..10. A weight whose bytes hold 0x11
// puts a DC1 inside the frame, as the real instrument does. Tests can spoil
// the check of the next k frames, send a raw frame, and ask whether the
// stream was left stopped.
#pragma once

#include "sim/Instrument.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace sim {

class Ps11 : public Instrument {
public:
    Ps11() : Instrument("ps11") { setTickInterval(Milliseconds(20)); }

    void setWeight(std::uint16_t weight)
    {
        std::lock_guard lock(m_mutex);
        m_weight = weight;
    }
    // The next k frames carry a wrong check byte.
    void setBadFrames(int k)
    {
        std::lock_guard lock(m_mutex);
        m_badFrames = k;
    }
    // Exactly these bytes in place of every frame; nullopt = built frame.
    void setFrame(std::optional<std::string> raw)
    {
        std::lock_guard lock(m_mutex);
        m_frame = std::move(raw);
    }
    bool streaming() const
    {
        std::lock_guard lock(m_mutex);
        return m_streaming;
    }
    int starts() const
    {
        std::lock_guard lock(m_mutex);
        return m_starts;
    }
    int stops() const
    {
        std::lock_guard lock(m_mutex);
        return m_stops;
    }

    static std::string frameFor(std::uint16_t weight, bool spoilCheck)
    {
        std::string f = {'\x11', '\x01', '\x00', char(weight >> 8), char(weight & 0xff)};
        f.append(6, '\0');
        char check = 0;
        for (char c : f)
            check ^= c;
        f.push_back(spoilCheck ? char(check ^ 0x5a) : check);
        return f;
    }

    // Keys: weight, bad-frames; then the Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override
    {
        long long n = 0;
        if (key == "weight" && parseInt(value, n) && n >= 0 && n <= 65535)
            setWeight(static_cast<std::uint16_t>(n));
        else if (key == "bad-frames" && parseInt(value, n) && n >= 0)
            setBadFrames(static_cast<int>(n));
        else if (key == "weight" || key == "bad-frames")
            return false;
        else
            return Instrument::setOption(key, value);
        return true;
    }

protected:
    void onReceived(std::string_view bytes) override
    {
        std::lock_guard lock(m_mutex);
        for (char c : bytes) {
            if (c == '\x11') {
                m_streaming = true;
                ++m_starts;
            } else if (c == '\x13') {
                m_streaming = false;
                ++m_stops;
            }
        }
    }

    void onTick() override
    {
        std::string bytes;
        {
            std::lock_guard lock(m_mutex);
            if (!m_streaming)
                return;
            if (m_frame) {
                bytes = *m_frame;
            } else {
                const bool spoil = m_badFrames > 0;
                if (spoil)
                    --m_badFrames;
                bytes = frameFor(m_weight, spoil);
            }
        }
        send(std::move(bytes));
    }

private:
    mutable std::mutex m_mutex;
    std::uint16_t m_weight = 0;
    int m_badFrames = 0;
    std::optional<std::string> m_frame;
    bool m_streaming = false;
    int m_starts = 0;
    int m_stops = 0;
};

} // namespace sim
