// Canvas: surface, context, boxes and text.
#include "pictures/canvas.h"

#include <cmath>
#include <cstdio>

namespace pictures {

Canvas::Canvas(int width, int height)
    : width_(width), height_(height),
      surface_(
          cairo_image_surface_create(CAIRO_FORMAT_RGB24, width > 0 ? width : 1, height > 0 ? height : 1)),
      cr_(cairo_create(surface_)) {
    Fill({0, 0, double(width_), double(height_)}, {1, 1, 1});
}

Canvas::~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

bool Canvas::Ok() const {
    return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS && width_ > 0 && height_ > 0;
}

void Canvas::Fill(const Box& b, const Colour& c) {
    cairo_set_source_rgb(cr_, c.r, c.g, c.b);
    cairo_rectangle(cr_, b.x, b.y, b.w, b.h);
    cairo_fill(cr_);
}

void Canvas::Frame(const Box& b, const Colour& c, double line) {
    cairo_set_source_rgb(cr_, c.r, c.g, c.b);
    cairo_set_line_width(cr_, line);
    cairo_rectangle(cr_, b.x + line / 2, b.y + line / 2, b.w - line, b.h - line);
    cairo_stroke(cr_);
}

double Canvas::Text(double x, double y, const std::string& text, double size, Align align, const Colour& c,
                    bool bold) {
    cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, size);
    cairo_text_extents_t ext;
    cairo_text_extents(cr_, text.c_str(), &ext);
    double left = align == Align::Left     ? x
                  : align == Align::Centre ? x - ext.x_advance / 2
                                           : x - ext.x_advance;
    cairo_set_source_rgb(cr_, c.r, c.g, c.b);
    cairo_move_to(cr_, left, y);
    cairo_show_text(cr_, text.c_str());
    return ext.x_advance;
}

void Canvas::TextUp(double x, double y, const std::string& text, double size) {
    cairo_save(cr_);
    cairo_translate(cr_, x, y);
    cairo_rotate(cr_, -M_PI / 2);
    Text(0, 0, text, size, Align::Centre);
    cairo_restore(cr_);
}

std::string Canvas::Png(std::string& bytes) {
    bytes.clear();
    cairo_surface_flush(surface_);
    auto append = [](void* closure, const unsigned char* data, unsigned int n) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), n);
        return CAIRO_STATUS_SUCCESS;
    };
    cairo_status_t s = cairo_surface_write_to_png_stream(surface_, append, &bytes);
    return s == CAIRO_STATUS_SUCCESS ? "" : cairo_status_to_string(s);
}

double NiceStep(double span, int targetTicks) {
    if (!(span > 0) || targetTicks < 1) return 1;
    double raw = span / targetTicks;
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

std::string Label(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", std::fabs(v) < 1e-9 ? 0.0 : v);
    return buf;
}

} // namespace pictures
