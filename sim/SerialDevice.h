// A real serial device as the simulator's line, for commissioning: the
// simulator answers on one end of a null-modem cable while the server (or
// any other program) talks on the other.
#pragma once

#include "sim/Link.h"

#include <string>
#include <string_view>
#include <termios.h>

namespace sim {

class SerialDevice : public Link {
public:
    // Opens the device raw with the given line settings ("9600,N,8,1"; see
    // applyLineSettings). Throws std::system_error if it cannot be opened and
    // std::invalid_argument for settings it cannot apply.
    SerialDevice(std::string path, std::string_view settings);
    ~SerialDevice() override;
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    int fd() const override { return m_fd; }
    const std::string &path() const override { return m_path; }
    // Drops what the simulator wrote and the device has not sent yet.
    void discardUnread() override;

private:
    std::string m_path;
    int m_fd = -1;
};

// Sets speed, parity, data and stop bits from "BAUD[,PARITY[,DATA[,STOP]]]"
// (parity N, E, O, M or S; defaults N, 8, 1) on a raw termios. False if the
// text is malformed or names a speed the system does not offer.
bool applyLineSettings(std::string_view settings, termios &tio);

} // namespace sim
