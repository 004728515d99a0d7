// The legend: a bar of the ramp from 1 at the top to 0 at the bottom, then the swatches.
#include "pictures/legend.h"

namespace pictures {

void DrawWeightLegend(Canvas& canvas, const Box& area, const LegendOptions& options) {
    const double font = 11, barWidth = 18, swatch = 12, gap = 8;
    int swatches = int(options.noData) + int(options.notFinite);
    double barTop = area.y + font, barHeight = area.h - font - swatches * (swatch + gap) - gap;
    if (barHeight < 20) barHeight = 20;
    canvas.Text(area.x, area.y + font * 0.3, "weight", font, Align::Left, {0.15, 0.15, 0.15}, true);
    // one line per pixel row: the bar shows the ramp at the canvas's own resolution
    for (int i = 0; i < int(barHeight); ++i) {
        double w = 1.0 - (i + 0.5) / barHeight;
        canvas.Fill({area.x, barTop + i, barWidth, 1.0}, WeightColour(w));
    }
    canvas.Frame({area.x, barTop, barWidth, barHeight}, {0.3, 0.3, 0.3});
    for (double w : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        double y = barTop + (1.0 - w) * barHeight;
        canvas.Fill({area.x + barWidth, y - 0.5, 4, 1}, {0.3, 0.3, 0.3});
        canvas.Text(area.x + barWidth + 7, y + font * 0.35, Label(w), font);
    }
    double y = barTop + barHeight + gap;
    auto swatchRow = [&](const Colour& c, const char* text) {
        canvas.Fill({area.x, y, barWidth, swatch}, c);
        canvas.Frame({area.x, y, barWidth, swatch}, {0.3, 0.3, 0.3});
        canvas.Text(area.x + barWidth + 7, y + swatch - 2, text, font);
        y += swatch + gap;
    };
    if (options.noData) swatchRow(kNoData, "no data");
    if (options.notFinite) swatchRow(kNotFinite, "not finite");
}

} // namespace pictures
