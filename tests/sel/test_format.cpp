// The file format: layout checks, hostile headers, verify's findings. (The same damaged files played
// through the modifier: tests/plugin/engine/test_damaged_files.cpp.)
#include <gtest/gtest.h>

#include "sel/files.h"
#include "sel/verify.h"

namespace {
using sel::SampleRecord;

using sel::EncodeHeader;

TEST(Format, VariableCountLayoutAndOffsets) {
    std::vector<std::vector<SampleRecord>> samples(3);
    samples[0].resize(4);
    samples[1].resize(6);
    samples[2].resize(5);
    std::string bytes = sel::EncodeFile(2, samples, -1);
    EXPECT_EQ(bytes.size(), 12u + 8u * 15u + 4u * 3u);
    sel::MemorySource src(bytes.data(), bytes.size());
    sel::Layout layout;
    ASSERT_TRUE(sel::ReadLayout(src, layout).ok);
    EXPECT_TRUE(layout.variable);
    EXPECT_EQ(layout.largestCount, 6);
    EXPECT_EQ(layout.SampleStart(2), 92);
    EXPECT_EQ(layout.SampleStart(0), 12);
}

TEST(Format, HeaderBytesOfTheWrittenVariant) {
    std::string bytes = sel::EncodeFile(2, {{{1.0f, 0}}});
    EXPECT_EQ(bytes.substr(0, 12), std::string("\x9c\xff\xff\xff\x02\x00\x00\x00\x01\x00\x00\x00", 12));
    EXPECT_EQ(bytes.substr(12, 4), std::string("\x00\x00\x80\x3f", 4));
}

TEST(Format, FixedCountFilesPlayTheWholeSamplesPresent) {
    std::string bytes = EncodeHeader(2, 1, 5) + std::string(8 * 2 * 3 + 5, '\0'); // 3 whole samples and a bit
    sel::MemorySource src(bytes.data(), bytes.size());
    sel::Layout layout;
    ASSERT_TRUE(sel::ReadLayout(src, layout).ok);
    EXPECT_EQ(layout.samples, 3);
    EXPECT_EQ(layout.SampleStart(2), 12 + 8 * 2 * 2);
    std::string none = EncodeHeader(2, 1, 5) + std::string(15, '\0');
    sel::MemorySource src2(none.data(), none.size());
    EXPECT_FALSE(sel::ReadLayout(src2, layout).ok);
}

TEST(Format, HostileHeadersAreRefused) {
    const std::string table = std::string(8, '\0');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"short header", std::string("\x9c\xff\xff", 3)},
        {"no samples", EncodeHeader(-100, 1, 0)},
        {"negative total", EncodeHeader(-100, 1, -4)},
        {"zero per frame", EncodeHeader(-100, 0, 1) + std::string(12, '\0')},
        {"negative per frame", EncodeHeader(3, -2, 1) + std::string(24, '\0')},
        {"table before byte 12", EncodeHeader(-100, 1, 1000000) + std::string(40, '\0')},
        {"absurd total", EncodeHeader(-100, 1, 0x7fffffff)},
        {"negative count", EncodeHeader(-100, 1, 1) + std::string("\xff\xff\xff\xff", 4)},
        {"counts past the file",
         EncodeHeader(-100, 1, 2) + std::string(8, '\0') + std::string("\x01\0\0\0\xff\xff\xff\x7f", 8)},
        {"fixed records past the file", EncodeHeader(1000000, 1, 1000000) + std::string(64, '\0')},
    };
    for (const auto& [name, bytes] : cases) {
        sel::MemorySource src(bytes.data(), bytes.size());
        sel::Layout layout;
        EXPECT_FALSE(sel::ReadLayout(src, layout).ok) << name;
    }
}

// Each bound of the header and count table checks at its very edge: one byte or one entry either
// side, so a `<` for `<=`, a bound off by one word or a check left out changes a verdict here.
TEST(Format, HeaderAndTableBoundsHoldAtTheirEdges) {
    auto counts = [](std::initializer_list<int32_t> cs) {
        std::string s;
        for (int32_t c : cs)
            sel::PutI32(s, c);
        return s;
    };
    const std::string rec(8, '\0');
    struct Case {
        const char* name;
        std::string bytes;
        bool plays;
        int32_t samples;  // when it plays
        sel::Fault fault; // when refused
        int64_t at;       // when refused
    };
    const std::vector<Case> cases = {
        {"11 bytes", EncodeHeader(-100, 1, 1).substr(0, 11), false, 0, sel::Fault::CutShort, 11},
        {"no bytes", "", false, 0, sel::Fault::CutShort, 0},
        {"the bare header of an aborted recording", EncodeHeader(-100, 1, 0), false, 0, sel::Fault::CutShort, 8},
        {"no samples but more bytes", EncodeHeader(-100, 1, 0) + rec, false, 0, sel::Fault::Damaged, 8},
        {"a negative total", EncodeHeader(-100, 1, -1) + rec, false, 0, sel::Fault::Damaged, 8},
        {"samples per frame of -1", EncodeHeader(-100, -1, 1) + counts({0}), false, 0, sel::Fault::Damaged, 4},
        {"samples per frame of 1", EncodeHeader(-100, 1, 1) + counts({0}), true, 1, {}, 0},
        {"a table that fills the file", EncodeHeader(-100, 1, 2) + counts({0, 0}), true, 2, {}, 0},
        {"a table one entry longer than the file", EncodeHeader(-100, 1, 3) + counts({0, 0}), false, 0,
         sel::Fault::CutShort, 8},
        {"a count of 0", EncodeHeader(-100, 1, 2) + rec + counts({0, 1}), true, 2, {}, 0},
        {"a count of -1", EncodeHeader(-100, 1, 2) + rec + counts({1, -1}), false, 0, sel::Fault::CutShort, 24},
        {"records that end where the table starts",
         EncodeHeader(-100, 1, 2) + rec + rec + counts({1, 1}),
         true,
         2,
         {},
         0},
        {"records that run into the table", EncodeHeader(-100, 1, 2) + rec + counts({1, 1}), false, 0,
         sel::Fault::CutShort, 24},
        {"records one byte short of the table", EncodeHeader(-100, 1, 1) + rec.substr(1) + counts({1}), false, 0,
         sel::Fault::CutShort, 19},
        {"a fixed count of 0", EncodeHeader(0, 1, 3), true, 3, {}, 0},
        {"a fixed count with exactly its samples", EncodeHeader(1, 1, 2) + rec + rec, true, 2, {}, 0},
        {"a fixed count one byte short of a sample", EncodeHeader(2, 1, 1) + rec + rec.substr(1), false, 0,
         sel::Fault::CutShort, 27},
    };
    for (const Case& c : cases) {
        sel::MemorySource src(c.bytes.data(), c.bytes.size());
        sel::Layout layout;
        sel::Status status = sel::ReadLayout(src, layout);
        ASSERT_EQ(status.ok, c.plays) << c.name << ": " << status.message;
        if (c.plays) {
            EXPECT_EQ(layout.samples, c.samples) << c.name;
            continue;
        }
        EXPECT_EQ(status.fault, c.fault) << c.name << ": " << status.message;
        EXPECT_EQ(status.at, c.at) << c.name << ": " << status.message;
    }
}

TEST(Format, CountsAndSampleReadsStayInsideTheFile) {
    std::string bytes = sel::EncodeFile(1, {{{0.25f, 0}, {0.5f, 0}}, {{0.75f, 80}}, {}});
    sel::MemorySource src(bytes.data(), bytes.size());
    sel::Layout layout;
    ASSERT_TRUE(sel::ReadLayout(src, layout).ok);
    EXPECT_EQ(layout.largestCount, 2);
    EXPECT_EQ(layout.smallestCount, 0);
    EXPECT_EQ(layout.records, 3);
    EXPECT_EQ(layout.tableStart, 12 + 3 * 8);
    std::vector<SampleRecord> buf(4, SampleRecord{9.0f, 9});
    EXPECT_EQ(sel::ReadSample(src, layout, 1, buf.data(), 4), 1);
    EXPECT_EQ(buf[0].weight, 0.75f);
    EXPECT_EQ(buf[1].weight, 0.0f) << "records the sample lacks are zero";
    EXPECT_EQ(sel::ReadSample(src, layout, 0, buf.data(), 1), 1) << "never more than the room given";
    buf.assign(4, SampleRecord{9.0f, 9});
    EXPECT_EQ(sel::ReadSample(src, layout, 3, buf.data(), 4), 0) << "no sample past the last";
    EXPECT_EQ(sel::ReadSample(src, layout, -1, buf.data(), 4), 0);
    EXPECT_EQ(buf[0].weight, 9.0f) << "a sample that does not exist leaves the buffer";
}

// Records with ticks 0, 80, 160, ... per sample, as the recorder stamps them.
std::vector<std::vector<SampleRecord>> Stamped(const std::vector<std::vector<float>>& weights) {
    std::vector<std::vector<SampleRecord>> out;
    for (size_t k = 0; k < weights.size(); ++k) {
        out.emplace_back();
        for (float w : weights[k])
            out.back().push_back({w, int32_t(80 * k)});
    }
    return out;
}

void SetWord(std::string& bytes, size_t at, int32_t v) {
    std::string w;
    sel::PutI32(w, v);
    bytes.replace(at, 4, w);
}

TEST(Verify, NamesEachFaultWithItsByteAndKind) {
    const std::string good = sel::EncodeFile(2, Stamped({{0.1f, 1.0f}, {0.2f, 0.5f}, {0.3f, 0.25f}}));
    std::string mixed = good, same = good, turns = good, nan = good, wordTwo = good, between = good;
    SetWord(mixed, 12 + 8 + 4, 7);
    SetWord(same, 12 + 16 + 4, 0), SetWord(same, 12 + 24 + 4, 0);
    SetWord(turns, 12 + 32 + 4, 40), SetWord(turns, 12 + 40 + 4, 40);
    SetWord(nan, 12 + 8, 0x7fc00000), SetWord(nan, 12 + 40, 0x7f800000);
    SetWord(wordTwo, 8, 5);
    between.insert(12 + 48, "\x09\0\0\0", 4); // too large to be a count that fits
    std::string fixed = sel::EncodeFile(1, Stamped({{0.5f}, {0.5f}}), 1);
    const std::vector<std::tuple<std::string, std::string, sel::Fault, int64_t, std::string>> cases = {
        {"tick of its own", mixed, sel::Fault::Damaged, 24, "sample 0, vertex 1: tick 7"},
        {"two samples, one tick", same, sel::Fault::Damaged, 32, "samples 0 and 1 share tick 0"},
        {"ticks turn back", turns, sel::Fault::Damaged, 48, "sample 2: tick 40 goes down from 80"},
        {"not finite", nan, sel::Fault::Damaged, 20, "sample 0, vertex 1: weight is nan (and 1 more)"},
        {"word 2 past the table", wordTwo, sel::Fault::CutShort, 8,
         "word 2 announces 5 samples, but the count table"},
        {"bytes before the table", between, sel::Fault::Damaged, 60,
         "4 bytes lie between the last sample and"},
        {"fixed count cut", fixed.substr(0, fixed.size() - 3), sel::Fault::CutShort, 20,
         "holds 1 whole sample of the 2"},
        {"fixed count with a tail", fixed + "xy", sel::Fault::Damaged, 28, "2 bytes follow the last sample"},
        {"no samples per frame", fixed.substr(0, 4) + std::string(4, '\0') + fixed.substr(8),
         sel::Fault::Damaged, 4, "samples per frame is 0"},
        {"a recording cut short", good.substr(0, 40), sel::Fault::CutShort, 28, "do not fit"},
    };
    for (const auto& [name, bytes, fault, at, text] : cases) {
        sel::MemorySource src(bytes.data(), bytes.size());
        sel::VerifyReport r = sel::VerifyFile(src);
        ASSERT_FALSE(r.findings.empty()) << name;
        EXPECT_EQ(r.Verdict(), fault) << name;
        bool found = false;
        for (const auto& f : r.findings)
            found = found || (f.at == at && f.message.find(text) != std::string::npos);
        EXPECT_TRUE(found) << name << ": " << r.findings.front().at << ": " << r.findings.front().message;
    }
    sel::MemorySource src(good.data(), good.size());
    sel::VerifyReport r = sel::VerifyFile(src);
    EXPECT_TRUE(r.findings.empty());
    EXPECT_DOUBLE_EQ(r.weights.max, 1.0);
    EXPECT_EQ(r.weights.ones, 1);
    EXPECT_EQ(r.weights.lastTick, 160);
}

TEST(Verify, ChecksSamplesLongerThanOneReadChunk) {
    std::vector<std::vector<float>> weights(2, std::vector<float>(70000, 0.5f));
    std::string bytes = sel::EncodeFile(1, Stamped(weights));
    SetWord(bytes, size_t(12 + 8 * 69999 + 4), 3); // the last record of sample 0, two chunks in
    sel::MemorySource src(bytes.data(), bytes.size());
    sel::VerifyReport r = sel::VerifyFile(src);
    ASSERT_EQ(r.findings.size(), 1u);
    EXPECT_EQ(r.findings[0].message,
              "sample 0, vertex 69999: tick 3, but the sample's first record has tick 0");
    EXPECT_EQ(r.weights.records, 140000);
}

TEST(Verify, FindsTheOneTableThatFitsTheFile) {
    std::string bytes = sel::EncodeFile(1, Stamped({{0.1f}, {0.2f, 0.3f}, {}}));
    sel::MemorySource src(bytes.data(), bytes.size());
    EXPECT_EQ(sel::FindTableLength(src), 3);
    std::string cut = bytes.substr(0, bytes.size() - 2);
    sel::MemorySource src2(cut.data(), cut.size());
    EXPECT_EQ(sel::FindTableLength(src2), 0);
}
} // namespace
