// A pseudo-terminal pair that stands in for a serial line.
//
// The simulator talks on the master side; the server opens the slave path
// (e.g. /dev/pts/7) exactly as it opens a real port. Both sides are raw: no
// echo, no line editing, no output processing, no XON/XOFF, so every byte
// (including 0x11/0x13 and CR/LF) passes through unchanged.
#pragma once

#include "sim/Link.h"

#include <string>

namespace sim {

class Pty : public Link {
public:
    // Opens the pair. Throws std::system_error when the system has no pty left.
    Pty();
    ~Pty() override;
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Non-blocking, close-on-exec master descriptor.
    int masterFd() const { return m_master; }
    const std::string &slavePath() const { return m_slavePath; }
    // Drops bytes written by the master that the server has not read yet.
    void discardUnread() override;

    int fd() const override { return m_master; }
    const std::string &path() const override { return m_slavePath; }

private:
    int m_master = -1;
    // Held open for the lifetime of the pair and never read: while one slave
    // descriptor exists the master does not see a hang-up (EIO/POLLHUP) when the
    // server closes its port, and the line settings survive a reopen.
    int m_slave = -1;
    std::string m_slavePath;
};

} // namespace sim
