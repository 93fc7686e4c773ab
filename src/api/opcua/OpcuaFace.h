#pragma once
// The line as an OPC UA server for the plant's MES and SCADA ([OPCUA] in the
// settings; off without a Porta). Its variables are the rows of the table of
// published values marked for OPC UA, answered from the line's image (every
// reading any client takes lands there), so a read never waits for an
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

#include <QCoro/QCoroTask>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QVariantMap>
#include <array>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace quorvex {

class Global;
class Line;

class OpcuaFace : public QObject {
    Q_OBJECT
public:
    OpcuaFace(Line &line, const GlobalServices *services, QObject *parent = nullptr);
    ~OpcuaFace() override;

    // Starts, stops or changes the server; unchanged settings only refresh
    // the address space for the roles now configured.
    void configure(const OpcuaFaceSettings &settings);
    // For Diagnostics: state ("off", "listening", "failed"), endpoint,
    // security, writable, user, certificate, thumbprint, sessions,
    // connections, monitoredItems, problem.
    QVariantMap status() const;

private:
    // How the face reads one reading operation itself (times in ms since 1970).
    struct Poll {
        qint64 wantedMs = -1; // the last time a client sampled or read it
        int intervalMs = 200; // the read interval asked, never under 200 ms
        qint64 ownStartedMs = -1; // the face's last own read: its start
        qint64 ownEndedMs = -1; // and the image's attempt time after it
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
    qint64 lastReadMs(RoleOperation op) const;
    // A client sampled or read a variable that follows op.
    void want(Role role, std::optional<RoleOperation> op);
    QCoro::Task<> readOwn(RoleOperation op);
    void zero(quint64 call, bool asUser);
    QCoro::Task<> runZero(quint64 call);
    void untrusted(const QByteArray &certificate);
    QStringList connections() const;

    Line &m_line;
    const GlobalServices *m_services;
    OpcuaFaceSettings m_settings;
    std::unique_ptr<opcua::UaAdapter> m_adapter;
    QList<opcua::NodeSpec> m_nodes;
    std::shared_ptr<Global> m_instance;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_tick; // the stack's next due work
    QTimer m_retry; // a listener that failed tries again
    QString m_problem;
    QString m_pkiFolder;
    QString m_certificateFile;
    QString m_thumbprint;
    QSet<QString> m_rejectedTold; // rejected certificates already warned about

    std::array<Poll, kRoleOperationCount> m_polls{};
};

} // namespace quorvex
