// COMAR PROFACE.
//
// Commands are "@1" (length), "@2" (weight) and "@3" (zero the length), each
// ended by CR. A reading is answered with 9 bytes: "@", the command digit,
// "RD06", the value high byte first, CR. The zero is answered with the 10
// characters "@3ZEROOK" CR LF and sets the length to 0.
//
// Tests can shorten or lengthen the replies, fill the header bytes with
// anything, and use everything Instrument offers (silence, delay, noise,
// pacing, chunking).
#pragma once

#include "sim/CrLines.h"
#include "sim/Instrument.h"

#include <cstdint>

namespace sim {

class Proface : public Instrument {
public:
    Proface() : Instrument("proface") {}

    void setWeight(std::uint16_t value)
    {
        std::lock_guard lock(m_mutex);
        m_weight = value;
    }
    void setLength(std::uint16_t value)
    {
        std::lock_guard lock(m_mutex);
        m_length = value;
    }
    std::uint16_t length() const
    {
        std::lock_guard lock(m_mutex);
        return m_length;
    }
    // Total length of a reading reply: shorter truncates it, longer appends
    // blanks. 0 = natural length (9).
    void setReplyLength(std::size_t length)
    {
        std::lock_guard lock(m_mutex);
        m_replyLength = length;
    }
    // The six bytes before the value; must be six long.
    void setHeader(std::string six)
    {
        std::lock_guard lock(m_mutex);
        m_header = std::move(six);
    }
    int zeroCommands() const
    {
        std::lock_guard lock(m_mutex);
        return m_zeroCommands;
    }

    std::string readingFrame(char command) const
    {
        std::lock_guard lock(m_mutex);
        const std::uint16_t value = command == '1' ? m_length : m_weight;
        std::string frame = m_header.empty() ? std::string{'@', command, 'R', 'D', '0', '6'} : m_header;
        frame += char(value >> 8);
        frame += char(value & 0xFF);
        frame += '\r';
        if (m_replyLength)
            frame.resize(m_replyLength, ' ');
        return frame;
    }

    // Keys: weight, length, reply-length, header; then the Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override
    {
        long long n = 0;
        if (key == "header") {
            if (value.size() != 6)
                return false;
            setHeader(std::string(value));
            return true;
        }
        if (key == "weight" || key == "length" || key == "reply-length") {
            if (!parseInt(value, n) || n < 0 || (key != "reply-length" && n > 0xFFFF))
                return false;
            if (key == "weight")
                setWeight(std::uint16_t(n));
            else if (key == "length")
                setLength(std::uint16_t(n));
            else
                setReplyLength(std::size_t(n));
            return true;
        }
        return Instrument::setOption(key, value);
    }

protected:
    void onReceived(std::string_view bytes) override
    {
        m_lines.feed(bytes, [this](std::string_view line) {
            if (line.ends_with("@1"))
                reply(readingFrame('1'));
            else if (line.ends_with("@2"))
                reply(readingFrame('2'));
            else if (line.ends_with("@3")) {
                {
                    std::lock_guard lock(m_mutex);
                    m_length = 0;
                    ++m_zeroCommands;
                }
                reply("@3ZEROOK\r\n");
            }
        });
    }

private:
    mutable std::mutex m_mutex;
    std::uint16_t m_weight = 0;
    std::uint16_t m_length = 0;
    std::size_t m_replyLength = 0;
    std::string m_header;
    int m_zeroCommands = 0;
    CrLines m_lines; // only touched on the simulator thread
};

} // namespace sim
