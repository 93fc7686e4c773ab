#include "api/modbus/ModbusFace.h"

#include "api/Global.h"
#include "api/modbus/FaceServer.h"
#include "api/modbus/MbapFrame.h"
#include "common/AutomationError.h"
#include "line/Line.h"

#include <QLoggingCategory>
#include <QModbusTcpConnectionObserver>
#include <QTcpSocket>
#include <algorithm>

namespace quorvex {

Q_LOGGING_CATEGORY(lcModbus, "quorvex.modbus", QtInfoMsg)

namespace {

constexpr int kRetryMs = 5000;
// Frames a connection may have waiting behind a zeroing, in bytes.
constexpr int kMaxBuffered = 64 * 1024;

QString peerText(const QTcpSocket &socket)
{
    return QStringLiteral("%1:%2").arg(socket.peerAddress().toString()).arg(socket.peerPort());
}

// Hands each new connection to a function that accepts or refuses it.
class Gate : public QModbusTcpConnectionObserver {
public:
    explicit Gate(std::function<bool(QTcpSocket *)> accept) : m_accept(std::move(accept)) {}
    bool acceptNewConnection(QTcpSocket *socket) override { return m_accept(socket); }

private:
    std::function<bool(QTcpSocket *)> m_accept;
};

} // namespace

ModbusFace::ModbusFace(Line &line, const GlobalServices *services, QObject *parent)
        : QObject(parent), m_line(line), m_services(services)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &ModbusFace::listen);
    m_poll.setTimerType(Qt::PreciseTimer);
    connect(&m_poll, &QTimer::timeout, this, &ModbusFace::pollRoles);
}

ModbusFace::~ModbusFace()
{
    stop();
}

void ModbusFace::configure(const ModbusFaceSettings &settings)
{
    if (settings == m_settings && (m_server || !settings.enabled()))
        return;
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

void ModbusFace::listen()
{
    delete m_server;
    m_server = new modbus::FaceServer(this);
    m_server->refresh = [this] { refreshImage(); };
    m_server->coilWritable = m_settings.writable;
    m_server->setServerAddress(m_settings.unit);
    m_server->setConnectionParameter(QModbusDevice::NetworkAddressParameter, m_settings.address.toString());
    m_server->setConnectionParameter(QModbusDevice::NetworkPortParameter, m_settings.port);
    m_server->installConnectionObserver(new Gate([this](QTcpSocket *socket) { return accept(socket); }));
    const QString where = QStringLiteral("%1 port %2").arg(m_settings.address.toString()).arg(m_settings.port);
    if (m_server->connectDevice() && m_server->state() == QModbusDevice::ConnectedState) {
        if (!m_problem.isEmpty())
            qCInfo(lcModbus).noquote() << QStringLiteral("Modbus TCP face listening on %1 again").arg(where);
        else
            qCInfo(lcModbus).noquote() << QStringLiteral("Modbus TCP face listening on %1").arg(where);
        m_problem.clear();
        return;
    }
    const QString problem = m_server->errorString();
    if (m_problem.isEmpty())
        qCWarning(lcModbus).noquote() << QStringLiteral(
                                             "Modbus TCP face cannot listen on %1: %2; trying again every %3 s")
                                             .arg(where, problem)
                                             .arg(kRetryMs / 1000);
    m_problem = problem.isEmpty() ? QStringLiteral("cannot listen") : problem;
    delete m_server;
    m_server = nullptr;
    m_retry.start();
}

void ModbusFace::stop()
{
    m_retry.stop();
    m_poll.stop();
    for (auto &[socket, connection] : m_connections) {
        if (connection.socket)
            connection.socket->disconnect(this);
    }
    m_connections.clear();
    delete m_server; // closes its connections
    m_server = nullptr;
    m_problem.clear();
}

bool ModbusFace::accept(QTcpSocket *socket)
{
    if (!m_settings.allows(socket->peerAddress())) {
        qCInfo(lcModbus).noquote() << QStringLiteral("Modbus TCP connection from %1 refused: not in [ModbusTCP] Client")
                                          .arg(peerText(*socket));
        return false;
    }
    static quint64 serial = 0;
    Connection &connection = m_connections[socket];
    connection.socket = socket;
    connection.serial = ++serial;
    connection.peer = peerText(*socket);
    // Connected before Qt's own handler, which then finds nothing to read.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        const auto it = m_connections.find(socket);
        if (it == m_connections.end())
            return;
        it->second.buffer += socket->readAll();
        readFrames(it->second);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { dropConnection(socket); });
    // A socket deleted without disconnecting (the server going) is only forgotten.
    connect(socket, &QObject::destroyed, this, [this, socket] { m_connections.erase(socket); });
    qCInfo(lcModbus).noquote() << QStringLiteral("Modbus TCP client %1 connected").arg(peerText(*socket));
    if (m_settings.intervalMs > 0 && !m_poll.isActive()) {
        m_poll.start(m_settings.intervalMs);
        pollRoles();
    }
    return true;
}

void ModbusFace::dropConnection(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    qCInfo(lcModbus).noquote() << QStringLiteral("Modbus TCP client %1 disconnected").arg(it->second.peer);
    m_connections.erase(it);
    if (m_connections.empty())
        m_poll.stop();
}

void ModbusFace::readFrames(Connection &c)
{
    while (!c.zeroing) {
        const modbus::MbapFrame frame = modbus::takeFrame(c.buffer);
        if (frame.status == modbus::MbapFrame::Status::Incomplete)
            break;
        if (frame.status == modbus::MbapFrame::Status::NotModbusTcp) {
            qCInfo(lcModbus).noquote()
                << QStringLiteral("Modbus TCP client %1 sent a frame that is not Modbus TCP: closed").arg(c.peer);
            c.socket->abort(); // drops c
            return;
        }
        if (frame.unit != m_settings.unit) {
            send(c, frame.transaction, frame.unit,
                 QModbusExceptionResponse(frame.request.functionCode(),
                                          QModbusExceptionResponse::GatewayTargetDeviceFailedToRespond));
            continue;
        }
        if (m_settings.writable && modbus::FaceServer::zeroesLength(frame.request)) {
            c.zeroing = true;
            zero(c.socket, c.serial, frame.transaction, frame.unit, frame.request);
            return;
        }
        send(c, frame.transaction, frame.unit, m_server->answer(frame.request));
    }
    if (c.buffer.size() > kMaxBuffered) {
        qCInfo(lcModbus).noquote()
            << QStringLiteral("Modbus TCP client %1 sent more than it waits for: closed").arg(c.peer);
        c.socket->abort();
    }
}

void ModbusFace::send(Connection &c, quint16 transaction, quint8 unit, const QModbusResponse &response)
{
    c.socket->write(modbus::responseFrame(transaction, unit, response));
}

QCoro::Task<> ModbusFace::zero(QTcpSocket *socket, quint64 serial, quint16 transaction, quint8 unit,
                               QModbusRequest request)
{
    const QPointer<ModbusFace> self(this);
    const std::shared_ptr<Global> instance = m_instance;
    QModbusResponse response(request.functionCode(), request.data());
    qCInfo(lcModbus).noquote() << QStringLiteral("AzzeraLunghezza from Modbus TCP client %1").arg(peerText(*socket));
    try {
        co_await instance->AzzeraLunghezza();
    } catch (const AutomationError &error) {
        qCWarning(lcModbus).noquote() << QStringLiteral("AzzeraLunghezza from Modbus TCP failed: %1").arg(error.text());
        response = QModbusExceptionResponse(request.functionCode(), QModbusExceptionResponse::ServerDeviceFailure);
    }
    if (!self)
        co_return;
    const auto it = self->m_connections.find(socket);
    if (it == self->m_connections.end() || it->second.serial != serial)
        co_return;
    it->second.zeroing = false;
    self->send(it->second, transaction, unit, response);
    self->readFrames(it->second);
}

bool ModbusFace::configured(Role role) const
{
    try {
        return !m_line.device(role).Marca.isEmpty();
    } catch (const AutomationError &) {
        return false; // before the first load
    }
}

qint64 ModbusFace::staleAfterMs() const
{
    return m_settings.intervalMs > 0 ? 5LL * m_settings.intervalMs : 5000;
}

// The face reads itself the readings its map holds.
void ModbusFace::pollRoles()
{
    const LineImage &image = m_line.image();
    for (const modbus::Register &r : modbus::registerMap()) {
        const std::optional<RoleOperation> op = published(r.value).operation;
        if (!op || m_reading[size_t(*op)] || !configured(roleOf(*op)) || !m_line.device(roleOf(*op)).driver(*op))
            continue;
        // Someone read it within the interval: the image has it. A tenth of
        // the interval is left for the timer's and the reading's own jitter.
        // The face's own reads count from their start, so they keep to the interval.
        qint64 last = image.entry(r.value).attemptMs;
        if (last >= 0 && last == m_ownEndedMs[size_t(*op)])
            last = m_ownStartedMs[size_t(*op)];
        if (last >= 0 && LineImage::nowMs() - last < m_settings.intervalMs * 9 / 10)
            continue;
        readOwn(*op);
    }
}

QCoro::Task<> ModbusFace::readOwn(RoleOperation op)
{
    const QPointer<ModbusFace> self(this);
    m_reading[size_t(op)] = true;
    m_ownStartedMs[size_t(op)] = LineImage::nowMs();
    // Valid or not, the reading reaches the image through the line.
    co_await m_line.LeggiValore(op);
    if (!self)
        co_return;
    m_reading[size_t(op)] = false;
    if (const std::optional<Value> row = valueOfOperation(op))
        m_ownEndedMs[size_t(op)] = m_line.image().entry(*row).attemptMs;
}

double ModbusFace::registerValue(const modbus::Register &r) const
{
    const PublishedValue &row = published(r.value);
    const LineImage &image = m_line.image();
    switch (row.source) {
    case ValueSource::Reading: return configured(row.role) ? image.entry(r.value).value.toDouble() : 0.0;
    case ValueSource::Health:
        if (!configured(r.role))
            return r.value == Value::EtaLettura ? 65535.0 : 0.0;
        if (r.value == Value::StatoLettura)
            return image.readingState(r.role, staleAfterMs());
        if (r.value == Value::EtaLettura) {
            const qint64 age = image.readingAgeMs(r.role);
            return age < 0 ? 65535.0 : double(std::min<qint64>(age / 100, 65535));
        }
        return 0.0;
    case ValueSource::Coil:
    case ValueSource::Tracking: return image.entry(r.value).value.toDouble();
    }
    return 0.0;
}

void ModbusFace::refreshImage()
{
    if (m_server)
        m_server->setImage(modbus::encodeImage([this](const modbus::Register &r) { return registerValue(r); }));
}

QList<quint16> ModbusFace::registers()
{
    return modbus::encodeImage([this](const modbus::Register &r) { return registerValue(r); });
}

QVariantMap ModbusFace::status() const
{
    QStringList clients;
    for (const auto &[socket, connection] : m_connections) {
        if (connection.socket)
            clients << connection.peer;
    }
    const QString state = !m_settings.enabled() ? QStringLiteral("off")
        : m_server                              ? QStringLiteral("listening")
                                                : QStringLiteral("failed");
    return {
        {QStringLiteral("state"), state},
        {QStringLiteral("address"), m_settings.address.toString()},
        {QStringLiteral("port"), m_settings.port},
        {QStringLiteral("unit"), m_settings.unit},
        {QStringLiteral("interval"), m_settings.intervalMs},
        {QStringLiteral("writable"), m_settings.writable},
        {QStringLiteral("clients"), clients},
        {QStringLiteral("problem"), m_problem},
    };
}

} // namespace quorvex
