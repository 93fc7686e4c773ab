#pragma once
// The client's view of the server's Diagnostics interface: `quorvex ports`
// (the server's port objects and the serial devices present) and
// `quorvex monitor [PORT]` (a live hex and text trace of the bytes on the
// ports, like a serial sniffer). The formatting is apart from the bus so
// the unit tests run it without a server.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QVariantMap>
#include <functional>

namespace quorvex::cli {

// A call of the server's Diagnostics interface. Looking (ports, monitor)
// never starts a server, as that would open the line's ports; acting
// (probe, reload) starts it by D-Bus activation, as a reading does.
enum class ServerStart { Never, ByActivation };
QDBusMessage diagnosticsCall(const QString &method, ServerStart start = ServerStart::Never);

// One chunk of bytes as the Traffic signal carries it.
struct TrafficChunk {
    int port = -1; // -1: a device the server opened for a single call
    QString device;
    quint64 timestampUs = 0; // microseconds since the epoch
    bool sent = false; // true: to the instrument
    QByteArray bytes;
    QString settings; // the port's line settings, when the server told them
};

// Lines of 16 bytes: local time with microseconds, the port, TX or RX, the
// bytes in hexadecimal, then as text with '.' for what does not print.
QString formatTraffic(const TrafficChunk &chunk);

// Whether the chunk is on the port a monitor was asked for: a port number,
// or a device path (compared by the file it leads to). Empty: every port.
bool matchesPort(const QString &filter, const TrafficChunk &chunk);
// The same for several: empty is every port.
bool matchesAnyPort(const QStringList &filters, const TrafficChunk &chunk);

// The chunk as a line of a capture file (see docs/capture.md).
QByteArray captureLine(const TrafficChunk &chunk);

// The table of the server's port objects, as Ports() gives them.
QString formatPorts(const QList<QVariantMap> &ports);

// Runs `quorvex ports`: the server's ports (when it runs) and the devices.
int runPorts(QDBusConnection &bus, int timeoutMs);

// Hands the traffic of the server's ports to `out` until the event loop
// ends. It asks for Traffic whenever the server (re)appears on the bus, so
// it can be started before the server and survives a server restart.
class TrafficMonitor : public QObject {
    Q_OBJECT
public:
    using Print = std::function<void(const QString &line)>;
    using Sink = std::function<void(const TrafficChunk &chunk)>;
    TrafficMonitor(QDBusConnection bus, QStringList filters, Sink out, Print note, QObject *parent = nullptr);

    // False when the bus refuses the signal subscription.
    bool start();

public slots:
    void onTraffic(const QDBusMessage &message);

private:
    void askForTraffic();
    void learnSettings();

    QDBusConnection m_bus;
    QStringList m_filters;
    QHash<int, QString> m_settings; // port number -> line settings
    Sink m_out;
    Print m_note;
};

} // namespace quorvex::cli
