#pragma once
// The coil records of the line in a local SQLite file. One transaction per
// record, WAL journal, the schema version in the file (PRAGMA user_version)
// with forward migrations. A store that cannot be opened or written never
// fails its caller: the failure is logged (once, until the store works
// again), the record is held in memory and tried again every few seconds
// and with the next record, from the start (opening the file included),
// the held ones first; a held record that is given up is a warning.
#include "history/CoilRecord.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

namespace quorvex {

class CoilStore : public QObject {
    Q_OBJECT
public:
    // $XDG_DATA_HOME/Velkaro s.r.l./Quorvex/coils.sqlite.
    static QString defaultPath();

    explicit CoilStore(QString path = defaultPath(), QObject *parent = nullptr);
    ~CoilStore() override;

    QString path() const { return m_path; }
    // Opens the file (creating folder and schema as needed); false, with a
    // warning, when it cannot. Every other call opens it when needed.
    bool open();
    bool isOpen() const { return m_open; }

    // Writes the records held from earlier failures, then this one, each
    // whole or not at all; this one's id, or nullopt when it is held.
    std::optional<qint64> append(const CoilRecord &record);

    // Records closed in [sinceUs, untilUs) (0: no bound), newest first, at
    // most limit, without profiles. Empty when the store cannot be read.
    QList<CoilRecord> coils(qint64 sinceUs, qint64 untilUs, int limit);
    std::optional<CoilRecord> coil(qint64 id);
    // At most limit records after id, oldest first, with their profiles.
    QList<CoilRecord> coilsAfter(qint64 id, int limit);
    // Records kept; 0 when the store cannot be read.
    qint64 count();
    std::optional<QList<QPointF>> profile(qint64 id);
    // Why the last coils(), coil() or profile() gave nothing because the
    // store failed; empty when it was read (an unknown id included).
    QString readError() const { return m_readError; }

    // The plant feed's queue: records not yet published, oldest first, with
    // their profiles.
    QList<CoilRecord> unpublished(int limit);
    void markPublished(qint64 id);
    int unpublishedCount();

    // Deletes the records closed before beforeUs; the number deleted.
    int pruneBefore(qint64 beforeUs);

signals:
    // A record has been committed.
    void coilClosed(qint64 id);

private:
    bool ensureOpen();
    void close();
    void warn(const QString &what, const QString &reason);
    std::optional<qint64> write(const CoilRecord &record);
    // Writes the held records, oldest first, up to the first that fails.
    void writeHeld();
    void dropHeld(const CoilRecord &record, const QString &why);

    // Records not written yet, oldest first; at most kMaxHeld, the oldest
    // dropped first (with a warning) beyond that.
    static constexpr int kMaxHeld = 100;
    static constexpr std::chrono::seconds kRetryInterval{5};
    QList<CoilRecord> m_held;
    QTimer m_retry;
    bool m_failing = false; // warned already: later failures are debug lines
    qint64 m_lastId = 0;
    QString m_readError;

    QString m_path;
    QString m_connection;
    bool m_open = false;
};

} // namespace quorvex
