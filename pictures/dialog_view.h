// A dialog drawn from its controls, each placed by a rectangle in dialog units: what a user sees of a
// panel, without a window system.
#pragma once
#include <string>
#include <vector>

#include "pictures/canvas.h"

namespace pictures {

enum class ControlKind { GroupBox, Text, Button, CheckBox, Edit, Spinner, DropDown };

struct DialogControl {
    ControlKind kind = ControlKind::Text;
    std::string text;                  // the label, the edit's value, or the drop-down's selected item
    double x = 0, y = 0, w = 0, h = 0; // dialog units
    bool enabled = true;
    bool checked = false;
    Align align = Align::Left; // of a Text's lines
};

// The dialog, `width` x `height` dialog units at `scale` pixels per unit, under `title`. Text that
// does not fit a control's width wraps onto the next line (Text) or is cut at its edge; a Text with
// nothing in it gets a faint dashed outline, so an empty status line still shows where it is. Answers an
// error text or "" and the PNG bytes.
std::string DialogPng(const std::vector<DialogControl>& controls, int width, int height, double scale,
                      const std::string& title, std::string& png);

// The colours a control's label is drawn in, enabled and disabled, for the tests.
inline constexpr Colour kEnabledText{0.08, 0.08, 0.08};
inline constexpr Colour kDisabledText{0.62, 0.62, 0.62};

} // namespace pictures
