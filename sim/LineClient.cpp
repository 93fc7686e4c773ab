#include "sim/LineClient.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace sim {

using Clock = std::chrono::steady_clock;

bool LineClient::open(const std::string &path)
{
    close();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return m_fd >= 0;
}

void LineClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LineClient::write(const std::string &bytes)
{
    std::size_t done = 0;
    while (m_fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
        } else {
            return false;
        }
    }
    return done == bytes.size();
}

static int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

std::string LineClient::read(std::size_t count, std::chrono::milliseconds timeout)
{
    std::string out;
    const auto deadline = Clock::now() + timeout;
    while (m_fd >= 0 && out.size() < count) {
        pollfd p{m_fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, remainingMs(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(m_fd, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (!(n < 0 && (errno == EAGAIN || errno == EINTR)))
            break;
    }
    return out;
}

std::string LineClient::readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit)
{
    std::string out;
    const auto deadline = Clock::now() + limit;
    while (m_fd >= 0 && Clock::now() < deadline) {
        pollfd p{m_fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, std::min<int>(static_cast<int>(quiet.count()), remainingMs(deadline)));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (!(n < 0 && (errno == EAGAIN || errno == EINTR)))
            break;
    }
    return out;
}

} // namespace sim
