#include "api/opcua/UaAdapter.h"

#include <open62541.h>

#include <QDir>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QSet>
#include <QSysInfo>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace quorvex::opcua {

// The stack's own messages, all at debug level: what the user must act on is
// told by the face, once.
Q_LOGGING_CATEGORY(lcStack, "quorvex.opcua.stack", QtWarningMsg)

namespace {

constexpr char kNonePolicy[] = "http://opcfoundation.org/UA/SecurityPolicy#None";
constexpr char kBasic256Sha256[] = "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256";

// A view of bytes as the stack's string; the bytes must outlive it.
UA_String view(const QByteArray &bytes)
{
    UA_String s;
    s.length = size_t(bytes.size());
    s.data = reinterpret_cast<UA_Byte *>(const_cast<char *>(bytes.constData()));
    return s;
}

QString text(const UA_String &s)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(s.data), qsizetype(s.length));
}

QByteArray bytes(const UA_ByteString &s)
{
    return QByteArray(reinterpret_cast<const char *>(s.data), qsizetype(s.length));
}

void logToQt(void *, UA_LogLevel, UA_LogCategory, const char *message, va_list args)
{
    if (!lcStack().isDebugEnabled())
        return;
    char line[512];
    std::vsnprintf(line, sizeof line, message, args);
    qCDebug(lcStack).noquote() << line;
}

// The base64 body of a PEM block as DER.
QByteArray pemToDer(const QByteArray &pem)
{
    const int begin = pem.indexOf("-----BEGIN");
    const int bodyStart = pem.indexOf('\n', begin);
    const int end = pem.indexOf("-----END", bodyStart);
    if (begin < 0 || bodyStart < 0 || end < 0)
        return {};
    return QByteArray::fromBase64(pem.mid(bodyStart + 1, end - bodyStart - 1));
}

// The epoll descriptors the process has open.
QSet<int> epollDescriptors()
{
    QSet<int> found;
    DIR *fds = opendir("/proc/self/fd");
    if (!fds)
        return found;
    while (const dirent *entry = readdir(fds)) {
        char target[64] = {};
        const QByteArray link = QByteArray("/proc/self/fd/") + entry->d_name;
        if (readlink(link.constData(), target, sizeof target - 1) > 0
            && std::strcmp(target, "anon_inode:[eventpoll]") == 0)
            found.insert(std::atoi(entry->d_name));
    }
    closedir(fds);
    return found;
}

UA_StatusCode statusOf(ValueQuality quality)
{
    switch (quality) {
    case ValueQuality::Good: return UA_STATUSCODE_GOOD;
    case ValueQuality::Stale: return UA_STATUSCODE_UNCERTAINLASTUSABLEVALUE;
    case ValueQuality::NoCommunication: return UA_STATUSCODE_BADNOCOMMUNICATION;
    case ValueQuality::WaitingForInitialData: return UA_STATUSCODE_BADWAITINGFORINITIALDATA;
    }
    return UA_STATUSCODE_BADINTERNALERROR;
}

const UA_DataType *dataType(PublishedType type)
{
    switch (type) {
    case PublishedType::Double: return &UA_TYPES[UA_TYPES_DOUBLE];
    case PublishedType::String: return &UA_TYPES[UA_TYPES_STRING];
    case PublishedType::UInt16: return &UA_TYPES[UA_TYPES_UINT16];
    case PublishedType::UInt32: return &UA_TYPES[UA_TYPES_UINT32];
    case PublishedType::UInt64: return &UA_TYPES[UA_TYPES_UINT64];
    case PublishedType::Int32: return &UA_TYPES[UA_TYPES_INT32];
    case PublishedType::Int64: return &UA_TYPES[UA_TYPES_INT64];
    case PublishedType::DateTime: return &UA_TYPES[UA_TYPES_DATETIME];
    case PublishedType::Profile: break; // never served
    }
    return nullptr;
}

UA_DateTime dateTime(qint64 ms)
{
    return UA_DateTime(ms) * UA_DATETIME_MSEC + UA_DATETIME_UNIX_EPOCH;
}

template<class T> void setScalar(UA_Variant *out, T value, PublishedType type)
{
    UA_Variant_setScalarCopy(out, &value, dataType(type));
}

// The value as the node's type, copied into the variant.
void setValue(UA_Variant *out, PublishedType type, const QVariant &value)
{
    switch (type) {
    case PublishedType::Double: return setScalar<UA_Double>(out, value.toDouble(), type);
    case PublishedType::String: {
        const QByteArray utf8 = value.toString().toUtf8();
        return setScalar<UA_String>(out, view(utf8), type);
    }
    case PublishedType::UInt16: return setScalar<UA_UInt16>(out, UA_UInt16(value.toUInt()), type);
    case PublishedType::UInt32: return setScalar<UA_UInt32>(out, value.toUInt(), type);
    case PublishedType::UInt64: return setScalar<UA_UInt64>(out, value.toULongLong(), type);
    case PublishedType::Int32: return setScalar<UA_Int32>(out, value.toInt(), type);
    case PublishedType::Int64: return setScalar<UA_Int64>(out, value.toLongLong(), type);
    case PublishedType::DateTime:
        // Microseconds since 1970, in ticks of 100 ns.
        return setScalar<UA_DateTime>(out, UA_DateTime(value.toLongLong()) * UA_DATETIME_USEC + UA_DATETIME_UNIX_EPOCH,
                                      type);
    case PublishedType::Profile: return;
    }
}

} // namespace

struct UaAdapter::Private {
    Hooks hooks;
    UA_Logger logger{logToQt, nullptr, nullptr};
    UA_Server *server = nullptr;
    UA_UInt16 ns = 0;
    int epollFd = -1;
    QList<NodeSpec> nodes;
    QStringList objects; // the objects under Linea, for setNodes to replace
    QByteArray user;
    QByteArray password;
    // The folder verification the channel's check wraps.
    UA_CertificateVerification trusted{};
    // The access control's own session hooks, which ours wrap.
    decltype(UA_AccessControl::activateSession) activateSession = nullptr;
    decltype(UA_AccessControl::closeSession) closeSession = nullptr;
    int userMarker = 0; // its address is the session context of the user's sessions
    bool lastCallerIsUser = false; // the session whose call was checked last
    std::deque<bool> queuedCallers; // per zeroing queued by the stack, in order
    std::map<quint64, void *> calls; // the calls the face runs, by number
    quint64 nextCall = 0;
    struct Session {
        UA_NodeId id;
        bool user;
        bool secure;
    };
    std::vector<Session> sessions;
    int monitored = 0;
    bool building = false; // setNodes is adding nodes

    static Private *of(UA_Server *server) { return static_cast<Private *>(UA_Server_getConfig(server)->context); }

    UA_NodeId nodeId(const QString &name) const
    {
        const QByteArray utf8 = name.toUtf8();
        return UA_NODEID_STRING_ALLOC(ns, utf8.constData());
    }
    void addObject(const QString &name, const QString &displayName, const UA_NodeId &parent,
                   const UA_NodeId &reference);
    void addVariable(int index);
    void addZeroMethod();
    void clearNodes();
    void takeCalls();
};

namespace {

UA_StatusCode readValue(UA_Server *server, const UA_NodeId *, void *, const UA_NodeId *, void *nodeContext,
                        UA_Boolean includeSourceTimeStamp, const UA_NumericRange *range, UA_DataValue *out)
{
    UaAdapter::Private *d = UaAdapter::Private::of(server);
    const int index = int(reinterpret_cast<quintptr>(nodeContext)) - 1;
    if (index < 0 || index >= d->nodes.size()) {
        out->hasStatus = true;
        out->status = UA_STATUSCODE_BADNODEIDUNKNOWN;
        return UA_STATUSCODE_GOOD;
    }
    if (range) { // every value is a scalar
        out->hasStatus = true;
        out->status = UA_STATUSCODE_BADINDEXRANGEINVALID;
        return UA_STATUSCODE_GOOD;
    }
    // While the node is made the stack checks its value against its type:
    // a zero of the type, before the face has a value.
    const NodeValue v = d->building ? NodeValue{QVariant(0), ValueQuality::Good, 0} : d->hooks.read(index);
    if (!v.value.isNull()) {
        setValue(&out->value, d->nodes[index].row->type, v.value);
        out->hasValue = true;
    }
    out->hasStatus = v.quality != ValueQuality::Good;
    out->status = statusOf(v.quality);
    if (includeSourceTimeStamp && v.sourceMs > 0) {
        out->hasSourceTimestamp = true;
        out->sourceTimestamp = dateTime(v.sourceMs);
    }
    return UA_STATUSCODE_GOOD;
}

void monitoredItem(UA_Server *server, const UA_NodeId *, void *, const UA_NodeId *, void *nodeContext,
                   UA_UInt32 attributeId, UA_Boolean removed)
{
    UaAdapter::Private *d = UaAdapter::Private::of(server);
    d->monitored += removed ? -1 : 1;
    const int index = int(reinterpret_cast<quintptr>(nodeContext)) - 1;
    if (attributeId == UA_ATTRIBUTEID_VALUE && index >= 0 && index < d->nodes.size())
        d->hooks.monitored(index, !removed);
}

UA_StatusCode activateSession(UA_Server *server, UA_AccessControl *ac, const UA_EndpointDescription *endpoint,
                              const UA_ByteString *certificate, const UA_NodeId *sessionId,
                              const UA_ExtensionObject *token, void **sessionContext)
{
    UaAdapter::Private *d = UaAdapter::Private::of(server);
    const UA_StatusCode status =
        d->activateSession(server, ac, endpoint, certificate, sessionId, token, sessionContext);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    // Only one user name is accepted: a session that logged in with one is the user's.
    const bool user = token->encoding >= UA_EXTENSIONOBJECT_DECODED
        && token->content.decoded.type == &UA_TYPES[UA_TYPES_USERNAMEIDENTITYTOKEN];
    *sessionContext = user ? &d->userMarker : nullptr;
    const bool secure = endpoint && endpoint->securityMode == UA_MESSAGESECURITYMODE_SIGNANDENCRYPT;
    for (auto &s : d->sessions) {
        if (UA_NodeId_equal(&s.id, sessionId)) {
            s.user = user;
            s.secure = secure;
            return UA_STATUSCODE_GOOD;
        }
    }
    UaAdapter::Private::Session s{UA_NODEID_NULL, user, secure};
    UA_NodeId_copy(sessionId, &s.id);
    d->sessions.push_back(s);
    return UA_STATUSCODE_GOOD;
}

void closeSession(UA_Server *server, UA_AccessControl *ac, const UA_NodeId *sessionId, void *sessionContext)
{
    UaAdapter::Private *d = UaAdapter::Private::of(server);
    for (auto it = d->sessions.begin(); it != d->sessions.end(); ++it) {
        if (UA_NodeId_equal(&it->id, sessionId)) {
            UA_NodeId_clear(&it->id);
            d->sessions.erase(it);
            break;
        }
    }
    d->closeSession(server, ac, sessionId, sessionContext);
}

// Every session may call the method; whether it may zero is the face's to
// say, so the check only notes whose call is about to be queued.
UA_Boolean executableOnObject(UA_Server *server, UA_AccessControl *, const UA_NodeId *, void *sessionContext,
                              const UA_NodeId *, void *, const UA_NodeId *, void *)
{
    UaAdapter::Private *d = UaAdapter::Private::of(server);
    d->lastCallerIsUser = sessionContext == &d->userMarker;
    return true;
}

// Called right after the check above, when the stack has queued the call.
void callQueued(UA_Server *server)
{
    UaAdapter::Private *d = UaAdapter::Private::of(server);
    d->queuedCallers.push_back(d->lastCallerIsUser);
}

UA_StatusCode verifyClient(const UA_CertificateVerification *cv, const UA_ByteString *certificate)
{
    auto *d = static_cast<UaAdapter::Private *>(cv->context);
    const UA_StatusCode status = d->trusted.verifyCertificate(&d->trusted, certificate);
    if (status == UA_STATUSCODE_BADCERTIFICATEUNTRUSTED || status == UA_STATUSCODE_BADCERTIFICATECHAININCOMPLETE)
        d->hooks.untrusted(bytes(*certificate));
    return status;
}

UA_StatusCode verifyClientUri(const UA_CertificateVerification *cv, const UA_ByteString *certificate,
                              const UA_String *uri)
{
    auto *d = static_cast<UaAdapter::Private *>(cv->context);
    return d->trusted.verifyApplicationURI(&d->trusted, certificate, uri);
}

void clearClientCheck(UA_CertificateVerification *cv)
{
    auto *d = static_cast<UaAdapter::Private *>(cv->context);
    if (d->trusted.clear)
        d->trusted.clear(&d->trusted);
    d->trusted = {};
}

} // namespace

void UaAdapter::Private::addObject(const QString &name, const QString &displayName, const UA_NodeId &parent,
                                   const UA_NodeId &reference)
{
    UA_ObjectAttributes attr = UA_ObjectAttributes_default;
    const QByteArray shown = displayName.toUtf8();
    const QByteArray browse = name.toUtf8();
    attr.displayName = UA_LOCALIZEDTEXT(const_cast<char *>(""), const_cast<char *>(shown.constData()));
    UA_NodeId id = nodeId(name);
    UA_Server_addObjectNode(server, id, parent, reference, UA_QUALIFIEDNAME(ns, const_cast<char *>(browse.constData())),
                            UA_NODEID_NUMERIC(0, UA_NS0ID_BASEOBJECTTYPE), attr, nullptr, nullptr);
    UA_NodeId_clear(&id);
}

void UaAdapter::Private::addVariable(int index)
{
    const NodeSpec &node = nodes[index];
    UA_VariableAttributes attr = UA_VariableAttributes_default;
    const QByteArray name = QByteArray(node.row->name);
    attr.displayName = UA_LOCALIZEDTEXT(const_cast<char *>(""), const_cast<char *>(name.constData()));
    attr.dataType = dataType(node.row->type)->typeId;
    attr.valueRank = UA_VALUERANK_SCALAR;
    attr.accessLevel = UA_ACCESSLEVELMASK_READ;
    attr.userAccessLevel = UA_ACCESSLEVELMASK_READ;
    UA_DataSource source{readValue, nullptr};
    UA_NodeId id = nodeId(node.nodeId());
    UA_NodeId parent = nodeId(node.object);
    UA_Server_addDataSourceVariableNode(server, id, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT),
                                        UA_QUALIFIEDNAME(ns, const_cast<char *>(name.constData())),
                                        UA_NODEID_NUMERIC(0, UA_NS0ID_BASEDATAVARIABLETYPE), attr, source,
                                        reinterpret_cast<void *>(quintptr(index + 1)), nullptr);
    UA_NodeId_clear(&id);
    UA_NodeId_clear(&parent);
}

void UaAdapter::Private::addZeroMethod()
{
    UA_MethodAttributes attr = UA_MethodAttributes_default;
    attr.displayName = UA_LOCALIZEDTEXT(const_cast<char *>(""), const_cast<char *>(kZeroMethod));
    attr.executable = true;
    attr.userExecutable = true;
    const QString name = QLatin1String(roleGroup(Role::Contametri)) + QLatin1Char('.') + QLatin1String(kZeroMethod);
    UA_NodeId id = nodeId(name);
    UA_NodeId parent = nodeId(QLatin1String(roleGroup(Role::Contametri)));
    // Never run: the call is queued (async) and taken by takeCalls.
    const UA_MethodCallback never = [](UA_Server *, const UA_NodeId *, void *, const UA_NodeId *, void *,
                                       const UA_NodeId *, void *, size_t, const UA_Variant *, size_t,
                                       UA_Variant *) -> UA_StatusCode { return UA_STATUSCODE_BADINTERNALERROR; };
    UA_Server_addMethodNode(server, id, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT),
                            UA_QUALIFIEDNAME(ns, const_cast<char *>(kZeroMethod)), attr, never, 0, nullptr, 0, nullptr,
                            nullptr, nullptr);
    UA_Server_setMethodNodeAsync(server, id, true);
    UA_NodeId_clear(&id);
    UA_NodeId_clear(&parent);
}

void UaAdapter::Private::clearNodes()
{
    for (const QString &object : std::as_const(objects)) {
        for (const NodeSpec &node : std::as_const(nodes)) {
            if (node.object == object) {
                UA_NodeId id = nodeId(node.nodeId());
                UA_Server_deleteNode(server, id, true);
                UA_NodeId_clear(&id);
            }
        }
        if (object == QLatin1String(roleGroup(Role::Contametri))) {
            UA_NodeId id = nodeId(object + QLatin1Char('.') + QLatin1String(kZeroMethod));
            UA_Server_deleteNode(server, id, true);
            UA_NodeId_clear(&id);
        }
        UA_NodeId id = nodeId(object);
        UA_Server_deleteNode(server, id, true);
        UA_NodeId_clear(&id);
    }
    objects.clear();
    nodes.clear();
}

void UaAdapter::Private::takeCalls()
{
    UA_AsyncOperationType type;
    const UA_AsyncOperationRequest *request = nullptr;
    void *context = nullptr;
    while (UA_Server_getAsyncOperationNonBlocking(server, &type, &request, &context, nullptr)) {
        bool asUser = false;
        if (!queuedCallers.empty()) {
            asUser = queuedCallers.front();
            queuedCallers.pop_front();
        }
        const quint64 call = ++nextCall;
        calls[call] = context;
        hooks.zero(call, asUser);
    }
}

UaAdapter::UaAdapter(Hooks hooks) : d(std::make_unique<Private>())
{
    d->hooks = std::move(hooks);
}

UaAdapter::~UaAdapter()
{
    stop();
}

bool UaAdapter::start(const ServerSetup &setup, const QList<NodeSpec> &nodes, QString *problem)
{
    stop();
    // The stack's event loop makes its epoll descriptor with the configuration.
    const QSet<int> before = epollDescriptors();
    UA_ServerConfig config;
    std::memset(&config, 0, sizeof config);
    config.logging = &d->logger;
    UA_StatusCode status = UA_ServerConfig_setBasics_withPort(&config, UA_UInt16(setup.port));
    // The listening address: an empty host listens on every interface.
    const QHostAddress address(setup.address);
    const QString host = address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6 ? QString()
        : address.protocol() == QAbstractSocket::IPv6Protocol ? QLatin1Char('[') + setup.address + QLatin1Char(']')
                                                              : setup.address;
    const QByteArray url = QStringLiteral("opc.tcp://%1:%2").arg(host).arg(setup.port).toUtf8();
    UA_Array_delete(config.serverUrls, config.serverUrlsSize, &UA_TYPES[UA_TYPES_STRING]);
    config.serverUrls = UA_String_new();
    *config.serverUrls = UA_STRING_ALLOC(url.constData());
    config.serverUrlsSize = 1;
    config.tcpReuseAddr = true;

    UA_ApplicationDescription_clear(&config.applicationDescription);
    const QByteArray uri = setup.applicationUri.toUtf8();
    const QByteArray name = (QStringLiteral("Quorvex ") + setup.lineName).toUtf8();
    config.applicationDescription.applicationUri = UA_STRING_ALLOC(uri.constData());
    config.applicationDescription.productUri = UA_STRING_ALLOC(kNamespaceUri);
    config.applicationDescription.applicationName = UA_LOCALIZEDTEXT_ALLOC("", name.constData());
    config.applicationDescription.applicationType = UA_APPLICATIONTYPE_SERVER;
    UA_BuildInfo_clear(&config.buildInfo);
    config.buildInfo.productUri = UA_STRING_ALLOC(kNamespaceUri);
    config.buildInfo.manufacturerName = UA_STRING_ALLOC("Velkaro s.r.l.");
    config.buildInfo.productName = UA_STRING_ALLOC("Quorvex");

    // Clients' certificates are checked against trusted/ at each channel.
    const QByteArray trustedFolder = QFile::encodeName(setup.trustedFolder);
    d->trusted = {};
    d->trusted.logging = &d->logger;
    status |= UA_CertificateVerification_CertFolders(&d->trusted, trustedFolder.constData(), "", "");
    if (config.secureChannelPKI.clear)
        config.secureChannelPKI.clear(&config.secureChannelPKI);
    config.secureChannelPKI = {};
    config.secureChannelPKI.context = d.get();
    config.secureChannelPKI.verifyCertificate = verifyClient;
    config.secureChannelPKI.verifyApplicationURI = verifyClientUri;
    config.secureChannelPKI.getExpirationDate = d->trusted.getExpirationDate;
    config.secureChannelPKI.getSubjectName = d->trusted.getSubjectName;
    config.secureChannelPKI.clear = clearClientCheck;
    config.secureChannelPKI.logging = &d->logger;

    // Both policies are there: None answers discovery, and Basic256Sha256
    // encrypts a user's password even on a None channel.
    const QByteArray certificate = setup.certificate;
    const QByteArray key = pemToDer(setup.privateKey);
    const UA_ByteString certificateView = view(certificate);
    const UA_ByteString keyView = view(key);
    status |= UA_ServerConfig_addSecurityPolicyNone(&config, &certificateView);
    status |= UA_ServerConfig_addSecurityPolicyBasic256Sha256(&config, &certificateView, &keyView);
    if (setup.secure) {
        status |= UA_ServerConfig_addEndpoint(&config, UA_STRING(const_cast<char *>(kBasic256Sha256)),
                                              UA_MESSAGESECURITYMODE_SIGNANDENCRYPT);
        config.securityPolicyNoneDiscoveryOnly = true;
    } else {
        status |= UA_ServerConfig_addEndpoint(&config, UA_STRING(const_cast<char *>(kNonePolicy)),
                                              UA_MESSAGESECURITYMODE_NONE);
    }

    d->user = setup.user.toUtf8();
    d->password = setup.password;
    UA_UsernamePasswordLogin login{view(d->user), view(d->password)};
    const UA_ByteString tokenPolicy = UA_STRING(const_cast<char *>(kBasic256Sha256));
    status |= UA_AccessControl_default(&config, true, &tokenPolicy, d->user.isEmpty() ? 0 : 1, &login);
    d->activateSession = config.accessControl.activateSession;
    d->closeSession = config.accessControl.closeSession;
    config.accessControl.activateSession = activateSession;
    config.accessControl.closeSession = closeSession;
    config.accessControl.getUserExecutableOnObject = executableOnObject;

    config.asyncOperationTimeout = 120000;
    config.maxAsyncOperationQueueSize = 16;
    config.asyncOperationNotifyCallback = callQueued;
    config.monitoredItemRegisterCallback = monitoredItem;
    config.samplingIntervalLimits.min = 50;
    config.publishingIntervalLimits.min = 50;
    config.context = d.get();

    if (status != UA_STATUSCODE_GOOD) {
        *problem = QStringLiteral("the OPC UA stack refused its configuration: %1")
                       .arg(QLatin1String(UA_StatusCode_name(status)));
        UA_ServerConfig_clean(&config);
        return false;
    }
    d->server = UA_Server_newWithConfig(&config);
    if (!d->server) {
        *problem = QStringLiteral("the OPC UA stack could not be made");
        return false;
    }
    d->ns = UA_Server_addNamespace(d->server, kNamespaceUri);
    const QByteArray lineName = setup.lineName.toUtf8();
    UA_ObjectAttributes attr = UA_ObjectAttributes_default;
    attr.displayName = UA_LOCALIZEDTEXT(const_cast<char *>(""), const_cast<char *>(lineName.constData()));
    UA_NodeId line = d->nodeId(QLatin1String(kLineObject));
    UA_Server_addObjectNode(d->server, line, UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER),
                            UA_NODEID_NUMERIC(0, UA_NS0ID_ORGANIZES),
                            UA_QUALIFIEDNAME(d->ns, const_cast<char *>(kLineObject)),
                            UA_NODEID_NUMERIC(0, UA_NS0ID_BASEOBJECTTYPE), attr, nullptr, nullptr);
    UA_NodeId_clear(&line);
    setNodes(nodes);

    status = UA_Server_run_startup(d->server);
    const QSet<int> made = epollDescriptors() - before;
    d->epollFd = made.size() == 1 ? *made.begin() : -1;
    if (status == UA_STATUSCODE_GOOD)
        iterate();
    // A socket it could not bind leaves the server without a listener; the
    // stack then stops by itself.
    if (status != UA_STATUSCODE_GOOD || UA_Server_getLifecycleState(d->server) != UA_LIFECYCLESTATE_STARTED) {
        *problem = status != UA_STATUSCODE_GOOD ? QLatin1String(UA_StatusCode_name(status))
                                                : QStringLiteral("cannot listen (address in use or not on this host)");
        stop();
        return false;
    }
    return true;
}

void UaAdapter::stop()
{
    if (!d->server)
        return;
    UA_Server_run_shutdown(d->server);
    for (auto &s : d->sessions)
        UA_NodeId_clear(&s.id);
    d->sessions.clear();
    UA_Server_delete(d->server);
    d->server = nullptr;
    d->epollFd = -1;
    d->nodes.clear();
    d->objects.clear();
    d->calls.clear();
    d->queuedCallers.clear();
    d->monitored = 0;
}

bool UaAdapter::running() const
{
    return d->server != nullptr;
}

void UaAdapter::setNodes(const QList<NodeSpec> &nodes)
{
    if (!d->server)
        return;
    d->clearNodes();
    d->nodes = nodes;
    UA_NodeId line = d->nodeId(QLatin1String(kLineObject));
    for (const NodeSpec &node : nodes) {
        if (d->objects.contains(node.object))
            continue;
        d->objects << node.object;
        d->addObject(node.object, node.object, line, UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT));
        if (node.object == QLatin1String(roleGroup(Role::Contametri)))
            d->addZeroMethod();
    }
    UA_NodeId_clear(&line);
    d->building = true;
    for (int i = 0; i < nodes.size(); ++i)
        d->addVariable(i);
    d->building = false;
}

int UaAdapter::iterate()
{
    if (!d->server)
        return -1;
    const int next = UA_Server_run_iterate(d->server, false);
    d->takeCalls();
    return next;
}

int UaAdapter::descriptor() const
{
    return d->epollFd;
}

void UaAdapter::finish(quint64 call, CallResult result)
{
    const auto it = d->calls.find(call);
    if (it == d->calls.end() || !d->server)
        return;
    UA_AsyncOperationResponse response;
    UA_CallMethodResult_init(&response.callMethodResult);
    response.callMethodResult.statusCode = result == CallResult::Good ? UA_STATUSCODE_GOOD
        : result == CallResult::AccessDenied                          ? UA_STATUSCODE_BADUSERACCESSDENIED
                                                                      : UA_STATUSCODE_BADCOMMUNICATIONERROR;
    UA_Server_setAsyncOperationResult(d->server, &response, it->second);
    d->calls.erase(it);
}

QList<SessionInfo> UaAdapter::sessions() const
{
    QList<SessionInfo> out;
    for (const auto &s : d->sessions) {
        SessionInfo info;
        info.user = s.user;
        info.security = s.secure ? QStringLiteral("SignAndEncrypt") : QStringLiteral("None");
        UA_Variant description;
        UA_Variant_init(&description);
        if (UA_Server_getSessionAttributeCopy(
                d->server, &s.id, UA_QUALIFIEDNAME(0, const_cast<char *>("clientDescription")), &description)
                == UA_STATUSCODE_GOOD
            && UA_Variant_hasScalarType(&description, &UA_TYPES[UA_TYPES_APPLICATIONDESCRIPTION])) {
            const auto *app = static_cast<const UA_ApplicationDescription *>(description.data);
            info.application = text(app->applicationName.text);
        }
        UA_Variant_clear(&description);
        out << info;
    }
    return out;
}

int UaAdapter::monitoredItems() const
{
    return d->monitored;
}

bool UaAdapter::makeCertificate(const QString &applicationUri, const QString &host, QByteArray *certificate,
                                QByteArray *privateKey, QString *problem)
{
    const QByteArray common = ("CN=Quorvex@" + host).toUtf8();
    const QByteArray dns = ("DNS:" + host).toUtf8();
    const QByteArray uri = ("URI:" + applicationUri).toUtf8();
    const QByteArray country = "C=IT";
    const QByteArray organization = "O=Velkaro s.r.l.";
    const UA_String subject[] = {view(country), view(organization), view(common)};
    const UA_String altNames[] = {view(dns), view(uri)};
    UA_UInt16 keyBits = 2048;
    UA_UInt16 days = 3650;
    UA_KeyValueMap params = UA_KEYVALUEMAP_NULL;
    UA_KeyValueMap_setScalar(&params, UA_QUALIFIEDNAME(0, const_cast<char *>("key-size-bits")), &keyBits,
                             &UA_TYPES[UA_TYPES_UINT16]);
    UA_KeyValueMap_setScalar(&params, UA_QUALIFIEDNAME(0, const_cast<char *>("expires-in-days")), &days,
                             &UA_TYPES[UA_TYPES_UINT16]);
    UA_ByteString key = UA_BYTESTRING_NULL;
    UA_ByteString cert = UA_BYTESTRING_NULL;
    UA_Logger logger{logToQt, nullptr, nullptr};
    const UA_StatusCode status =
        UA_CreateCertificate(&logger, subject, 3, altNames, 2, UA_CERTIFICATEFORMAT_PEM, &params, &key, &cert);
    UA_KeyValueMap_clear(&params);
    if (status == UA_STATUSCODE_GOOD) {
        *certificate = pemToDer(bytes(cert));
        *privateKey = bytes(key);
    } else {
        *problem = QLatin1String(UA_StatusCode_name(status));
    }
    UA_ByteString_clear(&key);
    UA_ByteString_clear(&cert);
    return status == UA_STATUSCODE_GOOD && !certificate->isEmpty();
}

} // namespace quorvex::opcua
