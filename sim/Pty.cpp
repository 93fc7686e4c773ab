#include "sim/Pty.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pty.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace sim {

Pty::Pty()
{
    termios tio{};
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);

    char name[PATH_MAX] = {};
    if (::openpty(&m_master, &m_slave, name, &tio, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "openpty");
    m_slavePath = name;

    // openpty applies the settings to the slave; apply them again explicitly in
    // case the C library ignored part of them.
    ::tcsetattr(m_slave, TCSANOW, &tio);

    for (int fd : {m_master, m_slave})
        ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

void Pty::discardUnread()
{
    ::tcflush(m_slave, TCIFLUSH);
}

Pty::~Pty()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

} // namespace sim
