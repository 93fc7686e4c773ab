#include "common/KeepAlive.h"

namespace quorvex {

KeepAlive &KeepAlive::process()
{
    static KeepAlive keepAlive;
    return keepAlive;
}

void KeepAlive::drop()
{
    if (--m_count == 0)
        emit lastOneGone();
}

KeepAliveToken KeepAliveToken::take()
{
    return KeepAliveToken(&KeepAlive::process());
}

KeepAliveToken &KeepAliveToken::operator=(KeepAliveToken &&other) noexcept
{
    if (this != &other) {
        release();
        m_keepAlive = std::exchange(other.m_keepAlive, nullptr);
    }
    return *this;
}

void KeepAliveToken::release()
{
    if (KeepAlive *keepAlive = std::exchange(m_keepAlive, nullptr))
        keepAlive->drop();
}

} // namespace quorvex
