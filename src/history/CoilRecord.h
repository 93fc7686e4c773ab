#pragma once
// One finished coil as the store keeps it.
#include <QList>
#include <QPointF>
#include <QtGlobal>
#include <optional>

namespace quorvex {

struct CoilRecord {
    qint64 id = 0; // given by the store; ids are never reused
    qint64 closedUs = 0; // when the coil was closed, microseconds since 1970 UTC
    double length = 0; // the coil's counted length, scaled
    double averageHeight = 0;
    quint32 samples = 0; // samples the average was taken over
    std::optional<double> weight; // last weight read while the coil was wound
    qint64 weightReadUs = 0; // when that weight was read (0 without one)
    QList<QPointF> profile; // (length, height) in buffer order; empty when not asked for
};

} // namespace quorvex
