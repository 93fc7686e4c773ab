#include "line/PortHost.h"

#include "serial/LineSettings.h"

namespace quorvex {

PortHost::PortHost(PortFactory factory) : m_factory(std::move(factory))
{
    PortRef first = m_factory(QString());
    first->setCommPort(1);
    first->setSettings(QLatin1String(kUsualLineSettings));
    m_ports.emplace(0, std::move(first));
}

PortHost::~PortHost()
{
    unload();
}

bool PortHost::create(int n)
{
    if (n < 0 || m_ports.count(n) || m_ports.empty())
        return false;
    PortRef port = m_factory(QString());
    port->setCommPort(m_ports.at(0)->CommPort());
    port->setSettings(m_ports.at(0)->Settings());
    m_ports.emplace(n, std::move(port));
    return true;
}

PortRef PortHost::element(int n) const
{
    const auto it = m_ports.find(n);
    return it == m_ports.end() ? nullptr : it->second;
}

PortRef PortHost::openPortOn(const QString &canonicalDevice,
                             const std::function<QString(const QString &)> &canonical) const
{
    for (const auto &[index, port] : m_ports) {
        Q_UNUSED(index);
        if (port->PortOpen() && canonical(port->devicePath()) == canonicalDevice)
            return port;
    }
    return nullptr;
}

void PortHost::unload()
{
    for (auto &[index, port] : m_ports) {
        Q_UNUSED(index);
        port->retire();
    }
    m_ports.clear();
}

} // namespace quorvex
