// The colour legend: the weight ramp as an upright bar labelled 0 to 1, with swatches for the
// colours that are not weights (no data, not finite).
#pragma once
#include "pictures/canvas.h"

namespace pictures {

struct LegendOptions {
    bool noData = true;    // show the swatch for cells no record reaches
    bool notFinite = true; // show the swatch for nan and inf
};

// Draws into `area`, whose width should be about 90 pixels; the bar takes its full height less room
// for the swatches.
void DrawWeightLegend(Canvas& canvas, const Box& area, const LegendOptions& options = {});

} // namespace pictures
