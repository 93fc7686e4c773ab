#pragma once
// The interface com.velkaro.Quorvex.History on the object of Global: the
// coil records (Coils, Profile), the CoilClosed signal, and ShowHistory.
// Calling it creates no Global instance.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <functional>

namespace quorvex {

class CoilStore;

inline constexpr char kHistoryInterface[] = "com.velkaro.Quorvex.History";

class History : public QObject {
    Q_OBJECT
public:
    History(CoilStore &store, QDBusConnection connection, std::function<void()> showHistory,
            QObject *parent = nullptr);

    // Whether the call is for this interface: named so, or a method of it
    // called without an interface name.
    static bool handles(const QDBusMessage &message);
    void handleCall(const QDBusMessage &message, const QDBusConnection &connection);

private:
    QDBusMessage coilsReply(const QDBusMessage &message) const;
    QDBusMessage profileReply(const QDBusMessage &message) const;
    void sendCoilClosed(qint64 id);

    CoilStore &m_store;
    QDBusConnection m_connection;
    std::function<void()> m_showHistory;
};

// The interface element of data/com.velkaro.Quorvex.History.xml.
QString historyXml();

} // namespace quorvex
