// Time to samples: which two recorded samples bracket a tick time, and where between them it lies.
#include "sel/play.h"

#include <cmath>

namespace sel::play {

int SampleIndexAt(int32_t t, float start, int ticksPerFrame, int samplesPerFrame, int sampleTotal) {
    float T = static_cast<float>(t);
    double x = (double(T) / ticksPerFrame - start) * samplesPerFrame;
    // truncation toward zero, saturated so that far-away times clamp like any other
    int idx;
    if (std::isnan(x))
        idx = 0;
    else if (x >= 2147483647.0)
        idx = 2147483647;
    else if (x <= -2147483648.0)
        idx = -2147483647 - 1;
    else
        idx = static_cast<int>(x);
    if (idx >= sampleTotal) idx = sampleTotal - 1;
    if (idx < 0) idx = 0;
    return idx;
}

Bracket BracketAt(int32_t t, float start, int ticksPerFrame, int samplesPerFrame, int sampleTotal) {
    // the position uses the exact t; the index goes through a float (they differ from 2^24 ticks on)
    float p = static_cast<float>((double(t) / ticksPerFrame - start) * samplesPerFrame);
    Bracket r;
    r.idx = SampleIndexAt(t, start, ticksPerFrame, samplesPerFrame, sampleTotal);
    r.next = r.idx + 1;
    if (r.next >= sampleTotal) r.next = sampleTotal - 1;
    if (r.next < 0) r.next = 0;
    // a = idx and b = idx + 1 in exact arithmetic; computed as the recorder's step would place them
    double s = samplesPerFrame, q = 1.0 / s;
    float a = static_cast<float>(r.idx * q * s);
    double b = (r.idx + 1.0) * q * s;
    double quotient = (p - double(a)) / (b - a);
    r.fraction = static_cast<float>(quotient);
    if (quotient < 0) r.fraction = 0.0f;
    if (r.fraction > 1.0f) r.fraction = 1.0f;
    return r;
}

} // namespace sel::play
