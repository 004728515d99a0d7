// Playback arithmetic on plain arrays: a tick time to the two bracketing samples and the fraction
// between them, which samples the two held buffers must read, and the per-vertex blend and combine.
// Host-free (std and the format's records only): the modifier and the Python module both call it,
// so a cache plays the same bits wherever it plays.
#pragma once
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "sel/records.h"

namespace sel::play {

using sel::SampleRecord;

constexpr int kNoSample = -999999; // a held buffer that holds no sample yet

// Index of the sample at or before tick time t, clamped to [0, sampleTotal - 1] (0 for an empty
// file). t goes through a 32-bit float first, as the host's time value does. A NaN position gives 0;
// positions beyond the int range saturate, so far-away times clamp like any other.
int SampleIndexAt(int32_t t, float start, int ticksPerFrame, int samplesPerFrame, int sampleTotal);

struct Bracket {
    int idx;        // the lower sample
    int next;       // the upper one: idx + 1, or idx at the file's last sample
    float fraction; // position between them, clamped to [0, 1]; NaN passes unchanged
};

// The two samples around tick time t for a file whose sample 0 plays at frame `start`. Any inputs
// give an answer inside [0, sampleTotal - 1]; samplesPerFrame of 0 gives a NaN fraction (callers
// refuse such files before they get here). ticksPerFrame must not be 0.
Bracket BracketAt(int32_t t, float start, int ticksPerFrame, int samplesPerFrame, int sampleTotal);

// Fills the held buffers with sample idx (a) and sample next (b), reading only what they do not
// already hold. `read(k, dst, seek)` reads sample k into dst; seek is false when sample k follows
// the sample just read, so a stream may go on from where it stands. `sameSource` tells whether the
// held samples came from the source being read (after a reload they must not be trusted). Buffers
// are swapped rather than copied; `copyRecords` is what one buffer holds when b must repeat a.
// Records past a sample's own count are never played, so what they hold does not matter.
template <class Read>
void FillHeld(SampleRecord*& a, SampleRecord*& b, int& indexA, int& indexB, int idx, int next,
              bool sameSource, size_t copyRecords, Read read) {
    bool haveA = false;
    if (idx == indexB) {
        // stepping forward: the old upper sample becomes the lower one
        if (indexA != indexB) {
            std::swap(a, b);
            std::swap(indexA, indexB);
        }
        haveA = true;
    } else if (sameSource && idx == indexA) {
        haveA = true;
    } else if (sameSource && next == indexA) {
        // stepping back: the old lower sample becomes the upper one
        std::swap(a, b);
        std::swap(indexA, indexB);
    }
    if (!haveA) read(idx, a, true);
    if (!sameSource || indexB != next) {
        if (next == idx)
            std::memcpy(b, a, copyRecords * sizeof(SampleRecord));
        else
            read(next, b, haveA); // right after sample idx when that was just read
    }
    indexA = idx;
    indexB = next;
}

// What the per-vertex pass needs of the held samples for one evaluation.
struct Played {
    const SampleRecord *a, *b, *first;
    float fraction, strength;
    bool relative;  // relative offset applied
    bool lowerOnly; // the two samples differ in count: the lower one, unblended
    int blended;    // vertices below this come from the samples; the rest keep their incoming weight
};

// The choices for a file: fixed-count files blend pointsPerSample vertices; variable-count files
// blend the lower sample's count, or play the lower sample alone when the two counts differ.
inline Played ChoosePlayed(const SampleRecord* a, const SampleRecord* b, const SampleRecord* first,
                           float fraction, float strength, bool relative, bool variable, int pointsPerSample,
                           int countA, int countB) {
    Played s{a, b, first, fraction, strength, relative, false, pointsPerSample};
    if (variable) {
        s.lowerOnly = countA != countB;
        s.blended = countA;
    }
    return s;
}

// The blend of two samples and the relative offset, in double so every caller gets the same bits.
inline double Blend(float A, float B, float fraction) { return A + (double(B) - A) * fraction; }
inline double Relative(double blend, float F, float strength, float w) { return (blend - F) * strength + w; }

// The played value of vertex i given its incoming weight w.
inline double PlayedValue(const Played& s, int i, float w) {
    if (i >= s.blended) return w;
    if (s.lowerOnly) return s.a[i].weight;
    double blend = Blend(s.a[i].weight, s.b[i].weight, s.fraction);
    return s.relative ? Relative(blend, s.first[i].weight, s.strength, w) : blend;
}

// Selection types: 0 replace, 1 add, 2 subtract; any other value keeps the incoming weight.
template <int kType> inline float Combine(double v, float w) {
    if constexpr (kType == 0)
        return static_cast<float>(v);
    else if constexpr (kType == 1)
        return static_cast<float>(v + w);
    else if constexpr (kType == 2)
        return static_cast<float>(w - v);
    else
        return w;
}

inline float CombineBy(int selectionType, double v, float w) {
    switch (selectionType) {
    case 0: return Combine<0>(v, w);
    case 1: return Combine<1>(v, w);
    case 2: return Combine<2>(v, w);
    default: return Combine<3>(v, w);
    }
}

constexpr int kBlock = 64; // vertices per selection word

// Eight flags of 0 or 1, one a byte, as the low eight bits of a word (flag k is bit k).
inline uint64_t PackFlags(const uint8_t* flags) {
    static_assert(std::endian::native == std::endian::little);
    uint64_t x;
    std::memcpy(&x, flags, sizeof x);
    return (x * 0x0102040810204080ull) >> 56;
}

namespace detail {
// Vertices [from, to): incoming weight w (the channel value, or 1.0 where the selection bit is
// set), played value played(i, w), combined by kType and stored as a bit (exactly 1.0, which keeps
// the stored weight) or a weight. A block's incoming weights are gathered, a branch-free loop (which
// the compiler vectorizes) stores the weights and notes the results of exactly 1.0, and
// setBits(word, changed, bits) is told which bits of that selection word change and to what.
// kInPlace: `out` is `in` itself, which the compiler then knows. Two arrays that may overlap would
// keep it from vectorizing the loop, so their results go through a local block first.
template <int kType, bool kInPlace, class PlayedFn, class SetBits>
void Pass(const uint64_t* words, const float* inWeights, float* outWeights, int from, int to, PlayedFn played,
          SetBits& setBits) {
    float w[kBlock], staged[kInPlace ? 1 : kBlock];
    alignas(8) uint8_t one[kBlock];
    for (int base = from - from % kBlock; base < to; base += kBlock) {
        int lo = std::max(from, base) - base, hi = std::min(to - base, kBlock);
        uint64_t range = (hi == kBlock ? ~uint64_t{0} : (uint64_t{1} << hi) - 1) & ~((uint64_t{1} << lo) - 1);
        uint64_t in = words[base / kBlock] & range;
        float* co = outWeights + base;
        const float* ci = kInPlace ? co : inWeights + base;
        float* results = kInPlace ? co : staged;
        for (int j = lo; j < hi; ++j)
            w[j] = ci[j];
        for (uint64_t bits = in; bits; bits &= bits - 1)
            w[std::countr_zero(bits)] = 1.0f;
        for (int j = lo; j < hi; ++j) {
            float incoming = ci[j], r = Combine<kType>(played(base + j, w[j]), w[j]);
            bool isOne = r == 1.0f;
            one[j] = isOne;
            results[j] = isOne ? incoming : r; // both read first: a read under a condition is not vectorized
        }
        if constexpr (!kInPlace) {
            if (hi - lo == kBlock) // a whole block: a copy of known size, which the compiler inlines
                std::memcpy(co, staged, sizeof staged);
            else
                std::memcpy(co + lo, staged + lo, static_cast<size_t>(hi - lo) * sizeof(float));
        }
        std::memset(one, 0, static_cast<size_t>(lo));
        std::memset(one + hi, 0, static_cast<size_t>(kBlock - hi));
        uint64_t out = 0;
        for (int k = 0; k < kBlock / 8; ++k)
            out |= PackFlags(one + 8 * k) << (8 * k);
        if (uint64_t changed = out ^ in) setBits(base / kBlock, changed, out);
    }
}

template <int kType, bool kInPlace, class SetBits>
void PassAll(const uint64_t* words, const float* in, float* out, int n, const Played& s, SetBits& setBits) {
    const SampleRecord *a = s.a, *b = s.b, *first = s.first;
    float fraction = s.fraction, strength = s.strength;
    int m = std::min(n, s.blended);
    if (s.lowerOnly)
        Pass<kType, kInPlace>(
            words, in, out, 0, m, [a](int i, float) { return double(a[i].weight); }, setBits);
    else if (s.relative)
        Pass<kType, kInPlace>(
            words, in, out, 0, m,
            [=](int i, float w) {
                return Relative(Blend(a[i].weight, b[i].weight, fraction), first[i].weight, strength, w);
            },
            setBits);
    else
        Pass<kType, kInPlace>(
            words, in, out, 0, m, [=](int i, float) { return Blend(a[i].weight, b[i].weight, fraction); },
            setBits);
    Pass<kType, kInPlace>(
        words, in, out, std::max(m, 0), n, [](int, float w) { return double(w); }, setBits);
}

template <bool kInPlace, class SetBits>
void PlayBy(int selectionType, const uint64_t* words, const float* in, float* out, int n, const Played& s,
            SetBits& setBits) {
    switch (selectionType) {
    case 0: PassAll<0, kInPlace>(words, in, out, n, s, setBits); break;
    case 1: PassAll<1, kInPlace>(words, in, out, n, s, setBits); break;
    case 2: PassAll<2, kInPlace>(words, in, out, n, s, setBits); break;
    default: PassAll<3, kInPlace>(words, in, out, n, s, setBits); break;
    }
}
} // namespace detail

// Plays n vertices: `words` holds the incoming selection (bit i of word i / 64; at least n bits,
// bits past n are ignored), `in` the incoming weights; the results go to `out`, which may be `in`
// itself (a result of exactly 1.0 stores the incoming weight there and sets the bit instead).
// setBits(word, changed, bits) is called for each selection word whose bits change: the bits under
// `changed` take their values from `bits`. The words are only read, so the caller may update them
// in place from setBits. Results are not clamped.
template <class SetBits>
void PlayVertices(int selectionType, const uint64_t* words, const float* in, float* out, int n,
                  const Played& s, SetBits&& setBits) {
    if (in == out) // one array, as the in-place form below
        detail::PlayBy<true>(selectionType, words, out, out, n, s, setBits);
    else
        detail::PlayBy<false>(selectionType, words, in, out, n, s, setBits);
}

// The same in place: the weights in ch are the incoming ones and receive the results.
template <class SetBits>
void PlayVertices(int selectionType, const uint64_t* words, float* ch, int n, const Played& s,
                  SetBits&& setBits) {
    detail::PlayBy<true>(selectionType, words, ch, ch, n, s, setBits);
}

} // namespace sel::play
