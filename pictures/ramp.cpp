// A five-stop ramp interpolated in RGB; the stops follow a common perceptual blue-to-yellow map.
#include "pictures/ramp.h"

#include <cmath>

namespace pictures {

Colour WeightColour(double w) {
    static constexpr Colour stops[] = {{0.267, 0.005, 0.329},
                                       {0.231, 0.322, 0.545},
                                       {0.129, 0.569, 0.549},
                                       {0.369, 0.788, 0.384},
                                       {0.993, 0.906, 0.144}};
    constexpr int last = sizeof stops / sizeof stops[0] - 1;
    if (!std::isfinite(w)) return kNotFinite;
    double x = w <= 0 ? 0 : w >= 1 ? last : w * last;
    int i = static_cast<int>(x);
    if (i >= last) return stops[last];
    double f = x - i;
    const Colour &a = stops[i], &b = stops[i + 1];
    return {a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f};
}

} // namespace pictures
