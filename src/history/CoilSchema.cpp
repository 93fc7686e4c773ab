#include "history/CoilSchema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>
#include <vector>

namespace quorvex {

namespace {

// Step i takes a file from version i to i + 1. Steps are only ever added.
const std::vector<std::vector<const char *>> kMigrations = {
    {
        // AUTOINCREMENT: an id is never given twice, even after pruning, so
        // a client or the plant feed never confuses two coils.
        "CREATE TABLE coils ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " closed_us INTEGER NOT NULL,"
        " length REAL NOT NULL,"
        " average_height REAL NOT NULL,"
        " samples INTEGER NOT NULL,"
        " weight REAL,"
        " weight_read_us INTEGER,"
        " profile BLOB NOT NULL,"
        " published INTEGER NOT NULL DEFAULT 0)",
        "CREATE INDEX coils_by_closed ON coils (closed_us)",
        "CREATE INDEX coils_unpublished ON coils (id) WHERE published = 0",
    },
};

QString runStep(QSqlDatabase &db, const std::vector<const char *> &statements, int toVersion)
{
    if (!db.transaction())
        return db.lastError().text();
    QSqlQuery q(db);
    for (const char *statement : statements) {
        if (!q.exec(QString::fromLatin1(statement))) {
            const QString reason = q.lastError().text();
            db.rollback();
            return reason;
        }
    }
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(toVersion))) {
        const QString reason = q.lastError().text();
        db.rollback();
        return reason;
    }
    return db.commit() ? QString() : db.lastError().text();
}

} // namespace

int coilSchemaVersion()
{
    return int(kMigrations.size());
}

QString migrateCoilSchema(QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return q.lastError().text();
    const int version = q.value(0).toInt();
    if (version > coilSchemaVersion())
        return QStringLiteral("written by a newer Quorvex (schema version %1, this one knows up to %2)")
            .arg(version)
            .arg(coilSchemaVersion());
    for (int v = version; v < coilSchemaVersion(); ++v) {
        const QString reason = runStep(db, kMigrations[std::size_t(v)], v + 1);
        if (!reason.isEmpty())
            return reason;
    }
    return {};
}

QByteArray packProfile(const QList<QPointF> &profile)
{
    QByteArray bytes(profile.size() * 2 * qsizetype(sizeof(double)), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QPointF &p : profile) {
        qToLittleEndian(p.x(), out);
        qToLittleEndian(p.y(), out + sizeof(double));
        out += 2 * sizeof(double);
    }
    return bytes;
}

QList<QPointF> unpackProfile(const QByteArray &bytes)
{
    constexpr qsizetype pair = 2 * sizeof(double);
    QList<QPointF> profile;
    profile.reserve(bytes.size() / pair);
    const char *in = bytes.constData();
    for (qsizetype i = 0; i + pair <= bytes.size(); i += pair)
        profile.append({qFromLittleEndian<double>(in + i), qFromLittleEndian<double>(in + i + sizeof(double))});
    return profile;
}

} // namespace quorvex
