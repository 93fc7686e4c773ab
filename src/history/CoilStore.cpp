#include "history/CoilStore.h"

#include "common/AppFolders.h"
#include "common/Logging.h"
#include "history/CoilSchema.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace quorvex {

namespace {

constexpr int kDefaultLimit = 100;

const QString kColumns = QStringLiteral("id, closed_us, length, average_height, samples, weight, weight_read_us");

// A row of kColumns (and the profile after them when withProfile).
CoilRecord recordFrom(const QSqlQuery &q, bool withProfile)
{
    CoilRecord r;
    r.id = q.value(0).toLongLong();
    r.closedUs = q.value(1).toLongLong();
    r.length = q.value(2).toDouble();
    r.averageHeight = q.value(3).toDouble();
    r.samples = q.value(4).toUInt();
    if (!q.value(5).isNull()) {
        r.weight = q.value(5).toDouble();
        r.weightReadUs = q.value(6).toLongLong();
    }
    if (withProfile)
        r.profile = unpackProfile(q.value(7).toByteArray());
    return r;
}

} // namespace

QString CoilStore::defaultPath()
{
    return appFolder(QStandardPaths::GenericDataLocation) + QStringLiteral("/coils.sqlite");
}

CoilStore::CoilStore(QString path, QObject *parent)
        : QObject(parent), m_path(std::move(path)), m_connection(QStringLiteral("coils-%1").arg(quintptr(this), 0, 16))
{
    m_retry.setInterval(kRetryInterval);
    connect(&m_retry, &QTimer::timeout, this, &CoilStore::writeHeld);
}

CoilStore::~CoilStore()
{
    // An orderly exit gives the held records one last try.
    writeHeld();
    for (const CoilRecord &record : std::as_const(m_held))
        dropHeld(record, QStringLiteral("the server ends and the store still fails"));
    close();
}

void CoilStore::warn(const QString &what, const QString &reason)
{
    const QString text = QStringLiteral("coil store %1: %2: %3").arg(m_path, what, reason);
    m_readError = text;
    // One warning for a failing period, however the later tries fail.
    if (m_failing) {
        qCDebug(lcHistory).noquote() << text;
        return;
    }
    m_failing = true;
    qCWarning(lcHistory).noquote() << text;
}

void CoilStore::close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    m_open = false;
}

bool CoilStore::open()
{
    close();
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        warn(QStringLiteral("cannot open"), QStringLiteral("cannot create the folder %1").arg(folder));
        return false;
    }
    QString reason;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(m_path);
        // Only this process writes; a reader elsewhere never holds us up long.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
        if (!db.open()) {
            reason = db.lastError().text();
        } else {
            QSqlQuery q(db);
            // WAL: readers never block the writer; FULL: a committed record
            // survives a power cut.
            if (!q.exec(QStringLiteral("PRAGMA journal_mode = WAL")) || !q.next())
                reason = q.lastError().text();
            else if (!q.exec(QStringLiteral("PRAGMA synchronous = FULL")))
                reason = q.lastError().text();
            else
                reason = migrateCoilSchema(db);
        }
    }
    // Closed, when it failed, only once its handles above are gone.
    if (!reason.isEmpty()) {
        warn(QStringLiteral("cannot open"), reason);
        close();
        return false;
    }
    m_open = true;
    return true;
}

bool CoilStore::ensureOpen()
{
    return m_open || open();
}

std::optional<qint64> CoilStore::append(const CoilRecord &record)
{
    m_held.append(record);
    writeHeld();
    if (m_held.size() > kMaxHeld)
        dropHeld(m_held.takeFirst(), QStringLiteral("more than %1 coils wait to be recorded").arg(kMaxHeld));
    if (!m_held.isEmpty())
        return std::nullopt;
    return m_lastId;
}

void CoilStore::writeHeld()
{
    while (!m_held.isEmpty()) {
        if (!write(m_held.first()))
            break;
        m_held.removeFirst();
    }
    if (m_held.isEmpty())
        m_retry.stop();
    else if (!m_retry.isActive())
        m_retry.start();
}

void CoilStore::dropHeld(const CoilRecord &record, const QString &why)
{
    qCWarning(lcHistory).noquote()
        << QStringLiteral("coil store %1: the coil closed at %2 (length %3) is lost: %4")
               .arg(m_path, QDateTime::fromMSecsSinceEpoch(record.closedUs / 1000).toString(Qt::ISODateWithMs))
               .arg(record.length)
               .arg(why);
}

std::optional<qint64> CoilStore::write(const CoilRecord &record)
{
    if (!ensureOpen())
        return std::nullopt;
    std::optional<qint64> id;
    QString reason;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO coils (closed_us, length, average_height, samples, weight,"
                                 " weight_read_us, profile) VALUES (?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(record.closedUs);
        q.addBindValue(record.length);
        q.addBindValue(record.averageHeight);
        q.addBindValue(record.samples);
        q.addBindValue(record.weight ? QVariant(*record.weight) : QVariant(QMetaType(QMetaType::Double)));
        q.addBindValue(record.weight ? QVariant(record.weightReadUs) : QVariant(QMetaType(QMetaType::LongLong)));
        q.addBindValue(packProfile(record.profile));
        // One statement in its own transaction: the record is there whole or
        // not at all.
        if (!db.transaction() || !q.exec() || !db.commit()) {
            reason = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
            db.rollback();
        } else {
            id = q.lastInsertId().toLongLong();
        }
    }
    if (!id) {
        warn(QStringLiteral("coil not recorded"), reason);
        // Opened afresh for the next try, now that the query is gone: the
        // cause may have gone too.
        close();
        return std::nullopt;
    }
    if (m_failing) {
        m_failing = false;
        qCInfo(lcHistory).noquote() << QStringLiteral("coil store %1: coils are recorded again").arg(m_path);
    }
    m_lastId = *id;
    emit coilClosed(*id);
    return id;
}

QList<CoilRecord> CoilStore::coils(qint64 sinceUs, qint64 untilUs, int limit)
{
    QList<CoilRecord> records;
    m_readError.clear();
    if (!ensureOpen())
        return records;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    QString sql = QStringLiteral("SELECT %1 FROM coils WHERE 1").arg(kColumns);
    if (sinceUs != 0)
        sql += QStringLiteral(" AND closed_us >= :since");
    if (untilUs != 0)
        sql += QStringLiteral(" AND closed_us < :until");
    sql += QStringLiteral(" ORDER BY closed_us DESC, id DESC LIMIT :limit");
    q.prepare(sql);
    if (sinceUs != 0)
        q.bindValue(QStringLiteral(":since"), sinceUs);
    if (untilUs != 0)
        q.bindValue(QStringLiteral(":until"), untilUs);
    q.bindValue(QStringLiteral(":limit"), limit > 0 ? limit : kDefaultLimit);
    if (!q.exec()) {
        warn(QStringLiteral("cannot list coils"), q.lastError().text());
        return records;
    }
    while (q.next())
        records.append(recordFrom(q, false));
    return records;
}

qint64 CoilStore::count()
{
    m_readError.clear();
    if (!ensureOpen())
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM coils")) || !q.next()) {
        warn(QStringLiteral("cannot count coils"), q.lastError().text());
        return 0;
    }
    return q.value(0).toLongLong();
}

std::optional<CoilRecord> CoilStore::coil(qint64 id)
{
    m_readError.clear();
    if (!ensureOpen())
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1, profile FROM coils WHERE id = ?").arg(kColumns));
    q.addBindValue(id);
    if (!q.exec()) {
        warn(QStringLiteral("cannot read coil %1").arg(id), q.lastError().text());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return recordFrom(q, true);
}

std::optional<QList<QPointF>> CoilStore::profile(qint64 id)
{
    const std::optional<CoilRecord> record = coil(id);
    if (!record)
        return std::nullopt;
    return record->profile;
}

QList<CoilRecord> CoilStore::coilsAfter(qint64 id, int limit)
{
    QList<CoilRecord> records;
    if (!ensureOpen())
        return records;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1, profile FROM coils WHERE id > ? ORDER BY id LIMIT ?").arg(kColumns));
    q.addBindValue(id);
    q.addBindValue(limit > 0 ? limit : kDefaultLimit);
    if (!q.exec()) {
        warn(QStringLiteral("cannot list coils after %1").arg(id), q.lastError().text());
        return records;
    }
    while (q.next())
        records.append(recordFrom(q, true));
    return records;
}

QList<CoilRecord> CoilStore::unpublished(int limit)
{
    QList<CoilRecord> records;
    if (!ensureOpen())
        return records;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1, profile FROM coils WHERE published = 0 ORDER BY id LIMIT ?").arg(kColumns));
    q.addBindValue(limit > 0 ? limit : kDefaultLimit);
    if (!q.exec()) {
        warn(QStringLiteral("cannot list unpublished coils"), q.lastError().text());
        return records;
    }
    while (q.next())
        records.append(recordFrom(q, true));
    return records;
}

void CoilStore::markPublished(qint64 id)
{
    if (!ensureOpen())
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE coils SET published = 1 WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec())
        warn(QStringLiteral("cannot mark coil %1 published").arg(id), q.lastError().text());
}

int CoilStore::unpublishedCount()
{
    if (!ensureOpen())
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("SELECT count(*) FROM coils WHERE published = 0")) || !q.next())
        return 0;
    return q.value(0).toInt();
}

int CoilStore::pruneBefore(qint64 beforeUs)
{
    if (!ensureOpen())
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM coils WHERE closed_us < ?"));
    q.addBindValue(beforeUs);
    if (!q.exec()) {
        warn(QStringLiteral("cannot delete old coils"), q.lastError().text());
        return 0;
    }
    return q.numRowsAffected();
}

} // namespace quorvex
