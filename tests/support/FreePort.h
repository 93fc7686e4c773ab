#pragma once
// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking,
// for a server a test or benchmark starts.
#include <QTcpServer>

namespace support {

inline int freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace support
