// Writing a variable-count cache file into a sink or in place of a file.
#include "sel/writer.h"

#include "sel/format.h"

namespace sel {

std::string CacheWriter::Open(const std::string& target, int32_t samplesPerFrame, int32_t announced,
                              int32_t formatTag) {
    if (std::string error = file_.Open(target); !error.empty()) return error;
    // a header that does not reach the file fails the writer, and Finish() says why
    Begin(file_, samplesPerFrame, announced, formatTag);
    return "";
}

bool CacheWriter::Begin(ByteSink& sink, int32_t samplesPerFrame, int32_t announced, int32_t formatTag) {
    sink_ = &sink;
    counts_.clear();
    failed_ = false;
    formatTag_ = formatTag;
    follow_ = announced == kFollowSamples;
    wordTwo_ = follow_ ? 0 : announced;
    return Check(sink.Write(EncodeHeader(formatTag, samplesPerFrame, wordTwo_)));
}

bool CacheWriter::Check(bool ok) {
    if (!ok) failed_ = true;
    return !failed_;
}

bool CacheWriter::AppendRecords(const SampleRecord* records, size_t n) {
    if (failed_ || !sink_) return false;
    if (follow_ && wordTwo_ != Samples() + 1) {
        // word 2 first: a writer that dies inside the records leaves a sample repair drops as cut short
        std::string word;
        PutI32(word, Samples() + 1);
        if (!Check(sink_->WriteAt(8, word.data(), 4))) return false;
        wordTwo_ = Samples() + 1;
    }
    return n == 0 || Check(sink_->Write(records, n * sizeof(SampleRecord)));
}

bool CacheWriter::EndSample(int32_t count) {
    if (failed_) return false;
    counts_.push_back(count);
    return true;
}

bool CacheWriter::Append(const SampleRecord* records, int32_t n) {
    return AppendRecords(records, size_t(n > 0 ? n : 0)) && EndSample(n);
}

bool CacheWriter::Flush() { return !failed_ && sink_ && Check(sink_->Flush()); }

std::string CacheWriter::Finish() {
    if (sink_ && !failed_) {
        if (formatTag_ < 0 && !counts_.empty())
            Check(sink_->Write(counts_.data(), counts_.size() * sizeof(int32_t)));
        if (!failed_ && wordTwo_ != Samples()) {
            std::string word;
            PutI32(word, Samples());
            Check(sink_->WriteAt(8, word.data(), 4));
        }
    }
    bool ownsFile = sink_ == &file_;
    sink_ = nullptr;
    if (ownsFile) return file_.Commit();
    return failed_ ? "cannot be written" : "";
}

} // namespace sel
