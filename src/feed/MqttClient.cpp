#include "feed/MqttClient.h"

#include "common/Logging.h"
#include "common/NamedFile.h"

#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace quorvex {

using namespace std::chrono_literals;

namespace {

constexpr int kLongestPauseSeconds = 30;
// A password is a line; a CA file a few certificates (a system bundle fits).
constexpr qint64 kLargestPasswordFile = 4096;
constexpr qint64 kLargestCaFile = 1024 * 1024;

// libmosquitto's one-time set-up, done before the first client is made.
void initLibrary()
{
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    Q_UNUSED(done);
}

QString libraryError(int rc, int savedErrno)
{
    if (rc == MOSQ_ERR_ERRNO && savedErrno != 0)
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttClient::MqttClient(QObject *parent) : QObject(parent)
{
    initLibrary();
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttClient::attempt);
    m_housekeeping.setInterval(1s);
    connect(&m_housekeeping, &QTimer::timeout, this, &MqttClient::housekeeping);
    m_attemptBound.setSingleShot(true);
    connect(&m_attemptBound, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no answer from the broker within %1 s").arg(m_attemptBound.interval() / 1000));
    });
}

MqttClient::~MqttClient()
{
    stop();
}

void MqttClient::start(const MqttEndpoint &endpoint)
{
    stop();
    m_endpoint = endpoint;
    if (m_endpoint.brokers.isEmpty())
        return;
    m_current = 0;
    m_failures = 0;
    m_lastLoggedProblem.clear();
    m_problem.clear();
    attempt();
}

void MqttClient::stop()
{
    disconnectCleanly();
    m_state = State::Idle;
}

void MqttClient::moveOn()
{
    if (m_state == State::Idle || m_endpoint.brokers.isEmpty())
        return;
    disconnectCleanly();
    m_current = (m_current + 1) % m_endpoint.brokers.size();
    m_failures = 0;
    attempt();
}

MqttBroker MqttClient::broker() const
{
    return m_endpoint.brokers.value(m_current);
}

void MqttClient::disconnectCleanly()
{
    m_retry.stop();
    m_attemptBound.stop();
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
    if (m_mosq && m_state == State::Connected) {
        mosquitto_disconnect(m_mosq);
        // What the socket takes now goes; nothing waits for the rest.
        if (mosquitto_want_write(m_mosq))
            mosquitto_loop_write(m_mosq, 1);
        qCInfo(lcFeed).noquote() << m_endpoint.label + QStringLiteral("disconnected from %1").arg(broker().text());
    }
    dropSession();
}

void MqttClient::attempt()
{
    dropSession();
    m_state = State::Connecting;
    m_connackRefused = false;
    // The name is looked up off the event loop (Qt's lookup), so a slow
    // name server delays no reading.
    m_lookupId = QHostInfo::lookupHost(broker().host, this, &MqttClient::hostResolved);
}

void MqttClient::hostResolved(const QHostInfo &info)
{
    m_lookupId = -1;
    if (m_state != State::Connecting)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(QStringLiteral("cannot resolve %1: %2").arg(broker().host, info.errorString()));
        return;
    }
    // With TLS the name goes to the library, which checks it against the
    // broker's certificate; without, the address found, so the library
    // looks nothing up on this thread.
    connectTo(m_endpoint.caFile.isEmpty() ? info.addresses().constFirst().toString() : broker().host);
}

bool MqttClient::prepareSession(QString *why)
{
    m_libraryErrors.clear();
    m_peerTookBytes = false;
    QByteArray password;
    if (!m_endpoint.passwordFile.isEmpty()) {
        const NamedFile file = readNamedFile(m_endpoint.passwordFile, kLargestPasswordFile);
        if (file.status != NamedFile::Status::Read) {
            *why = QStringLiteral("[Impianto] FilePassword=%1 %2").arg(m_endpoint.passwordFile, file.problem);
            return false;
        }
        // The first line is the password; a trailing newline is not part of it.
        password = file.bytes.left(file.bytes.indexOf('\n')).trimmed();
    }
    if (!m_endpoint.caFile.isEmpty()) {
        // Checked here, so a missing or odd file is named, never the
        // library's "invalid arguments"; the library reads it afterwards.
        const NamedFile file = readNamedFile(m_endpoint.caFile, kLargestCaFile);
        if (file.status != NamedFile::Status::Read) {
            *why = QStringLiteral("[Impianto] FileCA=%1 %2").arg(m_endpoint.caFile, file.problem);
            return false;
        }
        if (!file.bytes.contains("-----BEGIN CERTIFICATE-----")) {
            *why = QStringLiteral("[Impianto] FileCA=%1 holds no PEM certificate").arg(m_endpoint.caFile);
            return false;
        }
    }
    m_mosq = mosquitto_new(m_endpoint.clientId.constData(), true, this);
    if (!m_mosq) {
        *why = QStringLiteral("cannot create the MQTT client: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    mosquitto_log_callback_set(m_mosq, &MqttClient::onLog);
    const QByteArray user = m_endpoint.user.toUtf8();
    if (!user.isEmpty())
        mosquitto_username_pw_set(m_mosq, user.constData(), password.isEmpty() ? nullptr : password.constData());
    if (!m_endpoint.caFile.isEmpty()) {
        const int rc = mosquitto_tls_set(m_mosq, QFile::encodeName(m_endpoint.caFile).constData(), nullptr, nullptr,
                                         nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = QStringLiteral("[Impianto] FileCA=%1 is not usable: %2")
                       .arg(m_endpoint.caFile, libraryError(rc, errno));
            return false;
        }
    }
    if (!m_endpoint.willTopic.isEmpty()) {
        const QByteArray will = m_willSource ? m_willSource() : m_endpoint.willPayload;
        mosquitto_will_set(m_mosq, m_endpoint.willTopic.constData(), int(will.size()), will.constData(), 1,
                           m_endpoint.willRetained);
    }
    return true;
}

void MqttClient::connectTo(const QString &address)
{
    QString why;
    if (!prepareSession(&why)) {
        fail(why);
        return;
    }
    errno = 0;
    const int rc =
        mosquitto_connect_async(m_mosq, address.toUtf8().constData(), broker().port, m_endpoint.keepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail(attemptProblem(rc, errno, false));
        return;
    }
    watchSocket();
    // A broker that took the connection and does not answer (stopped, or
    // cut off on the way) is given up soon at first, so a short cut is over
    // soon after it ends; longer as the failures go on, for a busy broker.
    const int bound = qMin(qBound(5, m_endpoint.keepaliveSeconds, 30), 4 << qMin(m_failures, 3));
    m_attemptBound.start(std::chrono::seconds(bound));
    m_housekeeping.start();
}

void MqttClient::watchSocket()
{
    const int fd = mosquitto_socket(m_mosq);
    if (fd < 0) {
        fail(QStringLiteral("no socket"));
        return;
    }
    m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_read, &QSocketNotifier::activated, this, [this] { serviceSocket(true); });
    m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this, [this] { serviceSocket(false); });
    m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttClient::serviceSocket(bool readable)
{
    if (!m_mosq)
        return;
    // A connection still being made that failed says so here: the TLS
    // layer may have taken the socket's error already and would leave a
    // hung-up socket waking the loop.
    bool hungUp = false;
    if (m_state == State::Connecting) {
        const int fd = mosquitto_socket(m_mosq);
        int error = 0;
        socklen_t size = sizeof error;
        pollfd p{fd, POLLIN, 0};
        hungUp = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR));
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) {
            fail(attemptProblem(MOSQ_ERR_ERRNO, error, peerTookBytes(fd)));
            return;
        }
        m_peerTookBytes = peerTookBytes(fd);
    }
    errno = 0;
    const int rc = readable ? mosquitto_loop_read(m_mosq, 1) : mosquitto_loop_write(m_mosq, 1);
    const int savedErrno = errno;
    if (hungUp && m_mosq && m_state == State::Connecting) {
        fail(attemptProblem(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, savedErrno, m_peerTookBytes));
        return;
    }
    afterLibraryCall(rc, savedErrno);
}

void MqttClient::housekeeping()
{
    if (!m_mosq)
        return;
    errno = 0;
    const int rc = mosquitto_loop_misc(m_mosq);
    afterLibraryCall(rc, errno);
}

// The library has returned: act on what its callbacks recorded, here where
// the session may be dropped safely.
void MqttClient::afterLibraryCall(int rc, int savedErrno)
{
    if (!m_mosq)
        return;
    if (mosquitto_socket(m_mosq) >= 0 && m_state == State::Connecting && rc != MOSQ_ERR_SUCCESS) {
        fail(attemptProblem(rc, savedErrno, m_peerTookBytes));
        return;
    }
    if (mosquitto_socket(m_mosq) >= 0) {
        if (m_write)
            m_write->setEnabled(mosquitto_want_write(m_mosq));
        return;
    }
    // The library closed the socket: the session has ended.
    if (m_problem.isEmpty() || m_state == State::Connected)
        m_problem = m_state == State::Connected && rc == MOSQ_ERR_SUCCESS
            ? QStringLiteral("the connection was closed")
            : attemptProblem(rc, savedErrno, m_state == State::Connected || m_peerTookBytes);
    if (m_state == State::Connected) {
        qCWarning(lcFeed).noquote() << m_endpoint.label
                + QStringLiteral("connection to %1 lost: %2").arg(broker().text(), m_problem);
        // Tried again at once; a failure then waits 1 s, 2 s, ...
        m_state = State::Waiting;
        dropSession();
        m_failures = 0;
        m_retry.start(0);
        emit disconnected();
        return;
    }
    fail(m_problem);
}

void MqttClient::fail(const QString &why)
{
    m_problem = why;
    ++m_failures;
    const int pause = m_failures > 5 ? kLongestPauseSeconds : qMin(kLongestPauseSeconds, 1 << (m_failures - 1));
    const MqttBroker failed = broker();
    m_current = (m_current + 1) % m_endpoint.brokers.size();
    const QString next = m_endpoint.brokers.size() > 1 ? QStringLiteral(" with %1").arg(broker().text()) : QString();
    // One line per reason, not one per attempt: a broker that stays away
    // does not fill the journal.
    if (why != m_lastLoggedProblem) {
        qCWarning(lcFeed).noquote() << m_endpoint.label
                + QStringLiteral("cannot connect to %1: %2; trying again%3 in %4 s, then less "
                                 "often (up to every %5 s)")
                      .arg(failed.text(), why, next)
                      .arg(pause)
                      .arg(kLongestPauseSeconds);
        m_lastLoggedProblem = why;
    } else {
        qCDebug(lcFeed).noquote() << QStringLiteral("attempt %1 failed: %2").arg(m_failures).arg(why);
    }
    dropSession();
    m_state = State::Waiting;
    m_retry.start(std::chrono::seconds(pause));
}

void MqttClient::dropSession()
{
    m_attemptBound.stop();
    m_housekeeping.stop();
    delete m_read;
    m_read = nullptr;
    delete m_write;
    m_write = nullptr;
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

int MqttClient::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    if (!m_mosq || m_state != State::Connected)
        return -1;
    int mid = -1;
    errno = 0;
    const int rc =
        mosquitto_publish(m_mosq, &mid, topic.constData(), int(payload.size()), payload.constData(), qos, retain);
    const int savedErrno = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        qCDebug(lcFeed).noquote()
            << QStringLiteral("publish on %1 failed: %2").arg(QString::fromUtf8(topic), libraryError(rc, savedErrno));
        mid = -1;
    }
    afterLibraryCall(rc, savedErrno);
    return mid;
}

bool MqttClient::subscribe(const QByteArray &filter, int qos)
{
    if (!m_mosq || m_state != State::Connected)
        return false;
    errno = 0;
    const int rc = mosquitto_subscribe(m_mosq, nullptr, filter.constData(), qos);
    const int savedErrno = errno;
    if (rc != MOSQ_ERR_SUCCESS)
        qCDebug(lcFeed).noquote() << QStringLiteral("subscribing to %1 failed: %2")
                                         .arg(QString::fromUtf8(filter), libraryError(rc, savedErrno));
    afterLibraryCall(rc, savedErrno);
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *client = static_cast<MqttClient *>(self);
    const QByteArray topic(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    // Told once the library has returned (a slot may publish or stop).
    QMetaObject::invokeMethod(
        client, [client, topic, payload] { emit client->received(topic, payload); }, Qt::QueuedConnection);
}

void MqttClient::onConnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    if (rc != 0) {
        client->m_connackRefused = true;
        client->m_problem = QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    client->m_attemptBound.stop();
    client->m_state = State::Connected;
    client->m_problem.clear();
    client->m_libraryErrors.clear();
    client->m_lastLoggedProblem.clear();
    client->m_failures = 0;
    qCInfo(lcFeed).noquote() << client->m_endpoint.label
            + QStringLiteral("connected to %1%2")
                  .arg(client->broker().text(),
                       client->m_endpoint.caFile.isEmpty() ? QString() : QStringLiteral(" (TLS)"));
    // Told once the library has returned (a slot may stop the client).
    QMetaObject::invokeMethod(client, &MqttClient::connected, Qt::QueuedConnection);
}

void MqttClient::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    if (rc != 0 && !client->m_connackRefused)
        client->m_problem =
            client->attemptProblem(rc, errno, client->m_state == State::Connected || client->m_peerTookBytes);
}

bool MqttClient::peerTookBytes(int fd)
{
    // Bytes the peer acknowledged: the connection was made, whatever
    // became of it since (a refused one never carried any).
    tcp_info info{};
    socklen_t size = sizeof info;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && info.tcpi_bytes_acked > 0;
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text)
{
    // The first few of an attempt tell why; a long session keeps no more.
    auto *client = static_cast<MqttClient *>(self);
    if (level == MOSQ_LOG_ERR && client->m_libraryErrors.size() < 8)
        client->m_libraryErrors.append(QString::fromUtf8(text));
}

QString MqttClient::attemptProblem(int rc, int savedErrno, bool connected) const
{
    const QString errors = m_libraryErrors.join(QLatin1Char(' '));
    const bool tls = !m_endpoint.caFile.isEmpty();
    const QString where = broker().text();
    if ((rc == MOSQ_ERR_ERRNO && savedErrno == ECONNREFUSED) || errors.contains(QLatin1String("Connection refused"))
        || (tls && !connected && errors.isEmpty() && rc != MOSQ_ERR_SUCCESS))
        return QStringLiteral("refused: nothing listens on %1").arg(where);
    if (tls) {
        if (errors.contains(QLatin1String("host name verification failed")))
            return QStringLiteral("the broker's certificate does not name %1 ([Impianto] Server)").arg(broker().host);
        if (errors.contains(QLatin1String("certificate verify failed")))
            return QStringLiteral("the broker's certificate is not trusted by [Impianto] FileCA=%1")
                .arg(m_endpoint.caFile);
        if (errors.contains(QLatin1String("wrong version number")) || errors.contains(QLatin1String("packet length"))
            || errors.contains(QLatin1String("unexpected eof")) || errors.contains(QLatin1String("record layer"))
            || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_SUCCESS
            || (rc == MOSQ_ERR_ERRNO && (savedErrno == ECONNRESET || savedErrno == EPIPE)))
            return QStringLiteral("no TLS on the other side: %1 closed the TLS handshake (a plain MQTT port?)")
                .arg(where);
        if (!errors.isEmpty())
            return QStringLiteral("TLS: %1").arg(errors);
    }
    if (rc == MOSQ_ERR_SUCCESS)
        return QStringLiteral("the connection was closed");
    return libraryError(rc, savedErrno);
}

void MqttClient::onPublish(mosquitto *, void *self, int mid)
{
    auto *client = static_cast<MqttClient *>(self);
    QMetaObject::invokeMethod(
        client, [client, mid] { emit client->acknowledged(mid); }, Qt::QueuedConnection);
}

} // namespace quorvex
