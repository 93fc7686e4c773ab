// Base class of every simulated instrument.
//
// An Instrument owns its line, a pseudo-terminal (see Pty) or a serial device
// given with useLink() (see SerialDevice), and a thread of its own that waits
// in poll() on the simulator's side. Bytes the server writes to the slave
// path are recorded and handed to onReceived(); the instrument answers with
// reply() or send(). Because the thread is independent of any Qt event loop, a
// test may block in a synchronous D-Bus call to the server while the
// simulator keeps answering.
//
// Every setter is thread-safe and may be called while the simulator runs.
//
// Lifetime: create instruments with sim::make<T>() / sim::launch<T>(). The
// returned Handle stops the thread before the object is destroyed, so the
// thread can never run a subclass hook while the subclass is half destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>

namespace sim {

class Link;

using Milliseconds = std::chrono::milliseconds;

class Instrument {
public:
    explicit Instrument(std::string model);
    virtual ~Instrument();
    Instrument(const Instrument &) = delete;
    Instrument &operator=(const Instrument &) = delete;

    const std::string &model() const { return m_model; }

    // Opens the pty on first use (unless useLink() gave another line) and
    // starts the thread. Throws std::system_error if no pty or thread can be
    // created. No-op if running.
    void start();
    // Serves on this line (e.g. a SerialDevice) instead of a fresh pty.
    // Only before the first start(); returns false once a line is in use.
    bool useLink(std::unique_ptr<Link> link);
    // Stops and joins the thread; pending output is discarded. The pty stays
    // open, so start() again serves the same slave path. Idempotent. From a
    // hook it only asks the loop to end; the thread is joined by the next
    // start(), stop() or the destructor.
    void stop();
    bool isRunning() const;
    // Path for the server, e.g. "/dev/pts/7" (or the device given to
    // useLink()). Empty before start().
    std::string slavePath() const;
    // Discards queued output and whatever the server has not read yet, as if
    // the line had been idle. Handy before a test step that expects exact bytes.
    void flushLine();

    // --- line behaviour -----------------------------------------------------
    // Pace output at the given baud rate (10 bits per byte); 0 = as fast as
    // possible (default).
    void setPacing(int baud);
    // Split each transmission into writes of at most chunkSize bytes with a
    // gap between them; 0 = one write (default).
    void setChunking(std::size_t chunkSize, Milliseconds gap = Milliseconds(5));
    // --- reply behaviour (applies to reply(), not to send()) ---------------
    // Answer this long after the request arrived; 0 = at once (default).
    void setReplyDelay(Milliseconds delay);
    // Swallow every reply.
    void setSilent(bool silent);
    // Put these exact bytes before every reply.
    void setNoise(std::string bytes);
    // Put this many random bytes before every reply (in addition to setNoise).
    void setRandomNoise(std::size_t count);
    // Call onTick() every interval on the simulator thread; 0 = never.
    void setTickInterval(Milliseconds interval);
    // Understand the line only while its far end is set to these settings
    // ("19200,N,8,1"), read from the line's termios; otherwise, as an
    // instrument at another speed, hear garbage (never onReceived) and send
    // framing garbage. Empty: any settings. False if malformed.
    bool setLineSettings(std::string_view settings);

    // Queues bytes for the server, paced/chunked as configured, after an
    // optional delay. Safe from any thread. Transmissions never overlap: a
    // send starts after everything queued before it.
    void send(std::string bytes, Milliseconds delay = Milliseconds(0));

    // Called on the simulator thread with the bytes of each read from the
    // line (sent false) and of each write to it (sent true); for tracing.
    using Monitor = std::function<void(bool sent, std::string_view bytes)>;
    void setMonitor(Monitor monitor);

    // --- what the server sent -----------------------------------------------
    std::string received() const;
    void clearReceived();
    // Waits until at least count bytes have been received in total (since the
    // last clearReceived()). Returns false on timeout.
    bool waitForReceived(std::size_t count, Milliseconds timeout) const;

    // Generic text configuration used by the command line ("--key value").
    // Returns false if the key is unknown or the value is malformed.
    // Subclasses handle their own keys and forward the rest to the base.
    // Base keys: pace, chunk, chunk-gap, delay, silent, noise, noise-text, tick.
    virtual bool setOption(std::string_view key, std::string_view value);

protected:
    // Called on the simulator thread with the bytes of one read() from the
    // line; a request may arrive split over several calls.
    virtual void onReceived(std::string_view bytes) = 0;
    // Called on the simulator thread every tick interval (see setTickInterval).
    virtual void onTick() {}

    // Sends an answer honouring silence, noise and reply delay.
    void reply(std::string bytes);

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        std::string bytes;
        bool garbled = false; // already framing garbage
    };

    // State of the simulator thread's loop, kept between its rounds.
    struct LoopState {
        bool blocked = false; // last write hit EAGAIN; wait for POLLOUT
        Clock::time_point blockedSince{};
        Clock::time_point hangupUntil{};
        Clock::time_point nextTick{};
        Milliseconds tickInterval{0};
    };

    void run();
    bool waitForEvents(int fd, LoopState &state);
    bool planWait(LoopState &state, int &timeoutMs, bool &watchLine);
    bool readInput(int fd); // returns true on a hang-up
    void flushOutput(int fd, LoopState &state);
    void runTick(LoopState &state);
    void notifyMonitor(bool sent, std::string_view bytes);
    bool lineMatches(int fd) const;
    template<class Hook> void callHook(const char *name, Hook &&hook);
    void wake();

    const std::string m_model;
    std::unique_ptr<Link> m_pty;
    int m_wakeFd = -1;
    std::thread m_thread; // guarded by m_controlMutex
    std::mutex m_controlMutex; // serialises start() and stop()
    mutable std::mutex m_ptyMutex; // m_pty; never held while joining
    std::atomic<bool> m_running{false};
    std::atomic<std::thread::id> m_threadId{};
    bool m_stopRequested = false; // guarded by m_outMutex

    // configuration
    mutable std::mutex m_cfgMutex;
    int m_baud = 0;
    std::size_t m_chunkSize = 0;
    Milliseconds m_chunkGap{5};
    Milliseconds m_replyDelay{0};
    bool m_silent = false;
    std::string m_noise;
    std::size_t m_randomNoise = 0;
    Milliseconds m_tickInterval{0};
    bool m_lineChecked = false;
    unsigned m_lineSpeed = 0; // speed_t of the expected settings
    unsigned m_lineFrame = 0; // their CSIZE, PARENB, PARODD and CSTOPB bits
    std::mt19937 m_rng{std::random_device{}()};
    std::shared_ptr<const Monitor> m_monitor;

    // output queue
    mutable std::mutex m_outMutex;
    std::deque<Pending> m_out;
    Clock::time_point m_queueEnd{};

    // input log
    mutable std::mutex m_rxMutex;
    mutable std::condition_variable m_rxCond;
    std::string m_received;
};

// Deleter that stops the simulator thread before destroying the instrument.
struct Stopper {
    void operator()(Instrument *instrument) const
    {
        if (instrument) {
            instrument->stop();
            delete instrument;
        }
    }
};

template<class T> using Handle = std::unique_ptr<T, Stopper>;

// Creates an instrument without starting it.
template<class T, class... Args> Handle<T> make(Args &&...args)
{
    return Handle<T>(new T(std::forward<Args>(args)...));
}

// Creates and starts an instrument; slavePath() is valid on return.
template<class T, class... Args> Handle<T> launch(Args &&...args)
{
    auto instrument = make<T>(std::forward<Args>(args)...);
    instrument->start();
    return instrument;
}

// Parsing helpers for setOption() implementations.
bool parseInt(std::string_view text, long long &out);
bool parseDouble(std::string_view text, double &out);

} // namespace sim
