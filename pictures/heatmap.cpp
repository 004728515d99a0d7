// Heatmap: the grid becomes an image of one pixel per cell, scaled into the plot area without
// smoothing, then the axes, the title and the legend are drawn around it.
#include "pictures/heatmap.h"

#include <algorithm>
#include <cmath>

#include "pictures/legend.h"

namespace pictures {

HeatmapGrid::HeatmapGrid(int64_t samples, int64_t vertices, int columns, int rows)
    : samples_(std::max<int64_t>(samples, 0)), vertices_(std::max<int64_t>(vertices, 0)),
      columns_(int(std::clamp<int64_t>(samples_, 1, std::max(columns, 1)))),
      rows_(int(std::clamp<int64_t>(vertices_, 1, std::max(rows, 1)))),
      bins_(size_t(columns_) * size_t(rows_)) {}

void HeatmapGrid::Add(int64_t sample, int64_t vertex, float weight) {
    if (sample < 0 || sample >= samples_ || vertex < 0 || vertex >= vertices_) return;
    int c = int(sample * columns_ / samples_), r = int(vertex * rows_ / vertices_);
    Bin& b = bins_[size_t(r) * size_t(columns_) + size_t(c)];
    ++b.count;
    if (std::isfinite(weight))
        b.sum += weight;
    else
        b.notFinite = true;
}

double HeatmapGrid::Mean(int column, int row) const {
    const Bin& b = Cell(column, row);
    return b.count ? b.sum / double(b.count) : 0.0;
}

Box HeatmapArea(int width, int height) {
    const double left = 70, right = 120, top = 44, bottom = 56;
    return {left, top, std::max(1.0, width - left - right), std::max(1.0, height - top - bottom)};
}

namespace {
// One pixel per cell; a cell holding a non-finite weight shows that before its mean.
cairo_surface_t* GridImage(const HeatmapGrid& g) {
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, g.Columns(), g.Rows());
    cairo_surface_flush(img);
    unsigned char* data = cairo_image_surface_get_data(img);
    int stride = cairo_image_surface_get_stride(img);
    for (int r = 0; r < g.Rows(); ++r) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(r) * size_t(stride));
        for (int c = 0; c < g.Columns(); ++c) {
            Colour col = !g.HasData(c, r)    ? kNoData
                         : g.NotFinite(c, r) ? kNotFinite
                                             : WeightColour(g.Mean(c, r));
            auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
            row[c] = byte(col.r) << 16 | byte(col.g) << 8 | byte(col.b);
        }
    }
    cairo_surface_mark_dirty(img);
    return img;
}

void DrawGrid(Canvas& canvas, const HeatmapGrid& g, const Box& area) {
    cairo_t* cr = canvas.Context();
    cairo_surface_t* img = GridImage(g);
    cairo_save(cr);
    cairo_rectangle(cr, area.x, area.y, area.w, area.h);
    cairo_clip(cr);
    cairo_translate(cr, area.x, area.y);
    cairo_scale(cr, area.w / g.Columns(), area.h / g.Rows());
    cairo_set_source_surface(cr, img, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(img);
    canvas.Frame({area.x - 1, area.y - 1, area.w + 2, area.h + 2}, {0.3, 0.3, 0.3});
}

// Frames across: sample k sits at the left edge of its column span, at frame k / samplesPerFrame.
void DrawFrameAxis(Canvas& canvas, const HeatmapGrid& g, const HeatmapLabels& labels, const Box& area) {
    double spf = std::max(labels.samplesPerFrame, 1);
    double frames = double(g.Samples()) / spf;
    double step = std::max(NiceStep(frames, int(std::max(2.0, area.w / 90))), 1.0 / spf);
    for (double f = 0; f <= frames + 1e-9; f += step) {
        double x = area.x + area.w * (f / frames);
        if (x > area.x + area.w + 0.5) break;
        canvas.Fill({x - 0.5, area.y + area.h + 1, 1, 5}, {0.3, 0.3, 0.3});
        canvas.Text(x, area.y + area.h + 19, Label(f), 11, Align::Centre);
    }
    canvas.Text(area.x + area.w / 2, area.y + area.h + 42,
                "frame after the first sample (" + std::to_string(labels.samplesPerFrame) +
                    " samples per frame)",
                12, Align::Centre);
}

// Vertices down, vertex 0 at the top.
void DrawVertexAxis(Canvas& canvas, const HeatmapGrid& g, const Box& area) {
    double n = double(g.Vertices());
    double step = std::max(NiceStep(n, int(std::max(2.0, area.h / 60))), 1.0);
    for (double v = 0; v < n; v += step) {
        double y = area.y + area.h * (v / n);
        canvas.Fill({area.x - 6, y - 0.5, 5, 1}, {0.3, 0.3, 0.3});
        canvas.Text(area.x - 9, y + 4, Label(v), 11, Align::Right);
    }
    canvas.TextUp(area.x - 52, area.y + area.h / 2, "vertex", 12);
}
} // namespace

std::string HeatmapPng(const HeatmapGrid& grid, const HeatmapLabels& labels, int width, int height,
                       std::string& png) {
    Canvas canvas(width, height);
    if (!canvas.Ok())
        return "a picture of " + std::to_string(width) + " x " + std::to_string(height) + " cannot be made";
    Box area = HeatmapArea(width, height);
    canvas.Text(area.x, 26, labels.title, 14, Align::Left, {0.1, 0.1, 0.1}, true);
    DrawGrid(canvas, grid, area);
    DrawFrameAxis(canvas, grid, labels, area);
    DrawVertexAxis(canvas, grid, area);
    DrawWeightLegend(canvas, {area.x + area.w + 22, area.y, 90, area.h});
    return canvas.Png(png);
}

} // namespace pictures
