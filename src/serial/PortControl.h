#pragma once
// The port object every driver talks through: one per serial port number.
// It offers exactly what the drivers and the configuration need: the port
// number, the line settings, open/close, the input mode, the count of
// received bytes (and its discard), writing and reading. Received bytes are
// kept in a buffer of our own; nothing reacts to them except the waits,
// which wake on inputChanged() instead of polling.
//
// An operation the port refuses throws AutomationError (PortError), whose
// text names the device and why. A port that reports a read error or loses
// its device closes itself, so a broken line cannot keep the process busy;
// a port meant to be open is opened again by the next exchange (ensureOpen)
// once its device is back, and until then fails with the reason it closed.
#include "common/AutomationError.h"
#include "serial/LineSettings.h"
#include "serial/LineTurn.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

namespace quorvex {

// The numbers a port may have.
inline constexpr int kLowestPortNumber = 1;
inline constexpr int kHighestPortNumber = 32767;

class PortControl : public QObject {
    Q_OBJECT
public:
    enum InputModeValue { Text = 0, Binary = 1 };
    // Received bytes beyond this are dropped, oldest first: a transmitting
    // instrument that nobody reads cannot grow the buffer without bound.
    static constexpr int kInBufferSize = 8192;

    explicit PortControl(QObject *parent = nullptr);
    ~PortControl() override;

    qint16 CommPort() const { return m_commPort; }
    void setCommPort(int number);

    QString Settings() const { return m_settings.toString(); }
    void setSettings(const QString &text);

    bool PortOpen() const { return m_open; }
    // Opening makes the port one that is meant to be open, closing one that
    // is not; a failed open keeps its error for the calls that follow.
    void setPortOpen(bool open);

    // Before an exchange: a port meant to be open that is not (its device
    // went away, or could not be opened) is opened again, with its line
    // settings, when its device is there. Throws the port's error otherwise:
    // why it is not open, at once, without touching the device.
    void ensureOpen();
    // Why the port is not open although it is meant to be: the error of its
    // last open, or the loss of its device. Empty while open.
    std::optional<AutomationError> lastError() const { return m_lastError; }

    int InputMode() const { return m_inputMode; }
    void setInputMode(int mode);

    qint16 InBufferCount() const;
    void setInBufferCount(int count);

    void Output(const QByteArray &bytes);
    // Text mode: a QString with one character per byte (Latin-1).
    // Binary mode: a QByteArray.
    QVariant Input();
    // Everything received so far, as bytes whatever the input mode; the
    // buffer is empty afterwards.
    QByteArray takeInput();

    // The device under the port object, as far as it has one.
    virtual QString devicePath() const { return QString(); }
    // Open on a device that its port number no longer stands for: it must
    // be closed and opened again to reach the device now named.
    virtual bool deviceMoved() const { return false; }
    // The last open failed because another running process holds the
    // device (its lock file names a live process).
    virtual bool deviceHeldElsewhere() const { return false; }

    // The roles the configuration bound to this port ("Bilancia", ...), for
    // the messages about its device and for the port list.
    const QStringList &roles() const { return m_roles; }
    void setRoles(QStringList roles) { m_roles = std::move(roles); }

    // The line's turn: an exchange holds it from its first step to its last.
    LineTurn &turn() { return m_turn; }

    // How the instrument on the line has been answering, as the exchanges
    // saw it: exchanges in a row that heard nothing, when the last reply
    // came (invalid before any), and the last error an exchange met.
    // Timed exchanges: from the request written to the reply complete,
    // beside the time request and reply take on the wire at the line's
    // speed; the last kTimedExchanges of each role, newest last.
    struct ExchangeTime {
        qint64 elapsedUs = 0;
        qint64 wireUs = 0;
    };
    static constexpr int kTimedExchanges = 15;
    struct Health {
        int silentExchanges = 0;
        QDateTime lastReply;
        QString lastError;
        QHash<QString, QList<ExchangeTime>> times; // by role ("" for direct calls)
    };
    Health &health() { return m_health; }
    const Health &health() const { return m_health; }

    // The time bytes take on the wire at the port's line settings.
    qint64 wireMicroseconds(qsizetype bytes) const
    {
        return m_settings.wireTime(bytes).count();
    }
    // Whether its device is there to be opened (a port whose device was
    // unplugged is not).
    bool deviceThere() const { return devicePresent(); }

    // A port object whose host has gone: every operation fails from now on.
    void retire();

    // Traffic: bytes written and received over the port object's life, the
    // text of lastError (empty while open or closed on purpose), and one
    // process-wide tap that sees every chunk of bytes of every port.
    // Without a tap the ports only count.
    enum class Direction { Sent, Received };
    using TrafficTap = std::function<void(const PortControl &port, Direction direction, const QByteArray &bytes)>;
    static void setTrafficTap(TrafficTap tap);
    quint64 bytesSent() const { return m_bytesSent; }
    quint64 bytesReceived() const { return m_bytesReceived; }
    // Nanoseconds since a byte was last written or received; a large
    // number when none ever was.
    qint64 nsecsSinceTraffic() const
    {
        return m_lastTraffic.isValid() ? m_lastTraffic.nsecsElapsed() : (qint64(1) << 62);
    }
    QString lastErrorText() const { return m_lastError ? m_lastError->text() : QString(); }

signals:
    // Bytes arrived, or the port closed: whoever waits on the port looks again.
    void inputChanged();

protected:
    // Backend: the device under the port object.
    virtual bool openDevice(QString *why) = 0;
    virtual void closeDevice() = 0;
    virtual bool applySettings(const LineSettings &settings) = 0;
    virtual bool writeDevice(const QByteArray &bytes) = 0;
    virtual void discardDeviceInput() = 0;
    // Whether the device is there to be opened (a path that exists).
    virtual bool devicePresent() const { return true; }

    const LineSettings &lineSettings() const { return m_settings; }
    // Called by the backend with bytes read from the device.
    void receive(const QByteArray &bytes);
    // Called by the backend when the device failed: the port closes itself,
    // keeping why for the calls that follow.
    void deviceFailed(const QString &why = QString());

private:
    void requireOpen() const;
    void requireAlive() const;
    void openNow();
    // The text of a port error: the device's path first, when it has one.
    QString onDevice(const QString &text) const;
    // "Bilancia on port 3 (/dev/ttyUSB0)": who is affected, for the log.
    QString described() const;

    qint16 m_commPort = 1;
    LineSettings m_settings;
    bool m_open = false;
    bool m_meantOpen = false;
    bool m_retired = false;
    std::optional<AutomationError> m_lastError;
    int m_inputMode = Text;
    QByteArray m_buffer;
    LineTurn m_turn;
    Health m_health;
    QStringList m_roles;
    quint64 m_bytesSent = 0;
    quint64 m_bytesReceived = 0;
    QElapsedTimer m_lastTraffic;
};

// Port objects are shared: the port host owns them, and a driver that is
// waiting keeps the one it was given alive even if the host goes away.
using PortRef = std::shared_ptr<PortControl>;

} // namespace quorvex
