#pragma once
// An MQTT 3.1.1 connection to one broker through libmosquitto, run on the
// event loop of the calling thread: the socket sits in two socket notifiers
// (read always, write while libmosquitto has bytes queued) and keep-alive
// pings come from a one-second timer. No call here ever waits for the
// broker, so a slow or absent broker never delays anything else the loop
// runs. A connection that was up and is lost is tried again at once; a
// failed attempt moves on to the next broker of the list (round it) after
// 1 s, 2 s, 4 s ... up to 30 s; each attempt is a fresh session, so nothing
// is ever sent again behind the caller's back.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

struct mosquitto;
struct mosquitto_message;
class QHostInfo;
class QSocketNotifier;

namespace quorvex {

struct MqttBroker {
    QString host;
    int port = 0;
    QString text() const { return QStringLiteral("%1:%2").arg(host).arg(port); }
    bool operator==(const MqttBroker &) const = default;
};

struct MqttEndpoint {
    QList<MqttBroker> brokers; // tried in turn, round the list
    QString user;
    QString passwordFile; // read at every attempt; empty: no password
    QString caFile; // TLS when set
    int keepaliveSeconds = 0;
    QByteArray clientId;
    QByteArray willTopic; // QoS 1
    QByteArray willPayload;
    bool willRetained = true;
    QString label; // before the connection's log lines ("Sparkplug B: "), to tell two apart
    bool operator==(const MqttEndpoint &) const = default;
};

class MqttClient : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Connecting, Connected, Waiting };

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Connects to endpoint and keeps connecting until stop().
    void start(const MqttEndpoint &endpoint);
    // Ends the connection with a DISCONNECT (no Last Will), after sending
    // what is queued as far as the socket takes it without waiting.
    void stop();

    // Ends this connection (DISCONNECT, no Last Will) and connects to the
    // next broker of the list at once.
    void moveOn();

    State state() const { return m_state; }
    // The broker connected to, or being tried.
    MqttBroker broker() const;
    bool isConnected() const { return m_state == State::Connected; }
    // Why the last attempt failed or the connection ended; empty while
    // connected.
    QString problem() const { return m_problem; }

    // Makes the Last Will's payload afresh for each attempt (one that
    // numbers its sessions); without it, the endpoint's willPayload.
    void setWillSource(std::function<QByteArray()> source) { m_willSource = std::move(source); }

    // Subscribes while connected (a new session subscribes again in its
    // connected() handler); false when it could not be queued.
    bool subscribe(const QByteArray &filter, int qos);

    // Publishes while connected: the message id (acknowledged() tells its
    // PUBACK for QoS 1), or -1 when it could not be queued.
    int publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);

signals:
    void connected();
    // The connection went (or an attempt failed after being connected).
    void disconnected();
    void acknowledged(int messageId);
    // A message arrived on a subscribed topic.
    void received(const QByteArray &topic, const QByteArray &payload);

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    // Why an attempt ended, in the integrator's terms where the library's
    // error lines tell more than its code (TLS above all).
    // connected: the TCP connection was made (a refusal is told apart).
    QString attemptProblem(int rc, int savedErrno, bool connected) const;
    static bool peerTookBytes(int fd);

    void attempt();
    void hostResolved(const QHostInfo &info);
    bool prepareSession(QString *why);
    void connectTo(const QString &address);
    void watchSocket();
    void serviceSocket(bool readable);
    void housekeeping();
    void afterLibraryCall(int rc, int savedErrno);
    void fail(const QString &why);
    void dropSession();
    void disconnectCleanly();

    MqttEndpoint m_endpoint;
    std::function<QByteArray()> m_willSource;
    mosquitto *m_mosq = nullptr;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    QTimer m_retry;
    QTimer m_housekeeping;
    QTimer m_attemptBound; // an attempt with no CONNACK by then has failed
    State m_state = State::Idle;
    QString m_problem;
    QString m_lastLoggedProblem;
    int m_failures = 0; // attempts failed in a row
    qsizetype m_current = 0; // the broker of the list tried or connected to
    int m_lookupId = -1;
    bool m_connackRefused = false;
    QStringList m_libraryErrors; // the library's error lines of this attempt
    bool m_peerTookBytes = false; // this attempt's connection carried bytes
};

} // namespace quorvex
