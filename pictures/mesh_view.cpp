// Mesh panels: triangles rasterised into an image of the panel's size (Cairo's own fills would
// shade a triangle with one colour only), then the selected vertices and the captions on top.
#include "pictures/mesh_view.h"

#include <algorithm>
#include <cmath>

#include "pictures/legend.h"

namespace pictures {
namespace {

struct Fit {
    double scale = 1, x0 = 0, y0 = 0, minX = 0, maxY = 0;
};

Fit FitInto(const MeshShape& s, const Box& area) {
    Fit f;
    if (s.Vertices() == 0) return f;
    double minX = s.xy[0], maxX = s.xy[0], minY = s.xy[1], maxY = s.xy[1];
    for (int v = 0; v < s.Vertices(); ++v) {
        double x = s.xy[size_t(2 * v)], y = s.xy[size_t(2 * v + 1)];
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y),
        maxY = std::max(maxY, y);
    }
    double w = std::max(maxX - minX, 1e-9), h = std::max(maxY - minY, 1e-9);
    f.scale = std::min((area.w - 1) / w, (area.h - 1) / h);
    f.x0 = area.x + (area.w - w * f.scale) / 2;
    f.y0 = area.y + (area.h - h * f.scale) / 2;
    f.minX = minX;
    f.maxY = maxY;
    return f;
}

Point Place(const Fit& f, const MeshShape& s, int v) {
    return {f.x0 + (s.xy[size_t(2 * v)] - f.minX) * f.scale,
            f.y0 + (f.maxY - s.xy[size_t(2 * v + 1)]) * f.scale};
}

uint32_t Pixel(const Colour& c) {
    auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

// Fills the pixels whose centres lie in triangle a, b, c (in image coordinates) with the weight
// interpolated between wa, wb, wc.
void FillTriangle(unsigned char* data, int stride, int width, int height, Point a, Point b, Point c,
                  double wa, double wb, double wc, bool known) {
    double area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    if (std::fabs(area) < 1e-12 || !std::isfinite(area)) return;
    int x0 = std::max(0, int(std::floor(std::min({a.x, b.x, c.x})))),
        x1 = std::min(width - 1, int(std::ceil(std::max({a.x, b.x, c.x})))),
        y0 = std::max(0, int(std::floor(std::min({a.y, b.y, c.y})))),
        y1 = std::min(height - 1, int(std::ceil(std::max({a.y, b.y, c.y}))));
    const double eps = -1e-9;
    for (int y = y0; y <= y1; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int x = x0; x <= x1; ++x) {
            double px = x + 0.5, py = y + 0.5;
            double l0 = ((b.x - px) * (c.y - py) - (c.x - px) * (b.y - py)) / area;
            double l1 = ((c.x - px) * (a.y - py) - (a.x - px) * (c.y - py)) / area;
            double l2 = 1 - l0 - l1;
            if (l0 < eps || l1 < eps || l2 < eps) continue;
            row[x] = Pixel(known ? WeightColour(l0 * wa + l1 * wb + l2 * wc) : kNoData);
        }
    }
}

} // namespace

Point MeshPoint(const MeshShape& shape, const Box& area, int v) {
    if (v < 0 || v >= shape.Vertices()) return {-1, -1};
    return Place(FitInto(shape, area), shape, v);
}

void DrawMeshPanel(Canvas& canvas, const Box& area, const MeshPanel& panel) {
    static const MeshShape kNone;
    const MeshShape& shape = panel.shape ? *panel.shape : kNone;
    int w = std::max(1, int(area.w)), h = std::max(1, int(area.h));
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_surface_flush(img);
    unsigned char* data = cairo_image_surface_get_data(img);
    int stride = cairo_image_surface_get_stride(img);
    for (int y = 0; y < h; ++y)
        std::fill_n(reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride)), w, Pixel({1, 1, 1}));
    Fit fit = FitInto(shape, {0, 0, double(w), double(h)});
    const int n = shape.Vertices();
    auto weight = [&](int v) {
        return size_t(v) < panel.weights.size() ? double(panel.weights[size_t(v)]) : 0.0;
    };
    for (size_t t = 0; t + 2 < shape.triangles.size(); t += 3) {
        int a = shape.triangles[t], b = shape.triangles[t + 1], c = shape.triangles[t + 2];
        if (a < 0 || b < 0 || c < 0 || a >= n || b >= n || c >= n) continue;
        bool known = size_t(std::max({a, b, c})) < panel.weights.size();
        FillTriangle(data, stride, w, h, Place(fit, shape, a), Place(fit, shape, b), Place(fit, shape, c),
                     weight(a), weight(b), weight(c), known);
    }
    cairo_surface_mark_dirty(img);
    cairo_t* cr = canvas.Context();
    cairo_set_source_surface(cr, img, area.x, area.y);
    cairo_paint(cr);
    cairo_surface_destroy(img);

    // a coarse mesh shows its edges, so a reader sees where its vertices are and what is blended
    double spacing = n > 0 ? std::sqrt(double(w) * h / n) : 0;
    if (spacing >= 12) {
        cairo_new_path(cr);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
        cairo_set_line_width(cr, 0.7);
        for (size_t t = 0; t + 2 < shape.triangles.size(); t += 3) {
            const int* v = &shape.triangles[t];
            if (std::min({v[0], v[1], v[2]}) < 0 || std::max({v[0], v[1], v[2]}) >= n) continue;
            for (int k = 0; k < 3; ++k) {
                Point p = Place(fit, shape, v[k]), q = Place(fit, shape, v[(k + 1) % 3]);
                cairo_move_to(cr, area.x + p.x, area.y + p.y);
                cairo_line_to(cr, area.x + q.x, area.y + q.y);
            }
        }
        cairo_stroke(cr);
    }

    // selected vertices: small dark rings no closer than `gap` pixels, so that a dense mesh shows
    // its selected region as an even pattern instead of a solid smudge
    const double gap = 6;
    int cw = int(w / gap) + 1, chh = int(h / gap) + 1;
    std::vector<Point> marks(size_t(cw) * size_t(chh), Point{-1e9, -1e9});
    auto near = [&](Point p) {
        int cx = int(p.x / gap), cy = int(p.y / gap);
        for (int y = std::max(0, cy - 1); y <= std::min(chh - 1, cy + 1); ++y)
            for (int x = std::max(0, cx - 1); x <= std::min(cw - 1, cx + 1); ++x) {
                Point m = marks[size_t(y) * size_t(cw) + size_t(x)];
                if (std::hypot(m.x - p.x, m.y - p.y) < gap) return true;
            }
        return false;
    };
    double radius = std::clamp((spacing > 0 ? spacing : gap) * 0.28, 1.2, 2.2);
    cairo_new_path(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_line_width(cr, 0.9);
    for (int v = 0; v < n && size_t(v) < panel.selected.size(); ++v) {
        if (!panel.selected[size_t(v)]) continue;
        Point p = Place(fit, shape, v);
        if (!(p.x >= 0 && p.y >= 0 && p.x <= w && p.y <= h) || near(p)) continue;
        marks[size_t(int(p.y / gap)) * size_t(cw) + size_t(int(p.x / gap))] = p;
        cairo_new_sub_path(cr);
        cairo_arc(cr, area.x + p.x, area.y + p.y, radius, 0, 2 * M_PI);
    }
    cairo_stroke(cr);
    canvas.Frame({area.x - 1, area.y - 1, area.w + 2, area.h + 2}, {0.3, 0.3, 0.3});
}

std::string MeshPng(const std::vector<MeshPanel>& panels, int columns, int panelSize,
                    const std::string& title, std::string& png) {
    columns = std::clamp(columns, 1, std::max(1, int(panels.size())));
    int rows = std::max(1, int((panels.size() + size_t(columns) - 1) / size_t(columns)));
    const int margin = 20, top = 48, caption = 24, legend = 150;
    int width = margin + columns * (panelSize + margin) + legend,
        height = top + rows * (caption + panelSize + margin);
    Canvas canvas(width, height);
    if (!canvas.Ok() || panelSize < 8)
        return "a picture of " + std::to_string(width) + " x " + std::to_string(height) + " cannot be made";
    canvas.Text(margin, 28, title, 15, Align::Left, {0.1, 0.1, 0.1}, true);
    for (size_t i = 0; i < panels.size(); ++i) {
        double x = margin + double(i % size_t(columns)) * (panelSize + margin),
               y = top + double(i / size_t(columns)) * (caption + panelSize + margin);
        canvas.Text(x, y + 15, panels[i].caption, 12, Align::Left, {0.15, 0.15, 0.15}, true);
        DrawMeshPanel(canvas, {x, y + caption, double(panelSize), double(panelSize)}, panels[i]);
    }
    double lx = margin + columns * (panelSize + margin) + 10;
    double lh = std::min(320.0, double(height - top - caption - 60));
    DrawWeightLegend(canvas, {lx, top + caption, 90, lh}, {.noData = false, .notFinite = false});
    // the mark of a selected vertex
    cairo_t* cr = canvas.Context();
    cairo_new_path(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_line_width(cr, 0.9);
    cairo_arc(cr, lx + 9, top + caption + lh + 16, 3.5, 0, 2 * M_PI);
    cairo_stroke(cr);
    canvas.Text(lx + 25, top + caption + lh + 20, "selected (1.0)", 11);
    return canvas.Png(png);
}

} // namespace pictures
