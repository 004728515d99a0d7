// The records of a selection cache file (".sel"): a 12-byte header, samples of 8-byte records,
// and, in variable-count files, a table of per-sample record counts at the end.
// All numbers are 32-bit little-endian.
#pragma once
#include <cstdint>

namespace sel {

struct SampleRecord {
    float weight; // 1.0 for a selected point, else its soft-selection weight
    int32_t time; // tick time of the capturing evaluation; readers ignore it
};
static_assert(sizeof(SampleRecord) == 8, "records are 8 bytes on disk");

struct CacheHeader {
    int32_t formatTag;       // negative: variable-count file with a count table; else records per sample
    int32_t samplesPerFrame; // samples per animation frame
    int32_t sampleTotal;     // samples in the file, and entries of the count table
};

constexpr int64_t kHeaderBytes = 12;
constexpr int64_t kRecordBytes = 8;
constexpr int32_t kWrittenFormatTag = -100;

} // namespace sel
