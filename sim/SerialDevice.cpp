#include "sim/SerialDevice.h"

#include "sim/Instrument.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace sim {

namespace {

speed_t speedConstant(long long baud)
{
    static const std::pair<long long, speed_t> table[] = {
        {50, B50},           {75, B75},         {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000},
    };
    for (const auto &[rate, constant] : table)
        if (rate == baud)
            return constant;
    return B0;
}

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = text.find(',');
        std::string_view field = text.substr(0, comma);
        while (!field.empty() && field.front() == ' ')
            field.remove_prefix(1);
        while (!field.empty() && field.back() == ' ')
            field.remove_suffix(1);
        fields.push_back(field);
        if (comma == std::string_view::npos)
            return fields;
        text.remove_prefix(comma + 1);
    }
}

bool applyParity(std::string_view field, termios &tio)
{
    if (field.size() != 1)
        return false;
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (std::toupper(static_cast<unsigned char>(field[0]))) {
    case 'N': return true;
    case 'E': tio.c_cflag |= PARENB; return true;
    case 'O': tio.c_cflag |= PARENB | PARODD; return true;
    case 'M': tio.c_cflag |= PARENB | PARODD | CMSPAR; return true;
    case 'S': tio.c_cflag |= PARENB | CMSPAR; return true;
    default: return false;
    }
}

} // namespace

bool applyLineSettings(std::string_view settings, termios &tio)
{
    const auto fields = splitFields(settings);
    long long baud = 0, data = 8, stop = 1;
    if (fields.size() > 4 || !parseInt(fields[0], baud) || speedConstant(baud) == B0)
        return false;
    if (fields.size() > 1 && !applyParity(fields[1], tio))
        return false;
    if (fields.size() > 2 && (!parseInt(fields[2], data) || data < 5 || data > 8))
        return false;
    if (fields.size() > 3 && (!parseInt(fields[3], stop) || (stop != 1 && stop != 2)))
        return false;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | CSTOPB)) | sizes[data - 5] | (stop == 2 ? CSTOPB : 0);
    cfsetispeed(&tio, speedConstant(baud));
    cfsetospeed(&tio, speedConstant(baud));
    return true;
}

SerialDevice::SerialDevice(std::string path, std::string_view settings) : m_path(std::move(path))
{
    termios tio{};
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CRTSCTS;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (!applyLineSettings(settings, tio))
        throw std::invalid_argument("bad line settings '" + std::string(settings) + "'");

    m_fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throw std::system_error(errno, std::generic_category(), m_path);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw std::system_error(error, std::generic_category(), m_path + ": line settings");
    }
    // A second program opening the same device would steal bytes from the
    // simulator; refuse it as QSerialPort does with its own ports.
    ::ioctl(m_fd, TIOCEXCL);
    ::tcflush(m_fd, TCIOFLUSH);
}

SerialDevice::~SerialDevice()
{
    if (m_fd >= 0) {
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
}

void SerialDevice::discardUnread()
{
    ::tcflush(m_fd, TCOFLUSH);
}

} // namespace sim
