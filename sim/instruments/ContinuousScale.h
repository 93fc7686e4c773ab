// Scales that transmit their weight over and over without being asked:
// EUROBIL FLYTN, PAVONE MC100, BMC 507 and ALFABILICI 807.
//
// Every tick (setTickInterval; 20 ms by default once started) the scale sends
// one frame: head, marker, filler, weight field, tail. Noise set with
// setNoise / setRandomNoise goes out before every frame, so it lands between
// frames. Tests can send frames without the marker, a raw field text, a raw
// whole frame, or make the scale fall silent after k frames. Anything the
// server writes is recorded and otherwise ignored.
#pragma once

#include "sim/Instrument.h"

#include <charconv>
#include <mutex>
#include <optional>

namespace sim {

class ContinuousScale : public Instrument {
public:
    struct Layout {
        std::string head; // before the marker
        char marker;
        std::string filler; // between the marker and the field
        int fieldWidth;
        bool zeroPadded; // "012.50" rather than " 12.50"
        int decimals;
        std::string tail; // after the field
    };

    ContinuousScale(std::string model, Layout layout) : Instrument(std::move(model)), m_layout(std::move(layout))
    {
        setTickInterval(Milliseconds(20));
    }

    void setWeight(double weight)
    {
        std::lock_guard lock(m_mutex);
        m_weight = weight;
    }
    // Exact characters in place of the formatted weight; nullopt = weight.
    void setWeightField(std::optional<std::string> raw)
    {
        std::lock_guard lock(m_mutex);
        m_field = std::move(raw);
    }
    // Exact bytes in place of the whole frame; nullopt = built frame.
    void setFrame(std::optional<std::string> raw)
    {
        std::lock_guard lock(m_mutex);
        m_frame = std::move(raw);
    }
    // Frames leave out the marker (a blank stands in its place).
    void setMarkerless(bool markerless)
    {
        std::lock_guard lock(m_mutex);
        m_markerless = markerless;
    }
    // Falls silent after this many more frames; nullopt = keeps sending.
    void setStopAfter(std::optional<long> frames)
    {
        std::lock_guard lock(m_mutex);
        m_left = frames;
    }
    long framesSent() const
    {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }

    std::string frame() const
    {
        std::lock_guard lock(m_mutex);
        return buildFrame();
    }

    // Keys: weight, field, frame, markerless (0/1), stop-after; then the
    // Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override
    {
        double number = 0;
        long long integer = 0;
        if (key == "weight" && parseDouble(value, number))
            setWeight(number);
        else if (key == "field")
            setWeightField(std::string(value));
        else if (key == "frame")
            setFrame(std::string(value));
        else if (key == "markerless" && parseInt(value, integer))
            setMarkerless(integer != 0);
        else if (key == "stop-after" && parseInt(value, integer) && integer >= 0)
            setStopAfter(static_cast<long>(integer));
        else if (key == "weight" || key == "markerless" || key == "stop-after")
            return false;
        else
            return Instrument::setOption(key, value);
        return true;
    }

protected:
    void onReceived(std::string_view) override {}

    void onTick() override
    {
        std::string bytes;
        {
            std::lock_guard lock(m_mutex);
            if (m_left) {
                if (*m_left <= 0)
                    return;
                --*m_left;
            }
            ++m_sent;
            bytes = buildFrame();
        }
        reply(std::move(bytes));
    }

private:
    std::string buildFrame() const
    {
        if (m_frame)
            return *m_frame;
        std::string field;
        if (m_field) {
            field = *m_field;
        } else {
            // to_chars ignores the C library's locale: '.' is always the mark.
            char buf[64];
            const auto end =
                std::to_chars(buf, buf + sizeof buf, m_weight, std::chars_format::fixed, m_layout.decimals).ptr;
            field.assign(buf, end);
            const auto width = static_cast<std::size_t>(m_layout.fieldWidth);
            if (field.size() < width) {
                const bool negative = field.front() == '-';
                const std::size_t at = m_layout.zeroPadded && negative ? 1 : 0;
                field.insert(at, width - field.size(), m_layout.zeroPadded ? '0' : ' ');
            }
        }
        return m_layout.head + (m_markerless ? ' ' : m_layout.marker) + m_layout.filler + field + m_layout.tail;
    }

    const Layout m_layout;
    mutable std::mutex m_mutex;
    double m_weight = 0.0;
    std::optional<std::string> m_field;
    std::optional<std::string> m_frame;
    bool m_markerless = false;
    std::optional<long> m_left;
    long m_sent = 0;
};

// FLYTN: CR, LF, 6-character field, " kg " (12 characters).
class Flytn : public ContinuousScale {
public:
    Flytn() : ContinuousScale("flytn", {"", '\r', "\n", 6, false, 2, " kg "}) {}
};

// MC100: STX, 7 status characters, zero-padded 6-character field, "kg", CR, LF.
class Mc100 : public ContinuousScale {
public:
    Mc100() : ContinuousScale("mc100", {"", '\x02', "ST,GS, ", 6, true, 2, "kg\r\n"}) {}
};

// BMC 507: "$", a status character, 6-character field, " kg G  ", CR, LF.
class Bmc507 : public ContinuousScale {
public:
    Bmc507() : ContinuousScale("bmc507", {"", '$', "G", 6, false, 2, " kg    \r\n"}) {}
};

// ALFABILICI 807: "$", 7-character field, " kg", CR, LF.
class Alfabilici807 : public ContinuousScale {
public:
    Alfabilici807() : ContinuousScale("alfabilici807", {"", '$', "", 7, false, 2, " kg\r\n"}) {}
};

} // namespace sim
