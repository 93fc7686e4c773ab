#pragma once
// Test helper for drivers of instruments that transmit on their own: hands
// the next chunk to an in-memory port each time the driver has discarded
// its input, i.e. one chunk per window the driver opens.
#include "support/MemoryPort.h"

#include <QByteArrayList>
#include <QTimer>

namespace quorvex::testing {

class DriverStream {
public:
    DriverStream(MemoryPort &port, QByteArrayList chunks) : m_port(port), m_chunks(std::move(chunks))
    {
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_port.discards() == m_seen)
                return;
            m_seen = m_port.discards();
            if (m_next < m_chunks.size())
                m_port.feed(m_chunks.at(m_next++));
        });
        m_timer.start();
    }
    // Chunks handed out so far.
    qsizetype delivered() const { return m_next; }

private:
    MemoryPort &m_port;
    QByteArrayList m_chunks;
    QTimer m_timer;
    int m_seen = 0;
    qsizetype m_next = 0;
};

} // namespace quorvex::testing
