// The simulator's end of a line: a pseudo-terminal master (Pty) or a real
// serial device (SerialDevice). The instrument thread polls, reads and writes
// the descriptor; the other end is the server's port.
#pragma once

#include <string>

namespace sim {

class Link {
public:
    virtual ~Link() = default;
    // Non-blocking, close-on-exec descriptor the simulator reads and writes.
    virtual int fd() const = 0;
    // What the server opens: the pty's slave path or the device path.
    virtual const std::string &path() const = 0;
    // Drops bytes sent by the simulator that the server has not read yet.
    virtual void discardUnread() = 0;
};

} // namespace sim
