// The five stops interpolated in RGB.
#include "pictures/ramp.h"

#include <cmath>

namespace pictures {

Colour WeightColour(double w) {
    const auto& stops = kWeightStops;
    constexpr int last = sizeof kWeightStops / sizeof kWeightStops[0] - 1;
    if (!std::isfinite(w)) return kNotFinite;
    double x = w <= 0 ? 0 : w >= 1 ? last : w * last;
    int i = static_cast<int>(x);
    if (i >= last) return stops[last];
    double f = x - i;
    const Colour &a = stops[i], &b = stops[i + 1];
    return {a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f};
}

} // namespace pictures
