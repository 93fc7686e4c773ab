// ELAP counters CM78 and CM78A.
//
// "@r01" CR asks for the value, "@R01" CR zeroes it (answered "@R01" CR,
// which a driver does not wait for). The CM78 answers 18 characters:
// "@r01 =", the value in 8 characters with '.' as the decimal point
// ("0012.345"), " m", CR, LF. The CM78A answers 13: "@=", the value in 7
// characters ("123.456"), " m", CR, LF. Tests can send a raw field or cut
// the answer short.
#pragma once

#include "sim/CrLines.h"
#include "sim/Instrument.h"

#include <charconv>
#include <mutex>
#include <optional>

namespace sim {

class ElapCounter : public Instrument {
public:
    struct Layout {
        std::string head;
        int fieldWidth;
        int decimals;
        std::string tail;
    };

    ElapCounter(std::string model, Layout layout) : Instrument(std::move(model)), m_layout(std::move(layout)) {}

    void setValue(double value)
    {
        std::lock_guard lock(m_mutex);
        m_value = value;
    }
    double value() const
    {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void setField(std::optional<std::string> raw)
    {
        std::lock_guard lock(m_mutex);
        m_field = std::move(raw);
    }
    // Answers are cut to this many characters; 0 = whole answer.
    void setReplyLength(std::size_t length)
    {
        std::lock_guard lock(m_mutex);
        m_length = length;
    }
    int zeroCommands() const
    {
        std::lock_guard lock(m_mutex);
        return m_zeroes;
    }

    std::string answer() const
    {
        std::lock_guard lock(m_mutex);
        std::string field;
        if (m_field) {
            field = *m_field;
        } else {
            // to_chars ignores the C library's locale: '.' is the point.
            char buf[64];
            const auto end =
                std::to_chars(buf, buf + sizeof buf, m_value, std::chars_format::fixed, m_layout.decimals).ptr;
            field.assign(buf, end);
            const auto width = static_cast<std::size_t>(m_layout.fieldWidth);
            if (field.size() < width)
                field.insert(0, width - field.size(), '0');
        }
        std::string out = m_layout.head + field + m_layout.tail;
        if (m_length && m_length < out.size())
            out.resize(m_length);
        return out;
    }

    // Keys: value, field, length; then the Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override
    {
        double number = 0;
        long long n = 0;
        if (key == "value" && parseDouble(value, number))
            setValue(number);
        else if (key == "field")
            setField(std::string(value));
        else if (key == "length" && parseInt(value, n) && n >= 0)
            setReplyLength(static_cast<std::size_t>(n));
        else if (key == "value" || key == "length")
            return false;
        else
            return Instrument::setOption(key, value);
        return true;
    }

protected:
    void onReceived(std::string_view bytes) override
    {
        m_lines.feed(bytes, [this](std::string_view line) {
            if (line.ends_with("@r01")) {
                reply(answer());
            } else if (line.ends_with("@R01")) {
                {
                    std::lock_guard lock(m_mutex);
                    m_value = 0;
                    ++m_zeroes;
                }
                reply("@R01\r");
            }
        });
    }

private:
    const Layout m_layout;
    mutable std::mutex m_mutex;
    double m_value = 0;
    std::optional<std::string> m_field;
    std::size_t m_length = 0;
    int m_zeroes = 0;
    CrLines m_lines; // only touched on the simulator thread
};

class Cm78 : public ElapCounter {
public:
    Cm78() : ElapCounter("cm78", {"@r01 =", 8, 3, " m\r\n"}) {}
};

class Cm78A : public ElapCounter {
public:
    Cm78A() : ElapCounter("cm78a", {"@=", 7, 3, " m\r\n"}) {}
};

} // namespace sim
