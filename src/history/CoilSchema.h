#pragma once
// The layout of coils.sqlite: the forward migrations that bring a file of
// any earlier schema version to the current one, and the profile's packing.
#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QSqlDatabase>
#include <QString>

namespace quorvex {

// The schema version this build writes.
int coilSchemaVersion();

// Brings the open database to coilSchemaVersion(), one transaction per
// step. Empty on success, else the reason (a file of a newer version is
// left untouched).
QString migrateCoilSchema(QSqlDatabase &db);

// A profile as stored: (length, height) pairs of little-endian IEEE 754
// doubles, in buffer order.
QByteArray packProfile(const QList<QPointF> &profile);
QList<QPointF> unpackProfile(const QByteArray &bytes);

} // namespace quorvex
