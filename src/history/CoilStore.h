#pragma once
// The coil records of the line in a local SQLite file. One transaction per
// record, WAL journal, the schema version in the file (PRAGMA user_version)
// with forward migrations. A store that cannot be opened or written never
// fails its caller: the failure is logged once per record, and the next
// record tries again from the start (opening the file included).
#include "history/CoilRecord.h"

#include <QObject>
#include <QString>

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

    // Writes one record whole, or nothing; its id, or nullopt on failure.
    std::optional<qint64> append(const CoilRecord &record);

    // Records closed in [sinceUs, untilUs) (0: no bound), newest first, at
    // most limit, without profiles. Empty when the store cannot be read.
    QList<CoilRecord> coils(qint64 sinceUs, qint64 untilUs, int limit);
    std::optional<CoilRecord> coil(qint64 id);
    std::optional<QList<QPointF>> profile(qint64 id);

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

    QString m_path;
    QString m_connection;
    bool m_open = false;
};

} // namespace quorvex
