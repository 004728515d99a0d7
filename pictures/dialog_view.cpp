// Dialog pictures: a light grey face like a panel's, each control drawn in its rectangle.
#include "pictures/dialog_view.h"

#include <algorithm>
#include <cmath>

namespace pictures {
namespace {

constexpr Colour kFace{0.93, 0.93, 0.92}, kEdge{0.55, 0.55, 0.55}, kWhite{1, 1, 1}, kButton{0.86, 0.87, 0.89},
    kButtonOff{0.91, 0.91, 0.91};

class DialogCanvas {
  public:
    DialogCanvas(Canvas& canvas, double scale, double top) : c_(canvas), s_(scale), top_(top) {}
    Box At(const DialogControl& k) const { return {k.x * s_ + pad, top_ + k.y * s_, k.w * s_, k.h * s_}; }
    double Font() const { return 4.6 * s_; }

    // Text cut to `box`'s width, its baseline centred in the box's height.
    void Line(const Box& b, const std::string& text, Align align, const Colour& colour) {
        cairo_t* cr = c_.Context();
        cairo_save(cr);
        cairo_rectangle(cr, b.x, b.y - 2, b.w, b.h + 4);
        cairo_clip(cr);
        double x = align == Align::Left ? b.x : align == Align::Centre ? b.x + b.w / 2 : b.x + b.w;
        c_.Text(x, b.y + b.h / 2 + Font() * 0.36, text, Font(), align, colour);
        cairo_restore(cr);
    }

    // Text wrapped at word gaps to the box's width, one line after another from its top.
    void Wrapped(const Box& b, const std::string& text, Align align, const Colour& colour) {
        double lineHeight = Font() * 1.3, y = b.y;
        std::string line, word;
        auto flush = [&] {
            Line({b.x, y, b.w, lineHeight}, line, align, colour);
            y += lineHeight;
            line.clear();
        };
        for (size_t i = 0; i <= text.size(); ++i) {
            char ch = i < text.size() ? text[i] : ' ';
            if (ch == '\n' || ch == ' ') {
                std::string tried = line.empty() ? word : line + " " + word;
                if (!line.empty() && Width(tried) > b.w) {
                    flush();
                    line = word;
                } else {
                    line = tried;
                }
                word.clear();
                if (ch == '\n') flush();
            } else {
                word += ch;
            }
        }
        if (!line.empty()) flush();
    }

    double Width(const std::string& text) {
        cairo_t* cr = c_.Context();
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, Font());
        cairo_text_extents_t e;
        cairo_text_extents(cr, text.c_str(), &e);
        return e.x_advance;
    }

    void Draw(const DialogControl& k) {
        Box b = At(k);
        const Colour& ink = k.enabled ? kEnabledText : kDisabledText;
        switch (k.kind) {
        case ControlKind::GroupBox: {
            double mid = b.y + Font() * 0.5;
            c_.Frame({b.x, mid, b.w, b.h - (mid - b.y)}, kEdge);
            double tw = Width(k.text);
            c_.Fill({b.x + 6, b.y, tw + 8, Font()}, kFace);
            Line({b.x + 10, b.y, b.w - 12, Font()}, k.text, Align::Left, ink);
            break;
        }
        case ControlKind::Text:
            if (k.text.find_first_not_of(' ') == std::string::npos) {
                // an empty line (a status line with nothing to say): a faint outline shows where it is
                cairo_t* cr = c_.Context();
                double dash[] = {3, 3};
                cairo_save(cr);
                cairo_set_dash(cr, dash, 2, 0);
                c_.Frame(b, {0.72, 0.72, 0.72});
                cairo_restore(cr);
            }
            Wrapped(b, k.text, k.align, ink);
            break;
        case ControlKind::Button:
            c_.Fill(b, k.enabled ? kButton : kButtonOff);
            c_.Frame(b, k.enabled ? Colour{0.35, 0.37, 0.42} : Colour{0.75, 0.75, 0.75});
            Line({b.x + 2, b.y, b.w - 4, b.h}, k.text, Align::Centre, ink);
            break;
        case ControlKind::CheckBox: {
            double side = std::min(b.h, 9.0 * s_ / 2.5);
            Box tick{b.x, b.y + (b.h - side) / 2, side, side};
            c_.Fill(tick, k.enabled ? kWhite : kFace);
            c_.Frame(tick, k.enabled ? kEdge : Colour{0.75, 0.75, 0.75});
            if (k.checked) {
                cairo_t* cr = c_.Context();
                cairo_set_source_rgb(cr, ink.r, ink.g, ink.b);
                cairo_set_line_width(cr, 1.6);
                cairo_move_to(cr, tick.x + side * 0.2, tick.y + side * 0.55);
                cairo_line_to(cr, tick.x + side * 0.42, tick.y + side * 0.78);
                cairo_line_to(cr, tick.x + side * 0.82, tick.y + side * 0.22);
                cairo_stroke(cr);
            }
            Line({b.x + side + 5, b.y, b.w - side - 5, b.h}, k.text, Align::Left, ink);
            break;
        }
        case ControlKind::Edit:
        case ControlKind::DropDown: {
            Box field = b;
            if (k.kind == ControlKind::DropDown) field.h = std::min(b.h, 12 * s_);
            c_.Fill(field, k.enabled ? kWhite : kFace);
            c_.Frame(field, kEdge);
            double arrow = k.kind == ControlKind::DropDown ? field.h : 0;
            Line({field.x + 4, field.y, field.w - 8 - arrow, field.h}, k.text, Align::Left, ink);
            if (arrow > 0) {
                cairo_t* cr = c_.Context();
                double cx = field.x + field.w - arrow / 2, cy = field.y + field.h / 2;
                cairo_set_source_rgb(cr, ink.r, ink.g, ink.b);
                cairo_move_to(cr, cx - arrow * 0.2, cy - arrow * 0.1);
                cairo_line_to(cr, cx + arrow * 0.2, cy - arrow * 0.1);
                cairo_line_to(cr, cx, cy + arrow * 0.15);
                cairo_close_path(cr);
                cairo_fill(cr);
            }
            break;
        }
        case ControlKind::Spinner: {
            c_.Fill(b, k.enabled ? kButton : kButtonOff);
            c_.Frame(b, kEdge);
            cairo_t* cr = c_.Context();
            cairo_set_source_rgb(cr, ink.r, ink.g, ink.b);
            double cx = b.x + b.w / 2, q = b.h / 4, half = std::min(b.w * 0.3, q);
            for (int dir : {-1, 1}) {
                double cy = b.y + b.h / 2 + dir * q;
                cairo_move_to(cr, cx - half, cy - dir * half * 0.5);
                cairo_line_to(cr, cx + half, cy - dir * half * 0.5);
                cairo_line_to(cr, cx, cy + dir * half * 0.5);
                cairo_close_path(cr);
                cairo_fill(cr);
            }
            break;
        }
        }
    }

    static constexpr double pad = 10;

  private:
    Canvas& c_;
    double s_, top_;
};

} // namespace

std::string DialogPng(const std::vector<DialogControl>& controls, int width, int height, double scale,
                      const std::string& title, std::string& png) {
    const double top = 40;
    int pw = int(std::ceil(width * scale + 2 * DialogCanvas::pad)),
        ph = int(std::ceil(top + height * scale + DialogCanvas::pad));
    if (!(scale > 0) || width <= 0 || height <= 0 || pw > 8000 || ph > 8000)
        return "a dialog of " + std::to_string(width) + " x " + std::to_string(height) +
               " units cannot be drawn";
    {
        Canvas measure(1, 1);
        pw = std::max(
            pw, int(measure.Text(0, 0, title, 14, Align::Left, {0, 0, 0}, true) + 2 * DialogCanvas::pad));
    }
    Canvas canvas(pw, ph);
    if (!canvas.Ok())
        return "a picture of " + std::to_string(pw) + " x " + std::to_string(ph) + " cannot be made";
    canvas.Fill({0, 0, double(pw), double(ph)}, kFace);
    canvas.Text(DialogCanvas::pad, 26, title, 14, Align::Left, {0.1, 0.1, 0.1}, true);
    canvas.Frame({DialogCanvas::pad - 1, top - 1, width * scale + 2, height * scale + 2}, kEdge);
    DialogCanvas dc(canvas, scale, top);
    // group boxes first, so the controls inside them are drawn over their frames
    for (const auto& k : controls)
        if (k.kind == ControlKind::GroupBox) dc.Draw(k);
    for (const auto& k : controls)
        if (k.kind != ControlKind::GroupBox) dc.Draw(k);
    return canvas.Png(png);
}

} // namespace pictures
