// Opening a cache file for reading and loading its header, count table and first sample.
#include <cstdlib>
#include <cstring>

#include "sel/format.h"
#include "sel/files.h"
#include "plugin/tessarin.h"

namespace {
// Folders open for reading too; a cache file is a plain file. The kind is told first as well:
// opening a FIFO would wait for a writer that may never come.
FILE* OpenPlainFile(const char* path) {
    if (sel::KindOf(path) != sel::FileKind::Plain) return nullptr;
    FILE* f = sel::OpenFile(path, "rb");
    if (f && !sel::IsPlainFile(f)) {
        std::fclose(f);
        f = nullptr;
    }
    return f;
}
} // namespace

FILE* Tessarin::OpenCacheFile(const char* path) {
    if (!path) return nullptr;
    openedPath = sel::PathOf(path);
    if (FILE* f = OpenPlainFile(path)) return f;
    // fall back to the file name in the host's directory 2
    CStr directory, file;
    SplitPathFile(CStr(path), &directory, &file);
    CStr fallback;
    fallback.printf("%s/%s", GetCOREInterface()->HostDirectory(2), file.data());
    openedPath = sel::PathOf(fallback.data());
    return OpenPlainFile(fallback);
}

bool Tessarin::OpenFileChanged() const {
    if (openedPath.empty()) return false;
    std::error_code ec;
    return std::filesystem::last_write_time(openedPath, ec) != openedTime || ec;
}

void Tessarin::LoadCache(const char* path) {
    // 1. open
    cacheFile = OpenCacheFile(path);
    if (!cacheFile) return;
    std::error_code ec;
    openedTime = std::filesystem::last_write_time(openedPath, ec);
    if (ec) openedPath.clear(); // nothing to compare with: the stream is played as long as it is open
    // 2.-4. header and count table, checked against what the file really holds
    sel::FileSource source(cacheFile);
    sel::Layout layout;
    sel::Status status = sel::ReadLayout(source, layout);
    pointsPerSample = layout.header.formatTag;
    variableCounts = layout.variable ? layout.header.formatTag : 0;
    samplesPerFrame = layout.header.samplesPerFrame;
    sampleTotal = layout.samples;
    // 5. fresh buffers (none for a file that cannot be played: the evaluation then reports it missing)
    FreeSampleBuffers();
    indexA = indexB = kNoSample;
    recordsBefore.clear();
    if (!status.ok) {
        largestCount = -1;
        sampleTotal = 0;
        return;
    }
    if (variableCounts) {
        countTable.SetCount(static_cast<int>(layout.counts.size()));
        std::memcpy(countTable.Addr(0), layout.counts.data(), layout.counts.size() * sizeof(int32_t));
        pointsPerSample = layout.largestCount;
        recordsBefore.resize(layout.counts.size() + 1);
        for (size_t k = 0; k < layout.counts.size(); ++k)
            recordsBefore[k + 1] = recordsBefore[k] + layout.counts[k];
    }
    largestCount = layout.largestCount;
    // zeroed, so that records a file lacks read as weight 0.0 and nothing is read uninitialised
    size_t records = static_cast<size_t>(largestCount > 0 ? largestCount : 1);
    sampleA = static_cast<SampleRecord*>(module::sampleAllocator(records, sizeof(SampleRecord)));
    sampleB = static_cast<SampleRecord*>(module::sampleAllocator(records, sizeof(SampleRecord)));
    firstSample = static_cast<SampleRecord*>(module::sampleAllocator(records, sizeof(SampleRecord)));
    // 6. sample 0
    if (firstSample) sel::ReadSample(source, layout, 0, firstSample, largestCount);
}

int64_t Tessarin::SampleOffset(int k) {
    int64_t sum = 0;
    for (int i = 0; i < k && i < countTable.Count(); ++i)
        sum += countTable[i];
    return sum;
}
