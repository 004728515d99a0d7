// Heatmap: the grid becomes an image of one pixel per cell, scaled into the plot area without
// smoothing, then the axes, the title and the legend are drawn around it. Axis labels sit at the
// centres of the cells they name.
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
    Bin& b = bins_[size_t(RowOf(vertex)) * size_t(columns_) + size_t(ColumnOf(sample))];
    ++b.count;
    if (!std::isfinite(weight)) {
        b.notFinite = true;
        return;
    }
    b.sum += weight;
    b.max = b.finite++ == 0 ? weight : std::max(b.max, double(weight));
}

double HeatmapGrid::Mean(int column, int row) const {
    const Bin& b = Cell(column, row);
    return b.finite ? b.sum / double(b.finite) : 0.0;
}

double HeatmapGrid::Max(int column, int row) const { return Cell(column, row).max; }

Box HeatmapArea(int width, int height) {
    const double left = 70, right = 120, top = 44, bottom = 56;
    return {left, top, std::max(1.0, width - left - right), std::max(1.0, height - top - bottom)};
}

namespace {
// One pixel per cell, the first row at the bottom, as the mesh pictures put vertex 0; a cell holding
// a non-finite weight shows that before its value.
cairo_surface_t* GridImage(const HeatmapGrid& g, Aggregate aggregate) {
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, g.Columns(), g.Rows());
    cairo_surface_flush(img);
    unsigned char* data = cairo_image_surface_get_data(img);
    int stride = cairo_image_surface_get_stride(img);
    for (int r = 0; r < g.Rows(); ++r) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(g.Rows() - 1 - r) * size_t(stride));
        for (int c = 0; c < g.Columns(); ++c) {
            Colour col = !g.HasData(c, r)    ? kNoData
                         : g.NotFinite(c, r) ? kNotFinite
                                             : WeightColour(g.Value(c, r, aggregate));
            auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
            row[c] = byte(col.r) << 16 | byte(col.g) << 8 | byte(col.b);
        }
    }
    cairo_surface_mark_dirty(img);
    return img;
}

void DrawGrid(Canvas& canvas, const HeatmapGrid& g, Aggregate aggregate, const Box& area) {
    cairo_t* cr = canvas.Context();
    cairo_surface_t* img = GridImage(g, aggregate);
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

// Samples across, in frames when the first sample's frame is known: a label at the centre of the
// column holding the sample that begins the frame.
void DrawSampleAxis(Canvas& canvas, const HeatmapGrid& g, const HeatmapLabels& labels, const Box& area) {
    double spf = labels.startFrame ? std::max(labels.samplesPerFrame, 1) : 1; // samples per label unit
    double units = double(g.Samples()) / spf;
    double step = std::max(NiceStep(units, int(std::max(2.0, area.w / 90))), 1.0 / spf);
    double cell = area.w / g.Columns();
    auto mark = [&](double u) {
        double x = area.x + (g.ColumnOf(int64_t(std::llround(u * spf))) + 0.5) * cell;
        canvas.Fill({x - 0.5, area.y + area.h + 1, 1, 5}, {0.3, 0.3, 0.3});
        canvas.Text(x, area.y + area.h + 19, Label(labels.startFrame ? *labels.startFrame + u : u), 11,
                    Align::Centre);
        return x;
    };
    double lastX = -1e9, u = 0;
    for (; u * spf < double(g.Samples()) - 1e-9; u += step)
        lastX = mark(u);
    // the last whole unit is labelled too, where it leaves room for its neighbour's label
    double last = std::floor((double(g.Samples()) - 1) / spf);
    if (last > u - step + 1e-9 && area.x + (g.ColumnOf(int64_t(last * spf)) + 0.5) * cell - lastX > 40)
        mark(last);
    std::string per =
        std::to_string(labels.samplesPerFrame) + " sample" + (labels.samplesPerFrame == 1 ? "" : "s");
    canvas.Text(area.x + area.w / 2, area.y + area.h + 42,
                labels.startFrame ? "frame (" + per + " per frame)" : "sample (" + per + " per frame)", 12,
                Align::Centre);
}

// Vertices up, vertex 0 at the bottom, each label at the centre of its vertex's row.
void DrawVertexAxis(Canvas& canvas, const HeatmapGrid& g, const Box& area) {
    double n = double(g.Vertices());
    double step = std::max(NiceStep(n, int(std::max(2.0, area.h / 60))), 1.0);
    double cell = area.h / g.Rows();
    for (double v = 0; v < n; v += step) {
        double y = area.y + area.h - (g.RowOf(int64_t(v)) + 0.5) * cell;
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
    DrawGrid(canvas, grid, labels.aggregate, area);
    DrawSampleAxis(canvas, grid, labels, area);
    DrawVertexAxis(canvas, grid, area);
    DrawWeightLegend(canvas, {area.x + area.w + 22, area.y, 90, area.h});
    return canvas.Png(png);
}

} // namespace pictures
