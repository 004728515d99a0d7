// The host-free playback arithmetic on plain arrays: bracketing as a table, which samples the held
// buffers read, and the word-wise pass against the per-vertex rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "sel/play.h"

namespace {
using sel::play::Bracket;
using sel::play::BracketAt;
using sel::SampleRecord;

struct BracketRow {
    int32_t t;
    float start;
    int spf, total;
    int idx, next;
    float fraction;
};

TEST(PlayBracket, TimesMapToTheTwoSamplesAroundThemAndTheFractionBetween) {
    const BracketRow rows[] = {
        {12 * 160 + 40, 10.0f, 1, 6, 2, 3, 0.25f},  // frame 12.25, one sample per frame
        {12 * 160 + 40, 10.0f, 2, 6, 4, 5, 0.5f},   // the same time, two per frame
        {160 * 3, 0.0f, 1, 6, 3, 4, 0.0f},          // exactly on a sample
        {-800, 0.0f, 1, 6, 0, 1, 0.0f},             // before the first sample
        {160 * 5, 0.0f, 1, 6, 5, 5, 0.0f},          // on the last sample
        {160 * 90 + 7, 0.0f, 1, 6, 5, 5, 1.0f},     // long after it
        {80, 0.0f, 1, 1, 0, 0, 0.5f},               // a single sample plays both buffers
        {80, 0.0f, 1, 0, 0, 0, 0.5f},               // an empty file stays inside [0, 0]
        {160 * 2 + 53, 0.0f, 3, 9, 6, 7, 0.99375f}, // three per frame: 53 ticks is not a third
        {2147483647, -1e9f, 10, 4, 3, 3, 1.0f},     // positions past the int range clamp
        {-2147483647 - 1, 1e9f, 10, 4, 0, 1, 0.0f},
    };
    for (const BracketRow& r : rows) {
        Bracket b = BracketAt(r.t, r.start, 160, r.spf, r.total);
        std::string where = "t " + std::to_string(r.t) + " spf " + std::to_string(r.spf);
        EXPECT_EQ(b.idx, r.idx) << where;
        EXPECT_EQ(b.next, r.next) << where;
        EXPECT_FLOAT_EQ(b.fraction, r.fraction) << where;
    }
}

TEST(PlayBracket, IndexGoesThroughAFloatWhileThePositionUsesTheExactTick) {
    // 16777217 ticks is no float: the index sees 16777216, the position the tick itself
    Bracket b = BracketAt(16777217, 0.0f, 1, 1, 1 << 30);
    EXPECT_EQ(b.idx, 16777216);
    EXPECT_FLOAT_EQ(b.fraction, 0.0f) << "the float position rounds to the sample too";
    EXPECT_EQ(sel::play::SampleIndexAt(16777223, 0.0f, 1, 1, 1 << 30), 16777224)
        << "rounds up, then clamps nothing";
}

TEST(PlayBracket, NoSamplesPerFrameGivesANaNFractionInsideTheFile) {
    Bracket b = BracketAt(400, 0.0f, 160, 0, 5);
    EXPECT_EQ(b.idx, 0);
    EXPECT_EQ(b.next, 1);
    EXPECT_TRUE(std::isnan(b.fraction));
}

// Which samples FillHeld reads, and whether each read must seek, over a walk through a file.
class PlayHeld : public ::testing::Test {
  protected:
    struct Read {
        int k;
        bool seek;
        bool operator==(const Read&) const = default;
    };
    std::vector<Read> Fill(int idx, int next, bool same = true) {
        reads.clear();
        sel::play::FillHeld(a, b, indexA, indexB, idx, next, same, 1, [&](int k, SampleRecord* dst, bool seek) {
            reads.push_back({k, seek});
            dst->weight = float(k);
        });
        return reads;
    }
    void ExpectHolds(int ka, int kb) {
        EXPECT_EQ(indexA, ka);
        EXPECT_EQ(indexB, kb);
        EXPECT_EQ(a->weight, float(ka)) << "buffer a holds what its index says";
        EXPECT_EQ(b->weight, float(kb)) << "buffer b holds what its index says";
    }
    SampleRecord bufA{}, bufB{};
    SampleRecord *a = &bufA, *b = &bufB;
    int indexA = sel::play::kNoSample, indexB = sel::play::kNoSample;
    std::vector<Read> reads;
};

TEST_F(PlayHeld, SteppingForwardReadsOnlyTheNewUpperSample) {
    EXPECT_EQ(Fill(2, 3), (std::vector<Read>{{2, true}, {3, false}}))
        << "the upper one follows without a seek";
    ExpectHolds(2, 3);
    EXPECT_EQ(Fill(3, 4), (std::vector<Read>{{4, true}}));
    ExpectHolds(3, 4);
    EXPECT_TRUE(Fill(3, 4).empty()) << "the same pair again reads nothing";
}

TEST_F(PlayHeld, SteppingBackKeepsTheOldLowerSampleAsTheUpperOne) {
    Fill(3, 4);
    EXPECT_EQ(Fill(2, 3), (std::vector<Read>{{2, true}}));
    ExpectHolds(2, 3);
}

TEST_F(PlayHeld, TheLastSampleFillsBothBuffersFromOneRead) {
    EXPECT_EQ(Fill(5, 5), (std::vector<Read>{{5, true}}));
    ExpectHolds(5, 5);
    EXPECT_EQ(Fill(4, 5), (std::vector<Read>{{4, true}}));
    ExpectHolds(4, 5);
}

TEST_F(PlayHeld, SamplesOfAnotherSourceAreReadAgain) {
    Fill(2, 3);
    EXPECT_EQ(Fill(2, 3, false), (std::vector<Read>{{2, true}, {3, false}}));
    ExpectHolds(2, 3);
}

// The word-wise pass against PlayedValue and CombineBy vertex by vertex, with the words updated in
// place from the callback and bits past n set that must be neither read nor written; the weights in
// place, and into another array (whose entries past n stay as they were).
TEST(PlayVertices, WordsInPlaceGiveWhatTheVertexRuleGives) {
    for (int n : {1, 63, 64, 65, 129})
        for (int blended : {0, 1, 64, 100})
            for (int type = 0; type < 4; ++type)
                for (int mode = 0; mode < 6; ++mode) {
                    bool apart = mode >= 3;
                    std::vector<SampleRecord> A, B, F;
                    for (int i = 0; i < 130; ++i) {
                        A.push_back({i % 5 == 0 ? 1.0f : 0.1f * float(i % 8), 0});
                        B.push_back({i % 3 == 0 ? 1.0f : 0.07f * float(i % 11), 0});
                        F.push_back({0.05f * float(i % 4), 0});
                    }
                    sel::play::Played s{A.data(), B.data(), F.data(), 0.375f, 1.5f, mode % 3 == 1, mode % 3 == 2,
                                        blended};
                    std::vector<float> ch(static_cast<size_t>(n)), before;
                    std::vector<uint64_t> words(size_t(n + 63) / 64, 0);
                    for (int i = 0; i < n; ++i) {
                        ch[size_t(i)] = i % 9 == 0 ? 1.0f : 0.11f * float(i % 7);
                        if (i % 4 == 1) words[size_t(i / 64)] |= uint64_t{1} << (i % 64);
                    }
                    if (n % 64) words.back() |= ~uint64_t{0} << (n % 64); // stray bits past n
                    std::vector<uint64_t> inWords = words;
                    before = ch;
                    std::vector<float> out(size_t(n) + 70, -7.0f);
                    auto setBits = [&](int word, uint64_t changed, uint64_t bits) {
                        words[size_t(word)] = (words[size_t(word)] & ~changed) | (bits & changed);
                    };
                    if (apart) {
                        sel::play::PlayVertices(type, words.data(), ch.data(), out.data(), n, s, setBits);
                        EXPECT_EQ(ch, before) << "the incoming weights only read";
                        EXPECT_EQ(std::vector<float>(out.begin() + n, out.end()), std::vector<float>(70, -7.0f));
                        std::copy(out.begin(), out.begin() + n, ch.begin());
                    } else {
                        sel::play::PlayVertices(type, words.data(), ch.data(), n, s, setBits);
                    }
                    for (int i = 0; i < n; ++i) {
                        bool in = inWords[size_t(i / 64)] >> (i % 64) & 1;
                        float w = in ? 1.0f : before[size_t(i)];
                        float r = sel::play::CombineBy(type, sel::play::PlayedValue(s, i, w), w);
                        float stored = r == 1.0f ? before[size_t(i)] : r;
                        std::string where = "n " + std::to_string(n) + " blended " + std::to_string(blended) +
                                            " type " + std::to_string(type) + " mode " +
                                            std::to_string(mode) + " vertex " + std::to_string(i);
                        ASSERT_EQ(int(words[size_t(i / 64)] >> (i % 64) & 1), r == 1.0f ? 1 : 0) << where;
                        ASSERT_EQ(std::memcmp(&stored, &ch[size_t(i)], 4), 0) << where;
                    }
                    if (n % 64) {
                        EXPECT_EQ(words.back() >> (n % 64), inWords.back() >> (n % 64))
                            << "bits past n untouched";
                    }
                }
}

} // namespace
