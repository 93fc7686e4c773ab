#pragma once
// The height-tracking settings of the [Altezza] group, as the last load read
// them; all lengths in the unit of the counter's scaled reading.

namespace quorvex {

struct HeightSettings {
    double IntervalloDiCampionamento = 0; // W: sampling interval and window width
    double DistanzaSensoreArrotolatore = 0; // Ds: sensor to coiler
    double DistanzaOperatoreArrotolatore = 0; // Do: observation point to coiler
    bool MisuraMedia = false; // height tracking on
};

// The settings as the schema's defaults give them.
HeightSettings defaultHeightSettings();

} // namespace quorvex
