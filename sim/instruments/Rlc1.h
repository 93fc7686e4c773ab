// RLC controller, model "1".
//
// "<0161>" (no terminator) asks for the status: "(" then the length and the
// weight as 8 hexadecimal digits each, two status characters, two checksum
// digits (sum of the codes of the 18 characters, modulo 256) and ")": 22
// characters. "<0262>" zeroes the length and is answered with "(OK)" CR LF.
//
// Tests can make it misbehave: wrong checksums for the next k replies, a
// fixed checksum text, lower-case digits, another closing text, a raw
// reply text; noise,
// silence, delay, pacing and chunking come from Instrument.
#pragma once

#include "sim/Instrument.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace sim {

class Rlc1 : public Instrument {
public:
    Rlc1() : Instrument("rlc1") {}

    // Raw counts as the instrument sends them (the server reads (h + 9) / 10).
    void setLength(std::uint32_t raw)
    {
        std::lock_guard lock(m_mutex);
        m_length = raw;
    }
    std::uint32_t length() const
    {
        std::lock_guard lock(m_mutex);
        return m_length;
    }
    void setWeight(std::uint32_t raw)
    {
        std::lock_guard lock(m_mutex);
        m_weight = raw;
    }
    // The two characters after the weight, counted in the checksum.
    void setStatus(std::string two)
    {
        std::lock_guard lock(m_mutex);
        m_status = std::move(two);
    }
    // The next k replies carry a checksum one too high.
    void setBadChecksums(int k)
    {
        std::lock_guard lock(m_mutex);
        m_badChecksums = k;
    }
    // Sends these characters in place of the checksum digits; nullopt = computed.
    void setChecksumText(std::optional<std::string> text)
    {
        std::lock_guard lock(m_mutex);
        m_checksumText = std::move(text);
    }
    void setLowerCase(bool lower)
    {
        std::lock_guard lock(m_mutex);
        m_lower = lower;
    }
    // Answers every status request with exactly this text; nullopt = the frame.
    void setRawReply(std::optional<std::string> raw)
    {
        std::lock_guard lock(m_mutex);
        m_raw = std::move(raw);
    }
    // What follows the checksum; ")" by default.
    void setTrailer(std::string trailer)
    {
        std::lock_guard lock(m_mutex);
        m_trailer = std::move(trailer);
    }

    int statusRequests() const
    {
        std::lock_guard lock(m_mutex);
        return m_statusRequests;
    }
    int zeroCommands() const
    {
        std::lock_guard lock(m_mutex);
        return m_zeroCommands;
    }

    // The next status reply; consumes one wrong checksum if any are pending.
    std::string statusFrame()
    {
        std::lock_guard lock(m_mutex);
        if (m_raw)
            return *m_raw;
        const char *format = m_lower ? "%08x%08x" : "%08X%08X";
        char digits[17];
        std::snprintf(digits, sizeof digits, format, unsigned(m_length), unsigned(m_weight));
        const std::string block = std::string(digits) + m_status;
        unsigned sum = 0;
        for (unsigned char c : block)
            sum += c;
        if (m_badChecksums > 0) {
            --m_badChecksums;
            ++sum;
        }
        char checksum[3];
        std::snprintf(checksum, sizeof checksum, m_lower ? "%02x" : "%02X", sum % 256);
        return "(" + block + m_checksumText.value_or(checksum) + m_trailer;
    }

    // Keys: length, weight (raw counts), status, bad-checksums, checksum,
    // lower, trailer, raw; then the Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override
    {
        long long n = 0;
        if (key == "status") {
            setStatus(std::string(value));
            return true;
        }
        if (key == "checksum") {
            setChecksumText(std::string(value));
            return true;
        }
        if (key == "raw") {
            setRawReply(std::string(value));
            return true;
        }
        if (key == "trailer") {
            setTrailer(std::string(value));
            return true;
        }
        if (key == "lower") {
            setLowerCase(value.empty() || value == "1" || value == "on");
            return true;
        }
        if (key == "length" || key == "weight" || key == "bad-checksums") {
            if (!parseInt(value, n) || n < 0 || n > 0xFFFFFFFFLL)
                return false;
            if (key == "length")
                setLength(std::uint32_t(n));
            else if (key == "weight")
                setWeight(std::uint32_t(n));
            else
                setBadChecksums(int(n));
            return true;
        }
        return Instrument::setOption(key, value);
    }

protected:
    // Commands have no terminator: one is recognised by the end of what has
    // arrived, so a request split over several reads still counts.
    void onReceived(std::string_view bytes) override
    {
        for (char c : bytes) {
            if (m_line.size() >= 64)
                m_line.erase(0, 32);
            m_line.push_back(c);
            const std::string_view line(m_line);
            if (line.ends_with("<0161>")) {
                m_line.clear();
                {
                    std::lock_guard lock(m_mutex);
                    ++m_statusRequests;
                }
                reply(statusFrame());
            } else if (line.ends_with("<0262>")) {
                m_line.clear();
                {
                    std::lock_guard lock(m_mutex);
                    ++m_zeroCommands;
                    m_length = 0;
                }
                reply("(OK)\r\n");
            }
        }
    }

private:
    mutable std::mutex m_mutex;
    std::uint32_t m_length = 0;
    std::uint32_t m_weight = 0;
    std::string m_status = "00";
    int m_badChecksums = 0;
    std::optional<std::string> m_checksumText;
    std::optional<std::string> m_raw;
    bool m_lower = false;
    std::string m_trailer = ")";
    int m_statusRequests = 0;
    int m_zeroCommands = 0;
    std::string m_line; // only touched on the simulator thread
};

} // namespace sim
