#pragma once
// The small files the Sparkplug B edge node keeps in the data folder, so a
// restarted server carries on where its predecessor stopped.
#include <QList>
#include <QString>
#include <optional>

namespace quorvex {

// The data folder's file of that name.
QString nodeFilePath(const QString &name);

// The id of the last coil record the node sent; nullopt when none is kept.
std::optional<qint64> readLastCoilSent();
bool writeLastCoilSent(qint64 id);

// Lines of JSON the node keeps until it can send them, oldest first.
QList<QByteArray> readBacklog();
bool writeBacklog(const QList<QByteArray> &lines);

// The bdSeq of the last CONNECT attempt, as the file holds it; nullopt
// when there is none or it does not hold one.
std::optional<int> readLastBdSeq();
// Keeps bdSeq as the last one used; false, with a warning, when it cannot.
bool writeLastBdSeq(int bdSeq);

} // namespace quorvex
