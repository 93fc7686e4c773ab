// CTM counter model 1.
//
// STX "P" CR asks for the count; the answer is STX, the count in five
// digits, the check character (XOR of the five digits) and CR: 8 bytes.
// STX "A" CR zeroes the count and is answered with ACK CR. Requests are
// recognised by their last two bytes, so stray bytes before them do not
// matter. Tests can spoil the check character of the next k answers, send
// raw digits, or cut the answer short.
#pragma once

#include "sim/Instrument.h"

#include <mutex>
#include <optional>

namespace sim {

class CtmCounter : public Instrument {
public:
    CtmCounter() : Instrument("ctm1") {}

    void setCount(long count)
    {
        std::lock_guard lock(m_mutex);
        m_count = count;
    }
    long count() const
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    // The next k answers carry a wrong check character.
    void setBadChecks(int k)
    {
        std::lock_guard lock(m_mutex);
        m_badChecks = k;
    }
    // Exactly these five characters in place of the count (the check
    // character is computed over them).
    void setDigits(std::optional<std::string> raw)
    {
        std::lock_guard lock(m_mutex);
        m_digits = std::move(raw);
    }
    // Answers are cut to this many bytes; 0 = whole answer.
    void setReplyLength(std::size_t length)
    {
        std::lock_guard lock(m_mutex);
        m_length = length;
    }
    int readRequests() const
    {
        std::lock_guard lock(m_mutex);
        return m_reads;
    }
    int zeroCommands() const
    {
        std::lock_guard lock(m_mutex);
        return m_zeroes;
    }

    // Keys: count, bad-checks, digits, length; then the Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override
    {
        long long n = 0;
        if (key == "count" && parseInt(value, n) && n >= 0 && n <= 99999)
            setCount(static_cast<long>(n));
        else if (key == "bad-checks" && parseInt(value, n) && n >= 0)
            setBadChecks(static_cast<int>(n));
        else if (key == "digits" && value.size() == 5)
            setDigits(std::string(value));
        else if (key == "length" && parseInt(value, n) && n >= 0)
            setReplyLength(static_cast<std::size_t>(n));
        else if (key == "count" || key == "bad-checks" || key == "digits" || key == "length")
            return false;
        else
            return Instrument::setOption(key, value);
        return true;
    }

    // The answer to a read request for these five characters.
    static std::string answerFor(const std::string &digits, bool spoilCheck)
    {
        char check = 0;
        for (char c : digits)
            check ^= c;
        if (spoilCheck)
            check ^= 0x01;
        return "\x02" + digits + check + "\r";
    }

protected:
    void onReceived(std::string_view bytes) override
    {
        for (char c : bytes) {
            m_tail.push_back(c);
            if (m_tail.size() > 2)
                m_tail.erase(0, m_tail.size() - 2);
            if (c != '\r')
                continue;
            if (m_tail == "P\r")
                reply(readAnswer());
            else if (m_tail == "A\r")
                reply(zero());
        }
    }

private:
    static std::string fiveDigits(long count)
    {
        std::string out(5, '0');
        count %= 100000;
        for (int i = 4; i >= 0 && count > 0; --i, count /= 10)
            out[std::size_t(i)] = char('0' + count % 10);
        return out;
    }

    std::string readAnswer()
    {
        std::lock_guard lock(m_mutex);
        ++m_reads;
        std::string digits = m_digits ? *m_digits : fiveDigits(m_count);
        const bool spoil = m_badChecks > 0;
        if (spoil)
            --m_badChecks;
        std::string out = answerFor(digits, spoil);
        if (m_length && m_length < out.size())
            out.resize(m_length);
        return out;
    }

    std::string zero()
    {
        std::lock_guard lock(m_mutex);
        ++m_zeroes;
        m_count = 0;
        return "\x06\r";
    }

    mutable std::mutex m_mutex;
    long m_count = 0;
    int m_badChecks = 0;
    std::optional<std::string> m_digits;
    std::size_t m_length = 0;
    int m_reads = 0;
    int m_zeroes = 0;
    std::string m_tail; // only touched on the simulator thread
};

} // namespace sim
