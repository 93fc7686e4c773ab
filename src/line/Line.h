#pragma once
// Process-wide state of the server: the device collection, the height
// settings, the port host and the count of live Global instances.
#include "line/Device.h"
#include "line/PortHost.h"

#include <QObject>
#include <QSet>
#include <memory>
#include <optional>

namespace quorvex {

class Global;

class Server : public QObject {
    Q_OBJECT
public:
    // factory makes the port objects; by default real serial ports.
    explicit Server(PortFactory factory = {}, QObject *parent = nullptr);
    ~Server() override;

    // Reads the four roles from the settings store, binds and opens their
    // ports, and reads the height settings. Never fails; see Configuration.cpp.
    void CaricaDispositivi();

    // The record of a role; throws NotFound when the collection or the key
    // is missing.
    Device device(const QString &key) const;

    std::optional<DeviceCollection> Dispositivi;
    bool MisuraMedia = false;
    double IntervalloDiCampionamento = 0;
    double DistanzaSensoreArrotolatore = 0;
    double DistanzaOperatoreArrotolatore = 0;

    int NumeroIstanze = 0;
    std::shared_ptr<Global> GlobaleInterno;

    PortHost *FormTools() const { return m_formTools.get(); }
    void loadPortHost();
    void unloadPortHost();

    // Instance hooks, called by Global's constructor and destructor.
    void instanceCreated();
    void instanceDestroyed();

    // The windows that keep the process alive besides the port host.
    void setWindowLoaded(const QString &name, bool loaded);
    bool anythingAlive() const;

signals:
    // No instance and no window is left: the process should end.
    void lastReferenceGone();

private:
    void bindPort(Device &record);
    void checkAlive();

    PortFactory m_factory;
    std::unique_ptr<PortHost> m_formTools;
    QSet<QString> m_windows;
};

} // namespace quorvex
