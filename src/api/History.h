#pragma once
// The interface com.velkaro.Quorvex.History on the object of Global: the
// coil records (Coils, Profile), the CoilClosed signal, and ShowHistory.
// Calling it creates no Global instance.
#include "api/BusNames.h"
#include "api/Dispatch.h"

#include <QDBusConnection>
#include <QObject>
#include <functional>

namespace quorvex {

class CoilStore;

class History : public QObject {
    Q_OBJECT
public:
    History(CoilStore &store, QDBusConnection connection, std::function<void()> showHistory, QObject *parent = nullptr);

    // Serves the interface's methods through dispatch.
    void serveOn(Dispatch &dispatch);

private:
    QDBusMessage coilsReply(const QDBusMessage &message) const;
    QDBusMessage profileReply(const QDBusMessage &message) const;
    void sendCoilClosed(qint64 id);

    CoilStore &m_store;
    QDBusConnection m_connection;
    std::function<void()> m_showHistory;
};

} // namespace quorvex
