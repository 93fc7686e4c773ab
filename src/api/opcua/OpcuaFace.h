#pragma once
// The line as an OPC UA server for the plant's MES and SCADA ([OPCUA] in the
// settings; off without a Porta). It answers from the values the line holds
// (every reading any client takes lands there), so a read never waits for an
// instrument; each reading's status says how the instrument is doing. While
// a session monitors a role's variables, or reads one, the face reads that
// role itself, at most every 200 ms, through the line's turn and joined
// with identical reads of other clients; with no session it makes no
// exchange.
//
// The stack (open62541, behind UaAdapter) runs on the server's event loop:
// a socket notifier on its epoll descriptor and a timer for its next due
// work call it; nothing waits. AzzeraLunghezza is answered when the zeroing
// has ended, through the face's own Global instance, which while listening
// also keeps the process and the line's ports.
#include "api/GlobalServices.h"
#include "api/opcua/FaceSettings.h"
#include "api/opcua/UaAdapter.h"
#include "history/CoilRecord.h"
#include "line/InstrumentHealth.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QVariantMap>
#include <array>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace quorvex {

class CoilStore;
class Global;
class Line;

class OpcuaFace : public QObject {
    Q_OBJECT
public:
    OpcuaFace(Line &line, CoilStore &coils, const GlobalServices *services, QObject *parent = nullptr);
    ~OpcuaFace() override;

    // Starts, stops or changes the server; unchanged settings only refresh
    // the address space for the roles now configured.
    void configure(const OpcuaFaceSettings &settings);
    // For Diagnostics: state ("off", "listening", "failed"), endpoint,
    // security, writable, user, certificate, thumbprint, sessions,
    // connections, monitoredItems, problem.
    QVariantMap status() const;

private:
    // What the face knows of one reading operation.
    struct Reading {
        double value = 0;
        qint64 wallMs = 0; // when it was taken, ms since 1970
        qint64 atMs = -1; // the same on the face's clock; -1: none yet
        qint64 readMs = -1; // the last read by anyone, valid or not
        qint64 wantedMs = -1; // the last time a client sampled or read it
        int intervalMs = 200; // the read interval asked, never under 200 ms
        bool reading = false; // the face's own read is under way
        int monitored = 0; // monitored items that follow it
    };

    void listen();
    void stop();
    bool preparePki(QString *problem);
    QByteArray password() const;
    void runStack();
    void schedule(int ms);
    opcua::ServedLine servedLine() const;

    opcua::NodeValue read(int node);
    opcua::NodeValue readingValue(Role role, RoleOperation op);
    opcua::NodeValue healthValue(Role role, opcua::HealthField field) const;
    opcua::NodeValue coilValue(opcua::CoilField field) const;
    // A client sampled or read a variable that follows op.
    void want(Role role, std::optional<RoleOperation> op);
    QCoro::Task<> readOwn(RoleOperation op);
    void zero(quint64 call, bool asUser);
    QCoro::Task<> runZero(quint64 call);
    void untrusted(const QByteArray &certificate);
    void takeReading(Role role, RoleOperation op, double value);
    void refreshHealth();
    void refreshCoils();
    QStringList connections() const;
    qint64 nowMs() const { return m_clock.elapsed(); }

    Line &m_line;
    CoilStore &m_coils;
    const GlobalServices *m_services;
    OpcuaFaceSettings m_settings;
    std::unique_ptr<opcua::UaAdapter> m_adapter;
    QList<opcua::NodeSpec> m_nodes;
    std::shared_ptr<Global> m_instance;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_tick; // the stack's next due work
    QTimer m_retry; // a listener that failed tries again
    QElapsedTimer m_clock;
    QString m_problem;
    QString m_pkiFolder;
    QString m_certificateFile;
    QString m_thumbprint;
    QSet<QString> m_rejectedTold; // rejected certificates already warned about

    std::array<Reading, kRoleOperationCount> m_readings{};
    std::array<std::optional<RoleHealth>, kRoleCount> m_health{};
    std::optional<CoilRecord> m_lastCoil;
    qint64 m_coilCount = 0;
};

} // namespace quorvex
