#pragma once
// The line's image: the latest of every value the line publishes (see
// PublishedValues.h), with the time it was taken and how good it is now.
// The line keeps the readings and the health; the coil record's values and
// the tracking's are set by those who hold them. Every face reads values
// here and nowhere else, so the faces tell the same thing at the same time.
#include "line/InstrumentHealth.h"
#include "line/PublishedValues.h"

#include <QObject>
#include <QVariant>
#include <array>
#include <functional>
#include <optional>

namespace quorvex {

// How good a value is, as a face tells it.
enum class ValueQuality {
    WaitingForInitialData, // nothing read yet
    Good,
    Stale, // the last valid reading is older than the face's limit
    NoCommunication, // the role's instrument is silent, its port closed or gone
};

// The state word of a role's reading, one bit each.
enum ReadingStateBit : quint16 {
    ReadingValid = 1 << 0, // the last reading gave a value
    PortOpen = 1 << 1, // the role's port is open
    ReadingStale = 1 << 2, // the last valid reading is older than the limit, or there is none
};

class LineImage : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QVariant value; // null before the first
        qint64 timeMs = -1; // when the value was taken, ms since 1970; -1: none yet
        qint64 attemptMs = -1; // the last reading of it, valid or not (readings)
    };

    explicit LineImage(QObject *parent = nullptr);

    // Where the roles' health is read (the line's).
    void setHealthSource(std::function<QList<RoleHealth>()> source) { m_healthSource = std::move(source); }

    // A role's instrument gave value for op, or gave none.
    void readingTaken(RoleOperation op, double value);
    void readingFailed(RoleOperation op);
    // A value of the coil record or the tracking.
    void set(Value value, const QVariant &data, qint64 timeMs);
    // Sets every coil row from a record (see coilValue), stamped with its close.
    template<class Record> void setCoil(const Record &record, quint32 kept)
    {
        for (const PublishedValue &row : kPublished) {
            if (row.source == ValueSource::Coil && row.value != Value::Conteggio)
                set(row.value, coilValue(record, row.value), record.closedUs / 1000);
        }
        set(Value::Conteggio, QVariant::fromValue(kept), record.closedUs / 1000);
    }

    const Entry &entry(Value value) const { return m_entries[size_t(value)]; }

    // The health of a configured role, as the line sees it now.
    std::optional<RoleHealth> health(Role role) const;
    QList<RoleHealth> health() const;
    // A health row's value in a role's health (null for a row that is not one).
    static QVariant healthValue(const RoleHealth &health, Value value);

    // How good a reading, tracking or coil value is now; a reading is stale
    // once older than staleAfterMs; a reading or the tracking's height has
    // no communication while its role's instrument has none.
    ValueQuality quality(Value value, qint64 staleAfterMs) const;
    // The state word of a role's reading (ReadingStateBit).
    quint16 readingState(Role role, qint64 staleAfterMs) const;
    // Age of the role's last valid reading in ms; -1: none yet.
    qint64 readingAgeMs(Role role) const;

    static qint64 nowMs();

signals:
    // A reading, coil or tracking value was set (for a reading: taken, or
    // failed).
    void changed(quorvex::Value value);

private:
    std::array<Entry, kValueCount> m_entries{};
    // Per role: whether its last reading was valid, and when the last valid one came.
    std::array<bool, kRoleCount> m_lastValid{};
    std::array<qint64, kRoleCount> m_lastValidMs{-1, -1, -1, -1};
    std::function<QList<RoleHealth>()> m_healthSource;
};

} // namespace quorvex
