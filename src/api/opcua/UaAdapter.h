#pragma once
// The one file of ours that speaks open62541's C API. It makes a server with
// the line's address space, asks the face for each value when a client reads
// or samples it, tells the face which variables are monitored, hands the
// zeroing method to the face and answers the call when the face says it has
// ended. Everything runs on the caller's thread: the face calls iterate()
// when the stack's descriptor is readable or its next timer is due.
#include "api/opcua/AddressSpace.h"
#include "line/LineImage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

namespace quorvex::opcua {

struct NodeValue {
    QVariant value; // as the row's type holds it (a DateTime in µs since 1970); null: none
    ValueQuality quality = ValueQuality::WaitingForInitialData;
    qint64 sourceMs = 0; // ms since 1970; 0: none
};

struct ServerSetup {
    QString address; // "127.0.0.1", "0.0.0.0", "::1"
    int port = 0;
    bool secure = false; // Basic256Sha256 SignAndEncrypt only
    QByteArray certificate; // DER
    QByteArray privateKey; // PEM
    QString trustedFolder; // the clients' certificates trusted
    QString applicationUri;
    QString lineName;
    QString user; // empty: anonymous sessions only
    QByteArray password;
};

struct SessionInfo {
    QString application; // the client's application name
    QString security; // "None" or "SignAndEncrypt"
    bool user = false; // logged in as ServerSetup::user
};

enum class CallResult { Good, AccessDenied, Failed };

class UaAdapter {
public:
    struct Hooks {
        std::function<NodeValue(int node)> read; // node: an index into the served nodes
        std::function<void(int node, bool added)> monitored; // a monitored item on the node came or went
        // A client called the zeroing; asUser: its session is ServerSetup::user's.
        // The face answers through finish(call, ...).
        std::function<void(quint64 call, bool asUser)> zero;
        std::function<void(const QByteArray &certificate)> untrusted; // a client's certificate was refused
    };

    explicit UaAdapter(Hooks hooks);
    ~UaAdapter();
    UaAdapter(const UaAdapter &) = delete;
    UaAdapter &operator=(const UaAdapter &) = delete;

    // Listens with the nodes given; false with the reason when it cannot.
    bool start(const ServerSetup &setup, const QList<NodeSpec> &nodes, QString *problem);
    void stop();
    bool running() const;
    // Replaces the Linea object's contents by these nodes.
    void setNodes(const QList<NodeSpec> &nodes);

    // Runs what is due (network, timers, finished calls); gives the ms until
    // the stack's next timer.
    int iterate();
    // The stack's epoll descriptor, readable when a socket has work; -1 when unknown.
    int descriptor() const;
    void finish(quint64 call, CallResult result);

    QList<SessionInfo> sessions() const;
    int monitoredItems() const;

    // A self-signed application instance certificate (DER) and its key (PEM).
    static bool makeCertificate(const QString &applicationUri, const QString &host, QByteArray *certificate,
                                QByteArray *privateKey, QString *problem);

    struct Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace quorvex::opcua
