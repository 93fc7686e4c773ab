#pragma once
// The configured line: the four role records, the height settings, the port
// host and the count of live Global instances. Reading a role's instrument,
// scaled and with failures as 0, happens here, so the D-Bus class Global and
// the sampler both read the line the same way.
#include "common/KeepAlive.h"
#include "line/Device.h"
#include "line/HeightSettings.h"
#include "line/InstrumentHealth.h"
#include "line/LineImage.h"
#include "line/PortDirectory.h"
#include "line/PortHost.h"
#include "line/SettingsStore.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <memory>
#include <optional>
#include <vector>

namespace quorvex {

// A port resolved from a client's reference. A port opened for this one
// call is closed when this goes, whoever held it.
class ResolvedPort {
public:
    ResolvedPort() = default;
    ResolvedPort(PortRef port, bool temporary) : m_port(std::move(port)), m_temporary(temporary) {}
    ResolvedPort(ResolvedPort &&other) noexcept
            : m_port(std::move(other.m_port)), m_temporary(std::exchange(other.m_temporary, false))
    {}
    ResolvedPort &operator=(ResolvedPort &&other) noexcept;
    ~ResolvedPort() { close(); }

    const PortRef &port() const { return m_port; }

private:
    void close();

    PortRef m_port;
    bool m_temporary = false;
};

class Line : public QObject {
    Q_OBJECT
public:
    // factory makes the port objects (by default real serial ports whose
    // device follows the [Porte] group); a non-empty path makes a port on
    // that device for a single call.
    explicit Line(PortFactory factory = {}, QObject *parent = nullptr);
    ~Line() override;

    // Reads the four roles from the settings store, binds and opens their
    // ports, resolves their drivers and reads the height settings. Never
    // fails; see Configuration.cpp.
    void CaricaDispositivi();

    // The record of a role; throws NotFound before the first load.
    const Device &device(Role role) const;
    // The same by its key in the collection ("BIL", ...); throws NotFound
    // for a key that is not there.
    const Device &device(const QString &key) const;

    // The reading of the role's instrument for op times its Divisore; every
    // failure below the record look-up (no driver, a closed port, a reply
    // that does not convert) gives 0. problem, when given, is cleared for a
    // valid reading and otherwise set to one line saying why there was none
    // (a Divisore that is not a number among the reasons, except for the
    // zero command, which is not scaled); it must outlive the call.
    QCoro::Task<double> LeggiValore(Role role, RoleOperation op, QString *problem = nullptr);
    // The same for the role that serves op.
    QCoro::Task<double> LeggiValore(RoleOperation op, QString *problem = nullptr)
    {
        return LeggiValore(roleOf(op), op, problem);
    }
    // The service command of the role's instrument; failures give "".
    QCoro::Task<QString> EseguiServizio(Role role, RoleOperation op, QString parametri, QString *problem = nullptr);
    QCoro::Task<QString> EseguiServizio(RoleOperation op, QString parametri, QString *problem = nullptr)
    {
        return EseguiServizio(roleOf(op), op, std::move(parametri), problem);
    }

    // Reads the configuration again, as the settings dialog's OK does: the
    // one place a reload happens (SIGHUP, Diagnostics.Reload, the dialog).
    // why says who asked, for the log line. Those who keep more than the
    // line's records reload theirs on aboutToReload, before the records are
    // read. Gives every warning the reload logged (what it could not use),
    // empty for a clean load.
    QStringList reloadConfiguration(const QString &why);

    // A client's port reference: NotFound for a port number without a port
    // object (0 among them); a device the server holds open is that port;
    // any other device path is opened for the call (PortError when it
    // cannot be).
    ResolvedPort resolvePort(const QString &reference);

    // What the last load read; only a load changes it.
    const HeightSettings &height() const { return m_height; }
    // The instrument definitions the last load read (none before the first):
    // the models known besides the built-in ones. Holding it keeps its
    // recipes valid; the next load replaces it.
    const DefinitionsRef &definitions() const { return m_definitions; }
    // The settings file as the last load read it, for what else follows a
    // load (the plant feed, the Modbus face, the history's days).
    const SettingsSnapshot &loadedSettings() const { return m_loadedSettings; }

    // The health of every configured role (one with a brand, a model or a
    // port number), in role order; empty before the first load.
    QList<RoleHealth> health() const;
    // The latest of every published value: what every face reads.
    LineImage &image() { return m_image; }
    const LineImage &image() const { return m_image; }

    // Live Global instances, the server's own one included.
    int NumeroIstanze() const { return m_numeroIstanze; }

    PortHost *portHost() const { return m_portHost.get(); }
    void loadPortHost();
    void unloadPortHost();
    // Closes every port for good, those opened for a call among them: the
    // process is ending.
    void close();
    // Instance hooks, called by Global's constructor and destructor.
    void instanceCreated();
    void instanceDestroyed();

signals:
    // A reload is about to read the configuration.
    void aboutToReload();
    // CaricaDispositivi has run; loadedSettings() is what it read.
    void configurationLoaded();
    // A role's instrument gave this reading (scaled, as its caller gets it)
    // for op. Readings that failed are not told.
    void readingTaken(quorvex::Role role, quorvex::RoleOperation op, double value);
    // A role's exchange ended, with or without a reading: its health may
    // have changed.
    void healthChanged();

private:
    void retireTemporaries();
    // porta: the stored text of the role's port number, if any.
    void bindPort(Role role, Device &record, const std::optional<QString> &porta, bool lineSettingsStored);

    // The role records (Dispositivi), replaced as a whole by each load.
    std::optional<DeviceCollection> m_dispositivi;
    LineImage m_image;
    HeightSettings m_height;
    SettingsSnapshot m_loadedSettings;
    DefinitionsRef m_definitions = InstrumentDefinitions::none();
    // [Porte] as the last load read it; the serial ports look their device
    // up here, never in the store.
    std::shared_ptr<PortDevices> m_portDevices = std::make_shared<PortDevices>();
    PortFactory m_factory;
    std::unique_ptr<PortHost> m_portHost;
    // The loaded port host keeps the process alive, like a loaded window.
    KeepAliveToken m_portHostLoaded;
    int m_numeroIstanze = 0;
    // Valid and failed readings of each role since start, across reloads.
    struct ReadingCounts {
        quint64 valid = 0;
        quint64 failed = 0;
    };
    std::array<ReadingCounts, kRoleCount> m_counts{};
    void count(Role role, bool valid);
    // Ports opened for a single call, while that call runs.
    std::vector<std::weak_ptr<PortControl>> m_temporaries;
    bool m_closed = false;
};

} // namespace quorvex
