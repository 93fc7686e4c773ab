#pragma once
// Local stand-ins for a peer that never answers, on 127.0.0.1 only:
//  - MuteListener accepts every connection and never sends a byte;
//  - FullBacklog listens but never accepts, and fills its own accept queue
//    first, so a further connect is left waiting for its SYN to be answered.
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace peers {

class MuteListener {
public:
    MuteListener()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                m_held.append(socket); // kept open, never written, freed with the server
        });
    }
    int port() const { return m_server.serverPort(); }
    int accepted() const { return int(m_held.size()); }

private:
    QTcpServer m_server;
    QList<QTcpSocket *> m_held;
};

class FullBacklog {
public:
    FullBacklog()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        // With a backlog of 0 the kernel queues one connection; a few more
        // connects of our own make sure the queue is full before anyone else.
        for (int i = 0; i < 4; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (fd < 0)
                break;
            ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
            m_fillers.push_back(fd);
        }
        ::usleep(100 * 1000); // the handshakes of the fillers complete
    }
    ~FullBacklog()
    {
        for (int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    FullBacklog(const FullBacklog &) = delete;
    FullBacklog &operator=(const FullBacklog &) = delete;

    // 0 when the listener could not be made.
    int port() const { return m_port; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

} // namespace peers
