// A fixed-count cache file past 4 GiB, sparse so that it costs no disk: only the header, the last
// sample and, where a position cut to 32 bits would land, 8 bytes of no sample are written. The
// sel/ test and the modifier's read its last sample back; a 32-bit position anywhere (long
// on Windows, an off_t without large-file support) reads the wrong sample or none.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sel/format.h"
#include "sel/files.h"

namespace testing_support {

struct LargeCache {
    // 8000-byte samples, 4.8 GB
    static constexpr int32_t kPerSample = 1000, kSamples = 600000;
    int64_t lastStart = 0; // the byte where the last sample starts
    int64_t bytes = 0;     // the file's size
    // the last sample's records: weight 0.25 + i / 1000, time i
    std::vector<sel::SampleRecord> last;
};

// Writes the file at `path` through the file seam, checking its positions on the way; failures are
// gtest's (wrap the call in ASSERT_NO_FATAL_FAILURE).
inline void WriteLargeCache(const std::string& path, LargeCache& out) {
    constexpr int32_t kPerSample = LargeCache::kPerSample, kSamples = LargeCache::kSamples;
    FILE* f = sel::OpenFile(path, "wb");
    ASSERT_NE(f, nullptr) << path;
    std::string header;
    sel::PutI32(header, kPerSample);
    sel::PutI32(header, 1);
    sel::PutI32(header, kSamples);
    ASSERT_EQ(std::fwrite(header.data(), 1, header.size(), f), header.size());
    out.lastStart = sel::kHeaderBytes + sel::kRecordBytes * kPerSample * int64_t(kSamples - 1);
    ASSERT_GT(out.lastStart, int64_t(1) << 32);
    std::string sample;
    out.last.clear();
    for (int32_t i = 0; i < kPerSample; ++i) {
        out.last.push_back({0.25f + float(i) / kPerSample, i});
        sel::PutF32(sample, out.last.back().weight);
        sel::PutI32(sample, i);
    }
    ASSERT_TRUE(sel::SeekTo(f, out.lastStart));
    EXPECT_EQ(sel::Position(f), out.lastStart);
    ASSERT_EQ(std::fwrite(sample.data(), 1, sample.size(), f), sample.size());
    out.bytes = out.lastStart + int64_t(sample.size());
    EXPECT_EQ(sel::Position(f), out.bytes);
    // where a position cut to 32 bits would land: a sample that must not be the one read
    int64_t wrapped = out.lastStart & 0xffffffff;
    ASSERT_TRUE(sel::SeekTo(f, wrapped - wrapped % 8 + 4));
    ASSERT_EQ(std::fwrite("\x01\x02\x03\x04\x05\x06\x07\x08", 1, 8, f), 8u);
    ASSERT_EQ(std::fclose(f), 0);
    ASSERT_EQ(sel::SizeOf(path), out.bytes);
}

} // namespace testing_support
