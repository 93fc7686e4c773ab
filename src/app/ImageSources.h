#pragma once
// What the line's image holds beyond the line's own readings and health:
// the last coil record (from the store, at start and at each close) and the
// height at the point of observation (from the sampler, at each tick).
#include <QObject>

namespace quorvex {

class CoilStore;
class HeightTracking;
class Line;

class ImageSources : public QObject {
    Q_OBJECT
public:
    ImageSources(Line &line, CoilStore &coils, HeightTracking &tracking, QObject *parent = nullptr);

private:
    void takeCoil(qint64 id);

    Line &m_line;
    CoilStore &m_coils;
};

} // namespace quorvex
