#include "api/opcua/OpcuaFace.h"

#include "api/Global.h"
#include "common/AppFolders.h"
#include "common/AutomationError.h"
#include "common/NamedFile.h"
#include "line/Line.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <QSysInfo>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace quorvex {

Q_LOGGING_CATEGORY(lcOpcua, "quorvex.opcua", QtInfoMsg)

namespace {

using namespace opcua;

constexpr int kRetryMs = 5000;
constexpr int kFastestReadMs = 200;
// Without the stack's descriptor the face looks at its sockets this often.
constexpr int kPollMs = 20;
constexpr qint64 kLargestPasswordFile = 4096;

bool configuredRole(const Line &line, Role role)
{
    try {
        return !line.device(role).Marca.isEmpty();
    } catch (const AutomationError &) {
        return false; // before the first load
    }
}

bool writePrivate(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // Owner only before a byte of the key is written.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file.write(bytes) == bytes.size() && file.flush();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The SHA-1 of a DER certificate, as OPC UA clients show it.
QString thumbprint(const QByteArray &der)
{
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha1).toHex().toUpper());
}

// The reading a variable's value follows: its own, the role's for its health
// or the tracking's height; none for Bobine.
std::optional<RoleOperation> readOf(const NodeSpec &node)
{
    switch (node.row->source) {
    case ValueSource::Reading: return node.row->operation;
    case ValueSource::Tracking:
    case ValueSource::Health: return readingOf(node.role);
    case ValueSource::Coil: return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

OpcuaFace::OpcuaFace(Line &line, const GlobalServices *services, QObject *parent)
        : QObject(parent), m_line(line), m_services(services)
{
    m_tick.setSingleShot(true);
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, &OpcuaFace::runStack);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &OpcuaFace::listen);
    UaAdapter::Hooks hooks;
    hooks.read = [this](int node) { return read(node); };
    hooks.monitored = [this](int node, bool added) {
        if (node >= m_nodes.size())
            return;
        const std::optional<RoleOperation> op = readOf(m_nodes[node]);
        if (!op)
            return;
        Poll &r = m_polls[size_t(*op)];
        r.monitored = std::max(0, r.monitored + (added ? 1 : -1));
        if (r.monitored == 0)
            r.intervalMs = kFastestReadMs;
        if (added)
            want(m_nodes[node].role, op);
    };
    hooks.zero = [this](quint64 call, bool asUser) { zero(call, asUser); };
    hooks.untrusted = [this](const QByteArray &certificate) { untrusted(certificate); };
    m_adapter = std::make_unique<UaAdapter>(std::move(hooks));
}

OpcuaFace::~OpcuaFace()
{
    stop();
}

void OpcuaFace::configure(const OpcuaFaceSettings &settings)
{
    if (settings == m_settings && (m_adapter->running() || !settings.enabled())) {
        // The roles may have changed with the load.
        const QList<NodeSpec> nodes = servedNodes(servedLine());
        const auto same = [](const NodeSpec &a, const NodeSpec &b) { return a.row == b.row && a.object == b.object; };
        if (m_adapter->running() && !std::equal(nodes.begin(), nodes.end(), m_nodes.begin(), m_nodes.end(), same)) {
            m_nodes = nodes;
            m_adapter->setNodes(m_nodes);
        }
        return;
    }
    // The instance goes only when the face does: dropping the line's last
    // one and taking a new one would unload and load the line again.
    std::shared_ptr<Global> instance = std::move(m_instance);
    stop();
    m_settings = settings;
    if (!m_settings.enabled())
        return;
    m_instance = instance ? std::move(instance) : std::make_shared<Global>(m_line, m_services);
    listen();
}

bool OpcuaFace::preparePki(QString *problem)
{
    m_pkiFolder = appFolder(QStandardPaths::GenericDataLocation) + QStringLiteral("/pki");
    for (const char *sub : {"own", "trusted", "rejected"}) {
        if (!QDir().mkpath(m_pkiFolder + QLatin1Char('/') + QLatin1String(sub))) {
            *problem = QStringLiteral("cannot make the folder %1/%2").arg(m_pkiFolder, QLatin1String(sub));
            return false;
        }
    }
    m_certificateFile = m_pkiFolder + QStringLiteral("/own/cert.der");
    const QString keyFile = m_pkiFolder + QStringLiteral("/own/key.pem");
    const NamedFile certificate = readNamedFile(m_certificateFile, 64 * 1024);
    const NamedFile key = readNamedFile(keyFile, 64 * 1024);
    // A certificate made for another line name is made again: clients check
    // the application URI against it.
    const bool usable = certificate.status == NamedFile::Status::Read && key.status == NamedFile::Status::Read
        && certificate.bytes.contains(m_settings.applicationUri().toUtf8());
    if (usable) {
        m_thumbprint = thumbprint(certificate.bytes);
        return true;
    }
    QByteArray der;
    QByteArray pem;
    QString why;
    if (!UaAdapter::makeCertificate(m_settings.applicationUri(), QSysInfo::machineHostName(), &der, &pem, &why)) {
        *problem = QStringLiteral("cannot make the server's certificate: %1").arg(why);
        return false;
    }
    if (!writePrivate(keyFile, pem) || !writeFile(m_certificateFile, der)) {
        *problem = QStringLiteral("cannot write the server's certificate to %1").arg(m_pkiFolder + "/own");
        return false;
    }
    m_thumbprint = thumbprint(der);
    qCInfo(lcOpcua).noquote() << QStringLiteral("OPC UA server certificate made for %1: %2, thumbprint %3")
                                     .arg(m_settings.applicationUri(), m_certificateFile, m_thumbprint);
    return true;
}

QByteArray OpcuaFace::password() const
{
    if (m_settings.user.isEmpty() || m_settings.passwordFile.isEmpty())
        return {};
    const NamedFile file = readNamedFile(m_settings.passwordFile, kLargestPasswordFile);
    if (file.status != NamedFile::Status::Read) {
        qCWarning(lcOpcua).noquote() << QStringLiteral("[OPCUA] FilePassword=%1 %2: nobody can log in as %3")
                                            .arg(m_settings.passwordFile, file.problem, m_settings.user);
        return {};
    }
    // The first line is the password; a trailing newline is not part of it.
    return file.bytes.left(file.bytes.indexOf('\n')).trimmed();
}

void OpcuaFace::listen()
{
    ServerSetup setup;
    setup.address = m_settings.address.toString();
    setup.port = m_settings.port;
    setup.secure = m_settings.secure;
    setup.applicationUri = m_settings.applicationUri();
    setup.lineName = m_settings.lineName;
    setup.trustedFolder = m_pkiFolder + QStringLiteral("/trusted");
    QString problem;
    if (preparePki(&problem)) {
        setup.trustedFolder = m_pkiFolder + QStringLiteral("/trusted");
        setup.certificate = readNamedFile(m_certificateFile, 64 * 1024).bytes;
        setup.privateKey = readNamedFile(m_pkiFolder + QStringLiteral("/own/key.pem"), 64 * 1024).bytes;
        setup.password = password();
        // A user without a password could never log in: no user at all.
        setup.user = setup.password.isEmpty() ? QString() : m_settings.user;
        m_nodes = servedNodes(servedLine());
        if (m_adapter->start(setup, m_nodes, &problem)) {
            const QString where = QStringLiteral("%1 port %2").arg(setup.address).arg(setup.port);
            qCInfo(lcOpcua).noquote() << QStringLiteral("OPC UA face listening on %1%2, security %3")
                                             .arg(where, m_problem.isEmpty() ? QString() : QStringLiteral(" again"),
                                                  m_settings.secure ? QStringLiteral("SignAndEncrypt")
                                                                    : QStringLiteral("None"));
            m_problem.clear();
            if (m_adapter->descriptor() >= 0) {
                m_notifier = new QSocketNotifier(m_adapter->descriptor(), QSocketNotifier::Read, this);
                connect(m_notifier, &QSocketNotifier::activated, this, &OpcuaFace::runStack);
            }
            schedule(0);
            return;
        }
    }
    if (m_problem.isEmpty())
        qCWarning(lcOpcua).noquote() << QStringLiteral(
                                            "OPC UA face cannot listen on %1 port %2: %3; trying again every %4 s")
                                            .arg(setup.address)
                                            .arg(setup.port)
                                            .arg(problem)
                                            .arg(kRetryMs / 1000);
    m_problem = problem;
    m_retry.start();
}

void OpcuaFace::stop()
{
    m_retry.stop();
    m_tick.stop();
    delete m_notifier;
    m_notifier = nullptr;
    m_adapter->stop();
    m_nodes.clear();
    m_problem.clear();
}

void OpcuaFace::runStack()
{
    const int next = m_adapter->iterate();
    if (next < 0)
        return;
    schedule(m_notifier ? std::min(next, 1000) : std::min(next, kPollMs));
}

void OpcuaFace::schedule(int ms)
{
    if (!m_tick.isActive() || m_tick.remainingTime() > ms)
        m_tick.start(std::max(ms, 0));
}

ServedLine OpcuaFace::servedLine() const
{
    ServedLine served;
    for (int r = 0; r < kRoleCount; ++r)
        served.configured[r] = configuredRole(m_line, Role(r));
    for (int op = 0; op < kRoleOperationCount; ++op) {
        const Role role = roleOf(RoleOperation(op));
        served.serves[op] = served.configured[size_t(role)] && m_line.device(role).driver(RoleOperation(op));
    }
    served.tracking = m_line.height().MisuraMedia;
    return served;
}

// A variable's value, time and status, from the line's image.
NodeValue OpcuaFace::read(int node)
{
    const NodeSpec &spec = m_nodes[node];
    const PublishedValue &row = *spec.row;
    const LineImage &image = m_line.image();
    const std::optional<RoleOperation> op = readOf(spec);
    if (op)
        want(spec.role, op);
    if (row.source == ValueSource::Health) {
        const std::optional<RoleHealth> health = image.health(spec.role);
        if (!health)
            return {};
        return {LineImage::healthValue(*health, row.value), ValueQuality::Good, LineImage::nowMs()};
    }
    const LineImage::Entry &entry = image.entry(row.value);
    const qint64 staleAfterMs = op ? 5LL * m_polls[size_t(*op)].intervalMs : 0;
    NodeValue v{entry.value, image.quality(row.value, staleAfterMs), std::max<qint64>(entry.timeMs, 0)};
    // A coil wound without a weighing has no weight.
    if (v.value.isNull() && v.quality == ValueQuality::Good)
        v.quality = ValueQuality::WaitingForInitialData;
    return v;
}

// When op was last read: by anyone, as the image has it; the face's own
// reads count from their start, so they keep to the interval.
qint64 OpcuaFace::lastReadMs(RoleOperation op) const
{
    const Poll &p = m_polls[size_t(op)];
    const std::optional<Value> row = valueOfOperation(op);
    const qint64 attempt = row ? m_line.image().entry(*row).attemptMs : -1;
    return attempt > p.ownEndedMs ? attempt : p.ownStartedMs;
}

// A client sampled or read a role's variable: the role's reading (op, or
// the role's own reading for its health) is read again unless someone read
// it within the interval asked.
void OpcuaFace::want(Role role, std::optional<RoleOperation> op)
{
    if (!op)
        op = readingOf(role);
    if (!op || !configuredRole(m_line, role) || !m_line.device(role).driver(*op))
        return;
    Poll &r = m_polls[size_t(*op)];
    const qint64 now = LineImage::nowMs();
    // While monitored, samples come at the interval asked: the gap between
    // two is that interval (several clients: the shortest, at least 200 ms).
    // A one-off read keeps the fastest interval.
    if (r.monitored > 0 && r.wantedMs >= 0)
        r.intervalMs = int(std::clamp<qint64>(now - r.wantedMs, kFastestReadMs, 3600000));
    r.wantedMs = now;
    const qint64 last = lastReadMs(*op);
    if (r.reading || (last >= 0 && now - last < std::max(kFastestReadMs, r.intervalMs * 9 / 10)))
        return;
    r.reading = true;
    // Outside the stack's callback.
    QTimer::singleShot(0, this, [this, op = *op] { readOwn(op); });
}

QCoro::Task<> OpcuaFace::readOwn(RoleOperation op)
{
    const QPointer<OpcuaFace> self(this);
    const qint64 started = LineImage::nowMs();
    QString problem;
    // Valid or not, the reading reaches the image through the line.
    co_await m_line.LeggiValore(op, &problem);
    if (!self)
        co_return;
    Poll &r = m_polls[size_t(op)];
    r.reading = false;
    r.ownStartedMs = started;
    // A read that failed before its exchange leaves the image as it was.
    const std::optional<Value> row = valueOfOperation(op);
    r.ownEndedMs = std::max(row ? m_line.image().entry(*row).attemptMs : -1, started);
}

void OpcuaFace::zero(quint64 call, bool asUser)
{
    if (!m_settings.writable || (!m_settings.user.isEmpty() && !asUser)) {
        qCInfo(lcOpcua).noquote() << QStringLiteral("AzzeraLunghezza from an OPC UA client refused: %1")
                                         .arg(!m_settings.writable
                                                  ? QStringLiteral("[OPCUA] Scrittura is not 1")
                                                  : QStringLiteral("the session is not %1's").arg(m_settings.user));
        m_adapter->finish(call, CallResult::AccessDenied);
        schedule(0);
        return;
    }
    runZero(call);
}

QCoro::Task<> OpcuaFace::runZero(quint64 call)
{
    const QPointer<OpcuaFace> self(this);
    const std::shared_ptr<Global> instance = m_instance;
    qCInfo(lcOpcua).noquote() << QStringLiteral("AzzeraLunghezza from an OPC UA client");
    QString problem;
    // A failed zeroing is warned about by Global, with its reason.
    co_await instance->AzzeraLunghezza(&problem);
    if (!self)
        co_return;
    m_adapter->finish(call, problem.isEmpty() ? CallResult::Good : CallResult::Failed);
    schedule(0);
}

void OpcuaFace::untrusted(const QByteArray &certificate)
{
    const QString file = QStringLiteral("%1/rejected/%2.der").arg(m_pkiFolder, thumbprint(certificate));
    if (!QFile::exists(file))
        writeFile(file, certificate);
    if (m_rejectedTold.contains(file))
        return;
    m_rejectedTold.insert(file);
    qCWarning(lcOpcua).noquote() << QStringLiteral("OPC UA client refused: its certificate is not trusted; it was "
                                                   "written to %1: move it to %2/trusted/ to let that client connect")
                                        .arg(file, m_pkiFolder);
}

// The peers of the face's TCP connections, from the process's sockets.
QStringList OpcuaFace::connections() const
{
    QStringList peers;
    QDir fds(QStringLiteral("/proc/self/fd"));
    fds.setFilter(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : fds.entryList()) {
        const int fd = name.toInt();
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localSize = sizeof local;
        socklen_t peerSize = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) != 0
            || getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0)
            continue;
        const QHostAddress localAddress(reinterpret_cast<const sockaddr *>(&local));
        const QHostAddress peerAddress(reinterpret_cast<const sockaddr *>(&peer));
        const auto port = [](const sockaddr_storage &a) {
            return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6 &>(a).sin6_port)
                : a.ss_family == AF_INET   ? ntohs(reinterpret_cast<const sockaddr_in &>(a).sin_port)
                                           : 0;
        };
        if (port(local) == m_settings.port && !localAddress.isNull())
            peers << QStringLiteral("%1:%2").arg(peerAddress.toString()).arg(port(peer));
    }
    peers.sort();
    return peers;
}

QVariantMap OpcuaFace::status() const
{
    const QString state = !m_settings.enabled() ? QStringLiteral("off")
        : m_adapter->running()                  ? QStringLiteral("listening")
                                                : QStringLiteral("failed");
    const bool any = m_settings.address == QHostAddress::AnyIPv4 || m_settings.address == QHostAddress::AnyIPv6;
    const QString host = any ? QSysInfo::machineHostName()
        : m_settings.address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(m_settings.address.toString())
        : m_settings.address.toString();
    QStringList sessions;
    for (const SessionInfo &s : m_adapter->sessions())
        sessions << QStringLiteral("%1 (%2%3)")
                        .arg(s.application.isEmpty() ? QStringLiteral("unnamed") : s.application, s.security,
                             s.user ? QStringLiteral(", ") + m_settings.user : QString());
    return {
        {QStringLiteral("state"), state},
        {QStringLiteral("polled"), m_adapter->running() && !m_notifier},
        {QStringLiteral("endpoint"),
         m_settings.enabled() ? QStringLiteral("opc.tcp://%1:%2").arg(host).arg(m_settings.port) : QString()},
        {QStringLiteral("security"),
         m_settings.secure ? QStringLiteral("SignAndEncrypt (Basic256Sha256)") : QStringLiteral("None")},
        {QStringLiteral("writable"), m_settings.writable},
        {QStringLiteral("user"), m_settings.user},
        {QStringLiteral("certificate"), m_certificateFile},
        {QStringLiteral("thumbprint"), m_thumbprint},
        {QStringLiteral("sessions"), sessions},
        {QStringLiteral("connections"), m_adapter->running() ? connections() : QStringList()},
        {QStringLiteral("monitoredItems"), m_adapter->monitoredItems()},
        {QStringLiteral("problem"), m_problem},
    };
}

} // namespace quorvex
