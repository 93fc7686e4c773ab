#include "app/ImageSources.h"

#include "app/HeightTracking.h"
#include "history/CoilStore.h"
#include "line/Line.h"
#include "tracking/Sampler.h"

#include <limits>

namespace quorvex {

ImageSources::ImageSources(Line &line, CoilStore &coils, HeightTracking &tracking, QObject *parent)
        : QObject(parent), m_line(line), m_coils(coils)
{
    connect(&coils, &CoilStore::coilClosed, this, &ImageSources::takeCoil);
    const QList<CoilRecord> newest = coils.coils(0, 0, 1);
    if (!newest.isEmpty())
        takeCoil(newest.first().id);
    else // none kept yet is a count all the same
        m_line.image().set(Value::Conteggio, QVariant::fromValue(quint32(0)), LineImage::nowMs());
    const auto follow = [this](Sampler &sampler) {
        connect(&sampler, &Sampler::tickFinished, this, [this, &sampler] {
            m_line.image().set(Value::AltezzaAlPuntoDiOsservazione, sampler.altezzaAlPuntoDiOsservazione(),
                               LineImage::nowMs());
        });
    };
    if (Sampler *sampler = tracking.sampler())
        follow(*sampler);
    connect(&tracking, &HeightTracking::samplerLoaded, this, follow);
}

void ImageSources::takeCoil(qint64 id)
{
    std::optional<CoilRecord> record = m_coils.coil(id);
    if (!record)
        return;
    if (const std::optional<QList<QPointF>> profile = m_coils.profile(id))
        record->profile = *profile;
    const qint64 kept = m_coils.count();
    m_line.image().setCoil(*record, quint32(std::clamp<qint64>(kept, 0, std::numeric_limits<quint32>::max())));
}

} // namespace quorvex
