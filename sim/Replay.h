// Plays the instrument's side of a capture (see docs/capture.md): each
// chunk the server wrote is a request, the bytes received after it the
// instrument's answer. A recorded request gets the next recorded answer to
// it, chunk by chunk at the recorded delays; bytes that came unasked (a
// continuous instrument) are played as a stream with their recorded timing.
// At the end it falls silent, or starts over when looping.
#pragma once

#include "sim/Instrument.h"

#include "common/Capture.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class Replay : public Instrument {
public:
    // The chunks of `port` in the capture (-1: the port of the first chunk).
    // Throws std::invalid_argument when the capture has none for it.
    Replay(const quorvex::capture::Capture &capture, int port, bool loop);

    // The port's line settings as recorded ("9600,N,8,1"; "-" if unknown).
    const std::string &settings() const { return m_settings; }
    int port() const { return m_port; }
    std::size_t exchanges() const { return m_exchangeCount; }
    std::size_t streamChunks() const { return m_stream.size(); }

protected:
    void onReceived(std::string_view bytes) override;
    void onTick() override;

private:
    struct Piece {
        std::chrono::microseconds after; // since the request (or the stream's start)
        std::string bytes;
    };
    using Answer = std::vector<Piece>;
    struct Answers {
        std::vector<Answer> recorded;
        std::size_t next = 0;
    };

    void answer(Answers &answers);

    int m_port = -1;
    std::string m_settings;
    bool m_loop = false;
    std::size_t m_exchangeCount = 0;
    std::size_t m_longestRequest = 0;
    std::map<std::string, Answers> m_answers; // by request
    std::vector<Piece> m_stream;
    std::mutex m_mutex;
    std::string m_input; // received since the last recognised request
    std::chrono::steady_clock::time_point m_streamStart{};
    std::size_t m_streamNext = 0;
};

} // namespace sim
