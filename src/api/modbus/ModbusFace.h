#pragma once
// The line as a Modbus TCP server for the plant's PLC and SCADA ([ModbusTCP]
// in the settings; off without a Porta). It answers from the line's image
// (every reading any client takes lands in it) through the register map,
// so a request never waits for an instrument. While a client is connected it
// reads each configured role's values itself every Intervallo, unless
// someone else already read them within that time; those reads queue for
// the line's turn and join identical reads like any client's.
//
// Qt's server answers each request inside its read handler, which cannot
// wait for a zeroing. So the face reads the frames of each connection it
// accepted itself (its handler is connected before Qt's, which then finds
// nothing to read), answers them in order through Qt's request processing,
// and holds a connection's later requests while a coil 0 write runs: that
// write is answered when the zeroing has ended.
//
// While listening the face holds a client instance of Global of its own: it
// keeps the process and the line's ports, and runs the zeroing.
#include "api/GlobalServices.h"
#include "api/modbus/FaceSettings.h"
#include "api/modbus/RegisterMap.h"
#include "line/Device.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <map>
#include <memory>

class QTcpSocket;
class QModbusRequest;
class QModbusResponse;

namespace quorvex {

class Global;
class Line;
namespace modbus {
class FaceServer;
}

class ModbusFace : public QObject {
    Q_OBJECT
public:
    ModbusFace(Line &line, const GlobalServices *services, QObject *parent = nullptr);
    ~ModbusFace() override;

    // Starts, stops or moves the listener; unchanged settings change nothing.
    void configure(const ModbusFaceSettings &settings);
    // For Diagnostics: state ("off", "listening", "failed"), address, port,
    // unit, writable, interval, clients ("address:port"), problem.
    QVariantMap status() const;
    // The register image as it stands now.
    QList<quint16> registers();

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QString peer; // "address:port", as it connected
        QByteArray buffer;
        quint64 serial = 0; // tells a connection from a later one at the same address
        bool zeroing = false; // a coil 0 write is running: later requests wait
    };
    void listen();
    void stop();
    bool accept(QTcpSocket *socket);
    void dropConnection(QTcpSocket *socket);
    void readFrames(Connection &connection);
    void send(Connection &connection, quint16 transaction, quint8 unit, const QModbusResponse &response);
    QCoro::Task<> zero(QTcpSocket *socket, quint64 serial, quint16 transaction, quint8 unit, QModbusRequest request);
    void pollRoles();
    QCoro::Task<> readOwn(RoleOperation op);
    void refreshImage();
    double registerValue(const modbus::Register &r) const;
    bool configured(Role role) const;
    qint64 staleAfterMs() const;

    Line &m_line;
    const GlobalServices *m_services;
    ModbusFaceSettings m_settings;
    modbus::FaceServer *m_server = nullptr;
    std::shared_ptr<Global> m_instance;
    std::map<QTcpSocket *, Connection> m_connections;
    QString m_problem;
    QTimer m_retry; // a listener that failed tries again
    QTimer m_poll; // the face's own reads, while a client is connected
    // Per operation: whether the face's own read of it is under way, when
    // the last one started, and the image's time of it when it ended.
    std::array<bool, kRoleOperationCount> m_reading{};
    std::array<qint64, kRoleOperationCount> m_ownStartedMs{};
    std::array<qint64, kRoleOperationCount> m_ownEndedMs{};
};

} // namespace quorvex
