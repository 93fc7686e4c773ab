#pragma once
// The primary host application as the edge node hears it: its STATE topic,
// and its STATE payloads, {"online":bool,"timestamp":ms} (one older than the
// last seen is stale), or plain ONLINE / OFFLINE as hosts of the older
// convention publish them.
#include <QByteArray>
#include <QString>
#include <optional>

namespace quorvex {

class PrimaryHost {
public:
    // A host id (empty: none), nothing heard from it yet.
    void reset(const QString &id);
    const QString &id() const { return m_id; }
    bool isSet() const { return !m_id.isEmpty(); }
    // spBv1.0/STATE/<id>
    QByteArray stateTopic() const;

    // Whether a STATE says the host is online; nullopt for a payload that is
    // not a STATE or is older than the last one.
    std::optional<bool> read(const QByteArray &payload);

private:
    QString m_id;
    qint64 m_timestamp = -1; // of the last STATE
};

} // namespace quorvex
