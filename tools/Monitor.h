#pragma once
// `quorvex monitor [PORT]`: a live hex and text trace of the bytes on the
// server's ports, like a serial sniffer, or a capture file of them. The
// formatting is apart from the bus so the unit tests run it without a
// server.
#include "Commands.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QVariantMap>
#include <functional>

namespace quorvex::cli {

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

// `monitor --save FILE [PORT...]`; false for monitor's other form.
bool readCaptureWords(Request &request, const QStringList &words);
// `monitor [PORT]`.
void readMonitorArguments(Request &request, const QStringList &words);

// The traffic trace on stdout, the monitor's own notes on stderr; or the
// capture file.
int runMonitor(Session &session, const Request &request);

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
