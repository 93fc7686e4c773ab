#include "line/Line.h"

#include "common/AutomationError.h"
#include "line/PortDirectory.h"
#include "serial/SerialPort.h"

#include <QSet>
#include <limits>

namespace quorvex {

Server::Server(PortFactory factory, QObject *parent)
    : QObject(parent),
      m_factory(factory ? std::move(factory) : PortFactory([] { return std::make_shared<SerialPort>(devicePathForPort); }))
{
}

Server::~Server()
{
    GlobaleInterno.reset();
    unloadPortHost();
}

Device Server::device(const QString &key) const
{
    if (!Dispositivi)
        throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("The device collection is not loaded"));
    const auto it = Dispositivi->constFind(key);
    if (it == Dispositivi->constEnd())
        throw AutomationError(ErrorKind::NotFound, 5, QStringLiteral("No device under key %1").arg(key));
    return *it;
}

void Server::loadPortHost()
{
    if (!m_formTools)
        m_formTools = std::make_unique<PortHost>(m_factory);
}

void Server::unloadPortHost()
{
    if (!m_formTools)
        return;
    m_formTools->unload();
    m_formTools.reset();
    checkAlive();
}

void Server::instanceCreated()
{
    if (NumeroIstanze == std::numeric_limits<int>::max())
        throw AutomationError::overflow();
    ++NumeroIstanze;
}

void Server::instanceDestroyed()
{
    --NumeroIstanze;
    if (NumeroIstanze == 0)
        unloadPortHost();
}

void Server::setWindowLoaded(const QString &name, bool loaded)
{
    if (loaded)
        m_windows.insert(name);
    else
        m_windows.remove(name);
    checkAlive();
}

bool Server::anythingAlive() const
{
    return NumeroIstanze > 0 || m_formTools || !m_windows.isEmpty();
}

void Server::checkAlive()
{
    if (!anythingAlive())
        emit lastReferenceGone();
}

} // namespace quorvex
