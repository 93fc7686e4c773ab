#include "tracking/Campioni.h"

#include <cmath>

namespace quorvex {

int Campioni::CercaCampione(double v, double W) const
{
    int lo = 0;
    int hi = highestIndex();
    if (hi < 0)
        return -1;
    for (;;) {
        const int mid = (lo + hi) / 2;
        const int r = (lo + hi) % 2;
        const double p = m_items[std::size_t(mid)].Posizione;
        if (p + W >= v && p <= v)
            return mid;
        if (p < v)
            lo = mid + r;
        else if (p > v)
            hi = mid;
        else
            // Neither bound moves (a negative W, or a NaN): the search would
            // make no progress, so the index examined is the answer.
            return mid;
        if (hi == lo)
            return mid;
    }
}

double Campioni::MediaAltezze(double L, double W) const
{
    const int k = CercaCampione(L, W);
    if (k < 0)
        return 0;
    double sum = 0;
    for (int i = 0; i <= k; ++i)
        sum += m_items[std::size_t(i)].Altezza;
    return sum / (k + 1);
}

void Campioni::ScartaCampioni(double L, double W)
{
    const int k = CercaCampione(L, W);
    if (k < 0)
        return;
    std::vector<Campione> kept;
    kept.reserve(m_items.size() - std::size_t(k));
    for (std::size_t i = std::size_t(k); i < m_items.size(); ++i)
        kept.push_back({m_items[i].Posizione - L, m_items[i].Altezza});
    m_items = std::move(kept);
}

std::vector<Campione> Campioni::campioniDellaBobina(double L, double W) const
{
    const int k = CercaCampione(L, W);
    return {m_items.begin(), m_items.begin() + (k + 1)};
}

double Campioni::closeCoil(double L, double W)
{
    const double media = MediaAltezze(L, W);
    ScartaCampioni(L, W);
    return media;
}

double Campioni::altezzaAlPuntoDiOsservazione(double L, const HeightSettings &s) const
{
    const double W = s.IntervalloDiCampionamento;
    const double Ds = s.DistanzaSensoreArrotolatore;
    // The length reading at which the material now at the observation point
    // was under the sensor, then the same material as a buffer position; two
    // steps in this order, so the rounding matches the recorded positions.
    double p = L - Ds + s.DistanzaOperatoreArrotolatore;
    p = p + Ds;
    const int k = CercaCampione(p, W);
    if (k < 0)
        return 0;
    const Campione &c = m_items[std::size_t(k)];
    double h = c.Altezza;
    // Far from the found sample: average with the neighbour on p's side.
    if (std::abs(c.Posizione - p) > W / 4) {
        if (c.Posizione > p && k > 0)
            h = (h + m_items[std::size_t(k - 1)].Altezza) / 2;
        else if (c.Posizione < p && k < highestIndex())
            h = (h + m_items[std::size_t(k + 1)].Altezza) / 2;
    }
    return h;
}

} // namespace quorvex
