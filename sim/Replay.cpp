#include "sim/Replay.h"

#include <stdexcept>

namespace sim {

namespace {

using quorvex::capture::Chunk;
using std::chrono::microseconds;

// How far ahead of its time a stream chunk is queued: more than a tick.
constexpr auto kStreamLookAhead = std::chrono::milliseconds(60);

} // namespace

Replay::Replay(const quorvex::capture::Capture &capture, int port, bool loop)
        : Instrument("replay"), m_port(port), m_loop(loop)
{
    std::vector<const Chunk *> chunks;
    for (const Chunk &chunk : capture.chunks) {
        if (m_port == -1 && chunks.empty())
            m_port = chunk.port;
        if (chunk.port == m_port)
            chunks.push_back(&chunk);
    }
    if (chunks.empty())
        throw std::invalid_argument("the capture has no traffic on port " + std::to_string(port));
    m_settings = chunks.front()->settings;

    std::string request;
    std::uint64_t requestEnd = 0; // time of the request's last chunk
    Answer current;
    const auto close = [&] {
        if (request.empty())
            return;
        m_answers[request].recorded.push_back(std::move(current));
        m_longestRequest = std::max(m_longestRequest, request.size());
        ++m_exchangeCount;
        current.clear();
    };
    const std::uint64_t first = chunks.front()->timeUs;
    for (const Chunk *chunk : chunks) {
        // Every write is a request of its own: a stop and a start written one
        // after the other are two requests, each with its own answer.
        if (chunk->sent) {
            close();
            request = chunk->bytes;
            requestEnd = chunk->timeUs;
        } else if (request.empty()) {
            m_stream.push_back({microseconds(chunk->timeUs - first), chunk->bytes});
        } else {
            const auto after = chunk->timeUs > requestEnd ? chunk->timeUs - requestEnd : 0;
            current.push_back({microseconds(after), chunk->bytes});
        }
    }
    close();
    if (!m_stream.empty())
        setTickInterval(std::chrono::milliseconds(20));
}

void Replay::onReceived(std::string_view bytes)
{
    std::lock_guard lock(m_mutex);
    m_input += bytes;
    // The longest recorded request that the input ends with.
    for (std::size_t length = std::min(m_longestRequest, m_input.size()); length > 0; --length) {
        auto found = m_answers.find(m_input.substr(m_input.size() - length));
        if (found != m_answers.end()) {
            m_input.clear();
            answer(found->second);
            return;
        }
    }
    if (m_input.size() > 4 * m_longestRequest + 64)
        m_input.erase(0, m_input.size() - m_longestRequest);
}

void Replay::answer(Answers &answers)
{
    if (answers.next >= answers.recorded.size()) {
        if (!m_loop)
            return; // the capture has no more answers to this request
        answers.next = 0;
    }
    const Answer &recorded = answers.recorded[answers.next++];
    const auto now = std::chrono::steady_clock::now();
    for (const Piece &piece : recorded) {
        const auto due = now + piece.after;
        send(piece.bytes, std::chrono::duration_cast<Milliseconds>(due - std::chrono::steady_clock::now()));
    }
}

void Replay::onTick()
{
    std::lock_guard lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    if (m_streamStart == std::chrono::steady_clock::time_point{})
        m_streamStart = now;
    while (true) {
        if (m_streamNext >= m_stream.size()) {
            if (!m_loop || m_stream.empty())
                return;
            // Over again, one recorded gap after the last chunk.
            const auto gap = m_stream.size() > 1 ? m_stream[1].after - m_stream[0].after : microseconds(20000);
            m_streamStart +=
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(m_stream.back().after + gap);
            m_streamNext = 0;
        }
        const Piece &piece = m_stream[m_streamNext];
        const auto due = m_streamStart + piece.after;
        if (due > now + kStreamLookAhead)
            return;
        send(piece.bytes, std::chrono::duration_cast<Milliseconds>(std::max(due - now, now - now)));
        ++m_streamNext;
    }
}

} // namespace sim
