// A white page to draw on with Cairo, written out as PNG; text through Cairo's own text API.
#pragma once
#include <cairo.h>

#include <string>

#include "pictures/ramp.h"

namespace pictures {

struct Box {
    double x, y, w, h;
};

enum class Align { Left, Centre, Right };

class Canvas {
  public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* Context() { return cr_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Ok() const; // the surface could be made (sizes are sane)

    void Fill(const Box& box, const Colour& c);
    void Frame(const Box& box, const Colour& c, double line = 1);
    // Text whose baseline's anchor point is (x, y); answers its width.
    double Text(double x, double y, const std::string& text, double size, Align align = Align::Left,
                const Colour& c = {0.15, 0.15, 0.15}, bool bold = false);
    // The same text turned a quarter anticlockwise, centred on (x, y): a vertical axis title.
    void TextUp(double x, double y, const std::string& text, double size);

    // The picture as PNG bytes; answers an error text, or "".
    std::string Png(std::string& bytes);

  private:
    int width_, height_;
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

// Rounds a span / target into a 1, 2 or 5 times a power of ten step, for axis labels.
double NiceStep(double span, int targetTicks);
// A number for a label: no trailing zeros.
std::string Label(double v);

} // namespace pictures
