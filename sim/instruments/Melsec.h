// MELSEC programmable controller on its computer link.
//
// ENQ (0x05) is answered with ACK (0x06), with a refusal (NAK, 0x15) or not
// at all, as set. A frame (STX, text, ETX, two checksum characters) is
// recorded exactly as received and answered with ACK. Other bytes are
// ignored. Tests can append extra bytes to the ACK that answers ENQ.
#pragma once

#include "sim/Instrument.h"

#include <vector>

namespace sim {

class Melsec : public Instrument {
public:
    enum class EnqAnswer { Ack, Refuse, None };

    Melsec() : Instrument("melsec") {}

    void setEnqAnswer(EnqAnswer answer)
    {
        std::lock_guard lock(m_mutex);
        m_enqAnswer = answer;
    }
    // Bytes sent right after the ACK to ENQ, in the same transmission.
    void setAckExtra(std::string bytes)
    {
        std::lock_guard lock(m_mutex);
        m_ackExtra = std::move(bytes);
    }
    // Every complete frame received, STX to the last checksum character.
    std::vector<std::string> frames() const
    {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }
    int enquiries() const
    {
        std::lock_guard lock(m_mutex);
        return m_enquiries;
    }

    // Keys: enq (ack, refuse, none), ack-extra; then the Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override
    {
        if (key == "enq") {
            if (value == "ack")
                setEnqAnswer(EnqAnswer::Ack);
            else if (value == "refuse")
                setEnqAnswer(EnqAnswer::Refuse);
            else if (value == "none")
                setEnqAnswer(EnqAnswer::None);
            else
                return false;
            return true;
        }
        if (key == "ack-extra") {
            setAckExtra(std::string(value));
            return true;
        }
        return Instrument::setOption(key, value);
    }

protected:
    void onReceived(std::string_view bytes) override
    {
        for (char c : bytes) {
            if (m_inFrame) {
                m_frame.push_back(c);
                if (m_afterEtx >= 0)
                    ++m_afterEtx;
                else if (c == '\x03')
                    m_afterEtx = 0;
                if (m_afterEtx == 2 || m_frame.size() > 256) {
                    {
                        std::lock_guard lock(m_mutex);
                        m_frames.push_back(m_frame);
                    }
                    m_inFrame = false;
                    reply("\x06");
                }
                continue;
            }
            if (c == '\x02') {
                m_inFrame = true;
                m_frame.assign(1, c);
                m_afterEtx = -1;
            } else if (c == '\x05') {
                EnqAnswer answer;
                std::string extra;
                {
                    std::lock_guard lock(m_mutex);
                    ++m_enquiries;
                    answer = m_enqAnswer;
                    extra = m_ackExtra;
                }
                if (answer == EnqAnswer::Ack)
                    reply("\x06" + extra);
                else if (answer == EnqAnswer::Refuse)
                    reply("\x15");
            }
        }
    }

private:
    mutable std::mutex m_mutex;
    EnqAnswer m_enqAnswer = EnqAnswer::Ack;
    std::string m_ackExtra;
    std::vector<std::string> m_frames;
    int m_enquiries = 0;
    // only touched on the simulator thread
    bool m_inFrame = false;
    int m_afterEtx = -1;
    std::string m_frame;
};

} // namespace sim
