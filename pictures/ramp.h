// The weight colour ramp every picture shares, so a weight reads the same in each.
#pragma once

namespace pictures {

struct Colour {
    double r, g, b;
};

// 0 deep blue, through teal and green, to warm yellow at 1 (perceptually ordered, readable in grey).
// Values below 0 or above 1 take the end colours; a non-finite weight takes kNotFinite.
Colour WeightColour(double w);

inline constexpr Colour kNoData{0.86, 0.86, 0.86};    // a cell no record reaches
inline constexpr Colour kNotFinite{0.85, 0.10, 0.55}; // nan or inf

} // namespace pictures
