// The weight colour ramp every picture shares, so a weight reads the same in each.
#pragma once

namespace pictures {

struct Colour {
    double r, g, b;
};

// The stops of the ramp at weights 0, 1/4, 1/2, 3/4 and 1: dark purple, blue, teal, green, yellow
// (a common perceptual map, ordered in lightness, readable in grey). The view's page draws with
// the same stops, which its server hands it.
inline constexpr Colour kWeightStops[] = {{0.267, 0.005, 0.329},
                                          {0.231, 0.322, 0.545},
                                          {0.129, 0.569, 0.549},
                                          {0.369, 0.788, 0.384},
                                          {0.993, 0.906, 0.144}};

// The stops interpolated in RGB. Values below 0 or above 1 take the end colours; a non-finite
// weight takes kNotFinite.
Colour WeightColour(double w);

inline constexpr Colour kNoData{0.86, 0.86, 0.86};    // a cell no record reaches
inline constexpr Colour kNotFinite{0.85, 0.10, 0.55}; // nan or inf

} // namespace pictures
