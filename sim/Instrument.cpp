#include "sim/Instrument.h"

#include "sim/Pty.h"
#include "sim/SerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {
// After a hang-up on the master (no slave open) poll() would report POLLHUP
// at once, forever; look at the master again only after this pause.
constexpr Milliseconds kHangupBackoff{50};
// A reader that has not taken a single byte for this long is not listening:
// drop what is queued, as bytes sent to a closed port are lost on a real line.
constexpr std::chrono::seconds kStalledWriteLimit{2};
} // namespace

Instrument::Instrument(std::string model) : m_model(std::move(model)) {}

Instrument::~Instrument()
{
    // Last resort for instruments not created through make()/launch(); a
    // subclass hook could still be running here, which is why Handle stops
    // the thread before the subclass is destroyed.
    stop();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void Instrument::start()
{
    std::lock_guard control(m_controlMutex);
    if (m_running)
        return;
    if (m_thread.joinable()) // the loop ended itself after a stop() from a hook
        m_thread.join();
    {
        std::lock_guard lock(m_ptyMutex);
        if (!m_pty)
            m_pty = std::make_unique<Pty>();
    }
    if (m_wakeFd < 0) {
        m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_wakeFd < 0)
            throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    {
        std::lock_guard out(m_outMutex);
        m_stopRequested = false;
    }
    m_running = true;
    try {
        m_thread = std::thread(&Instrument::run, this);
    } catch (...) {
        m_running = false;
        throw;
    }
}

bool Instrument::useLink(std::unique_ptr<Link> link)
{
    std::lock_guard control(m_controlMutex);
    std::lock_guard lock(m_ptyMutex);
    if (m_pty || !link)
        return false;
    m_pty = std::move(link);
    return true;
}

void Instrument::stop()
{
    {
        std::lock_guard out(m_outMutex);
        m_stopRequested = true;
    }
    wake();
    // A hook cannot join its own thread: the loop ends once the hook returns.
    if (m_threadId.load() == std::this_thread::get_id())
        return;

    std::lock_guard control(m_controlMutex);
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard out(m_outMutex);
    m_out.clear();
    m_queueEnd = {};
}

bool Instrument::isRunning() const
{
    return m_running;
}

std::string Instrument::slavePath() const
{
    std::lock_guard lock(m_ptyMutex);
    return m_pty ? m_pty->path() : std::string();
}

void Instrument::flushLine()
{
    {
        std::lock_guard out(m_outMutex);
        m_out.clear();
        m_queueEnd = {};
    }
    std::lock_guard lock(m_ptyMutex);
    if (m_pty)
        m_pty->discardUnread();
}

void Instrument::setPacing(int baud)
{
    std::lock_guard lock(m_cfgMutex);
    m_baud = std::max(0, baud);
}

void Instrument::setChunking(std::size_t chunkSize, Milliseconds gap)
{
    std::lock_guard lock(m_cfgMutex);
    m_chunkSize = chunkSize;
    m_chunkGap = std::max(Milliseconds(0), gap);
}

void Instrument::setReplyDelay(Milliseconds delay)
{
    std::lock_guard lock(m_cfgMutex);
    m_replyDelay = std::max(Milliseconds(0), delay);
}

void Instrument::setSilent(bool silent)
{
    std::lock_guard lock(m_cfgMutex);
    m_silent = silent;
}

void Instrument::setNoise(std::string bytes)
{
    std::lock_guard lock(m_cfgMutex);
    m_noise = std::move(bytes);
}

void Instrument::setRandomNoise(std::size_t count)
{
    std::lock_guard lock(m_cfgMutex);
    m_randomNoise = count;
}

void Instrument::setTickInterval(Milliseconds interval)
{
    {
        std::lock_guard lock(m_cfgMutex);
        m_tickInterval = std::max(Milliseconds(0), interval);
    }
    wake();
}

void Instrument::setMonitor(Monitor monitor)
{
    auto shared = monitor ? std::make_shared<const Monitor>(std::move(monitor)) : nullptr;
    std::lock_guard lock(m_cfgMutex);
    m_monitor = std::move(shared);
}

void Instrument::send(std::string bytes, Milliseconds delay)
{
    if (bytes.empty())
        return;
    int baud;
    std::size_t chunkSize;
    Milliseconds gap;
    {
        std::lock_guard lock(m_cfgMutex);
        baud = m_baud;
        chunkSize = m_chunkSize;
        gap = m_chunkGap;
    }
    // One byte on the wire: start bit, 8 data bits, stop bit.
    const auto perByte = baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud) : std::chrono::nanoseconds(0);
    // Paced output goes out byte by byte, each when it has "arrived".
    const std::size_t step = chunkSize ? chunkSize : (baud > 0 ? 1 : bytes.size());
    {
        std::lock_guard out(m_outMutex);
        auto t = std::max(Clock::now() + delay, m_queueEnd);
        for (std::size_t pos = 0; pos < bytes.size(); pos += step) {
            std::string piece = bytes.substr(pos, step);
            if (pos > 0 && chunkSize)
                t += gap;
            t += perByte * piece.size();
            m_out.push_back({t, std::move(piece)});
        }
        m_queueEnd = t;
    }
    wake();
}

void Instrument::reply(std::string bytes)
{
    std::string prefix;
    Milliseconds delay;
    {
        std::lock_guard lock(m_cfgMutex);
        if (m_silent)
            return;
        prefix = m_noise;
        std::uniform_int_distribution<int> byte(0, 255);
        for (std::size_t i = 0; i < m_randomNoise; ++i)
            prefix.push_back(static_cast<char>(byte(m_rng)));
        delay = m_replyDelay;
    }
    send(prefix + bytes, delay);
}

std::string Instrument::received() const
{
    std::lock_guard lock(m_rxMutex);
    return m_received;
}

void Instrument::clearReceived()
{
    std::lock_guard lock(m_rxMutex);
    m_received.clear();
}

bool Instrument::waitForReceived(std::size_t count, Milliseconds timeout) const
{
    std::unique_lock lock(m_rxMutex);
    return m_rxCond.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
}

void Instrument::wake()
{
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
    }
}

namespace {

// Data bits, stop bits and parity; odd or even counts only with parity on.
unsigned frameOf(tcflag_t cflag)
{
    const tcflag_t parity = (cflag & PARENB) ? (cflag & (PARENB | PARODD)) : 0;
    return static_cast<unsigned>((cflag & (CSIZE | CSTOPB)) | parity);
}

// What bytes sent at one speed look like read at another: high bits set,
// framing gone, never a printable character of a reply.
std::string framingGarbage(std::string_view bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out.push_back(static_cast<char>(0x80 | ((static_cast<unsigned char>(bytes[i]) * 37u + i * 11u) & 0x7f)));
    return out;
}

} // namespace

bool Instrument::setLineSettings(std::string_view settings)
{
    std::lock_guard lock(m_cfgMutex);
    if (settings.empty()) {
        m_lineChecked = false;
        return true;
    }
    termios tio{};
    ::cfmakeraw(&tio);
    if (!applyLineSettings(settings, tio))
        return false;
    m_lineChecked = true;
    m_lineSpeed = static_cast<unsigned>(::cfgetospeed(&tio));
    m_lineFrame = frameOf(tio.c_cflag);
    return true;
}

// On a pty the master's termios calls reach the slave's settings, which the
// server set when it opened the port.
bool Instrument::lineMatches(int fd) const
{
    unsigned speed, frame;
    {
        std::lock_guard lock(m_cfgMutex);
        if (!m_lineChecked)
            return true;
        speed = m_lineSpeed;
        frame = m_lineFrame;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return true;
    return static_cast<unsigned>(::cfgetispeed(&tio)) == speed && frameOf(tio.c_cflag) == frame;
}

bool Instrument::setOption(std::string_view key, std::string_view value)
{
    long long n = 0;
    if (key == "line")
        return setLineSettings(value);
    if (key == "silent") {
        const bool on = value.empty() || value == "1" || value == "true" || value == "on";
        if (!on && value != "0" && value != "false" && value != "off")
            return false; // a malformed value leaves the setting as it was
        setSilent(on);
        return true;
    }
    if (key == "noise-text") {
        setNoise(std::string(value));
        return true;
    }
    if (!parseInt(value, n) || n < 0)
        return false;
    if (key == "pace")
        setPacing(static_cast<int>(n));
    else if (key == "chunk") {
        std::lock_guard lock(m_cfgMutex);
        m_chunkSize = static_cast<std::size_t>(n);
    } else if (key == "chunk-gap") {
        std::lock_guard lock(m_cfgMutex);
        m_chunkGap = Milliseconds(n);
    } else if (key == "delay")
        setReplyDelay(Milliseconds(n));
    else if (key == "noise")
        setRandomNoise(static_cast<std::size_t>(n));
    else if (key == "tick")
        setTickInterval(Milliseconds(n));
    else
        return false;
    return true;
}

template<class Hook> void Instrument::callHook(const char *name, Hook &&hook)
{
    // A faulty simulator must not take the test process down with it.
    try {
        hook();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "sim %s: %s threw: %s\n", m_model.c_str(), name, e.what());
    } catch (...) {
        std::fprintf(stderr, "sim %s: %s threw\n", m_model.c_str(), name);
    }
}

void Instrument::run()
{
    m_threadId = std::this_thread::get_id();
    const int fd = m_pty->fd();
    LoopState state;
    while (waitForEvents(fd, state)) {
        flushOutput(fd, state);
        runTick(state);
    }
    m_threadId = std::thread::id();
    m_running = false;
}

// Waits until input, a wake-up or the next deadline; reads what came.
// Returns false once a stop was requested.
bool Instrument::waitForEvents(int fd, LoopState &state)
{
    int timeoutMs = -1;
    bool watchLine = true;
    if (!planWait(state, timeoutMs, watchLine))
        return false;

    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    if (state.blocked)
        fds[1].events |= POLLOUT;
    const int rc = ::poll(fds, watchLine ? 2 : 1, timeoutMs);
    if (rc < 0) {
        if (errno != EINTR)
            ::poll(fds, 1, 10); // unexpected; avoid spinning
        return true;
    }
    if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] auto n = ::read(m_wakeFd, &count, sizeof count);
    }
    if (!watchLine)
        return true;
    bool hangup = false;
    if (fds[1].revents & POLLIN)
        hangup = readInput(fds[1].fd);
    else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
        hangup = true;
    if (hangup)
        state.hangupUntil = Clock::now() + kHangupBackoff;
    if (fds[1].revents & POLLOUT)
        state.blocked = false;
    return true;
}

// The poll timeout: the earliest moment something has to happen without any
// input (queued output due, a stalled write to give up, a tick, the end of a
// hang-up pause). Returns false if a stop was requested.
bool Instrument::planWait(LoopState &state, int &timeoutMs, bool &watchLine)
{
    {
        std::lock_guard lock(m_cfgMutex);
        state.tickInterval = m_tickInterval;
    }
    const auto now = Clock::now();
    if (state.tickInterval.count() <= 0)
        state.nextTick = {};
    else if (state.nextTick == Clock::time_point{})
        state.nextTick = now + state.tickInterval;

    Clock::time_point deadline = Clock::time_point::max();
    {
        std::lock_guard out(m_outMutex);
        if (m_stopRequested)
            return false;
        if (!m_out.empty())
            deadline = state.blocked ? state.blockedSince + kStalledWriteLimit : m_out.front().due;
    }
    if (state.nextTick != Clock::time_point{})
        deadline = std::min(deadline, state.nextTick);
    watchLine = now >= state.hangupUntil;
    if (!watchLine)
        deadline = std::min(deadline, state.hangupUntil);

    timeoutMs = -1;
    if (deadline != Clock::time_point::max()) {
        const auto left = deadline - now;
        timeoutMs = left.count() <= 0
            ? 0
            : static_cast<int>(std::min<long long>(std::chrono::ceil<Milliseconds>(left).count(), 60'000));
    }
    return true;
}

// Reads everything available, records it and hands it to onReceived().
bool Instrument::readInput(int fd)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            const std::string_view bytes(buf, static_cast<std::size_t>(n));
            {
                std::lock_guard lock(m_rxMutex);
                m_received.append(bytes);
            }
            m_rxCond.notify_all();
            notifyMonitor(false, bytes);
            if (lineMatches(fd))
                callHook("onReceived", [&] { onReceived(bytes); });
            else
                send(framingGarbage(bytes), Milliseconds(2));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: drained. EIO or 0: no slave open (or the device went away).
        return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
}

// Writes the queued pieces that are due, as far as the line takes them.
void Instrument::flushOutput(int fd, LoopState &state)
{
    std::vector<std::string> written; // for the monitor, outside the lock
    {
        const auto now = Clock::now();
        std::lock_guard out(m_outMutex);
        if (state.blocked && now - state.blockedSince >= kStalledWriteLimit) {
            m_out.clear();
            m_queueEnd = {};
            state.blocked = false;
        }
        const bool garble = !m_out.empty() && m_out.front().due <= now && !lineMatches(fd);
        while (!state.blocked && !m_out.empty() && m_out.front().due <= now) {
            Pending &p = m_out.front();
            if (garble && !p.garbled) {
                p.bytes = framingGarbage(p.bytes);
                p.garbled = true;
            }
            const ssize_t n = ::write(fd, p.bytes.data(), p.bytes.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    state.blocked = true;
                    state.blockedSince = now;
                    break;
                }
                m_out.pop_front(); // EIO: nobody on the line, the bytes are lost
                continue;
            }
            written.push_back(p.bytes.substr(0, static_cast<std::size_t>(n)));
            if (static_cast<std::size_t>(n) < p.bytes.size())
                p.bytes.erase(0, static_cast<std::size_t>(n));
            else
                m_out.pop_front();
        }
    }
    for (const auto &bytes : written)
        notifyMonitor(true, bytes);
}

void Instrument::runTick(LoopState &state)
{
    if (state.nextTick == Clock::time_point{} || Clock::now() < state.nextTick)
        return;
    callHook("onTick", [&] { onTick(); });
    state.nextTick += state.tickInterval;
    if (state.nextTick < Clock::now())
        state.nextTick = Clock::now() + state.tickInterval;
}

void Instrument::notifyMonitor(bool sent, std::string_view bytes)
{
    std::shared_ptr<const Monitor> monitor;
    {
        std::lock_guard lock(m_cfgMutex);
        monitor = m_monitor;
    }
    if (monitor)
        callHook("monitor", [&] { (*monitor)(sent, bytes); });
}

bool parseInt(std::string_view text, long long &out)
{
    const auto *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty();
}

bool parseDouble(std::string_view text, double &out)
{
    const auto *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty();
}

} // namespace sim
