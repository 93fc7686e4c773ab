#pragma once
// The sample buffer: height samples taken against the counted length, in
// increasing position, and the questions answered from it (average of a
// finished coil, height at the observation point). Plain data: no timer, no
// window, no bus.
#include "line/HeightSettings.h"

#include <vector>

namespace quorvex {

// One sample. Posizione is the counter reading at which the sampled material
// reaches the coiler (length at sampling plus the sensor distance); Altezza
// is the height read at that moment.
struct Campione {
    double Posizione = 0;
    double Altezza = 0;
};

class Campioni {
public:
    // Index of the sample whose window [Posizione, Posizione + W] holds v,
    // found by bisection; an index near v when no window holds it, -1 on an
    // empty buffer. The last sample is never the answer when there are two
    // or more: a v in or beyond the last window gives the one before it.
    int CercaCampione(double v, double W) const;

    // Average height of the samples 0..CercaCampione(L); 0 on an empty buffer.
    double MediaAltezze(double L, double W) const;

    // Keeps the samples from CercaCampione(L) onward, their positions
    // shifted by -L. An empty buffer stays empty.
    void ScartaCampioni(double L, double W);

    // The samples 0..CercaCampione(L): those a coil closed at L is averaged
    // over, as the buffer holds them before the rebase.
    std::vector<Campione> campioniDellaBobina(double L, double W) const;

    // Closes a coil at length L: the coil's average height, then the buffer
    // trimmed to the material not yet coiled and rebased on the new zero.
    double closeCoil(double L, double W);

    // Height of the material now at the observation point, the counter
    // standing at L; 0 on an empty buffer.
    double altezzaAlPuntoDiOsservazione(double L, const HeightSettings &s) const;

    void append(const Campione &c) { m_items.push_back(c); }
    void clear() { m_items.clear(); }
    int size() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }
    int highestIndex() const { return size() - 1; }
    const Campione &at(int i) const { return m_items.at(std::size_t(i)); }
    const std::vector<Campione> &items() const { return m_items; }

private:
    std::vector<Campione> m_items;
};

} // namespace quorvex
