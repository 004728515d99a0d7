// Dialogs drawn from their controls: what tells an enabled control from a disabled one, a checked box
// from an empty one, and where an empty status line is.
#include <gtest/gtest.h>

#include "picture_pixels.h"
#include "pictures/dialog_view.h"

namespace {

using pictures::ControlKind;
using test_pictures::Decoded;
using test_pictures::Distance;

constexpr double kScale = 2.5, kPad = 10, kTop = 40;

// Pixels of the box (dialog units) within `near` of the colour.
int Count(const Decoded& d, double x, double y, double w, double h, const pictures::Colour& c, double near) {
    int n = 0;
    for (int py = int(kTop + y * kScale); py < int(kTop + (y + h) * kScale); ++py)
        for (int px = int(kPad + x * kScale); px < int(kPad + (x + w) * kScale); ++px)
            n += Distance(d.At(px, py), c) < near;
    return n;
}

std::string Draw(const std::vector<pictures::DialogControl>& controls) {
    std::string png;
    EXPECT_EQ(pictures::DialogPng(controls, 100, 60, kScale, "t", png), "");
    return png;
}

TEST(DialogView, DisabledButtonLabelIsGreyedWhereAnEnabledOneIsDark) {
    pictures::DialogControl on{ControlKind::Button, "Record", 5, 5, 40, 14};
    pictures::DialogControl off = on;
    off.x = 55;
    off.enabled = false;
    Decoded d(Draw({on, off}));
    EXPECT_GT(Count(d, 5, 5, 40, 14, pictures::kEnabledText, 0.3), 10);
    EXPECT_EQ(Count(d, 55, 5, 40, 14, pictures::kEnabledText, 0.3), 0);
    EXPECT_GT(Count(d, 55, 5, 40, 14, pictures::kDisabledText, 0.3), 10);
}

TEST(DialogView, CheckedBoxCarriesATickAndAnEmptyStatusLineAnOutline) {
    pictures::DialogControl checked{ControlKind::CheckBox, "", 5, 5, 10, 10};
    checked.checked = true;
    pictures::DialogControl empty = checked;
    empty.x = 30;
    empty.checked = false;
    pictures::DialogControl status{ControlKind::Text, " ", 5, 30, 80, 20};
    Decoded d(Draw({checked, empty, status}));
    EXPECT_GT(Count(d, 5, 5, 4, 10, pictures::kEnabledText, 0.5), 3);
    EXPECT_EQ(Count(d, 30, 5, 4, 10, pictures::kEnabledText, 0.5), 0);
    EXPECT_GT(Count(d, 5, 30, 80, 1, {0.72, 0.72, 0.72}, 0.1), 20);
}

TEST(DialogView, RefusesSizesThatMakeNoPicture) {
    std::string png;
    EXPECT_NE(pictures::DialogPng({}, 0, 10, kScale, "t", png), "");
    EXPECT_NE(pictures::DialogPng({}, 100000, 10, kScale, "t", png), "");
}

} // namespace
