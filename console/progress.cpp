// Progress lines and bars for recordings and the tool's long verbs.
#include "console/progress.h"

#include <chrono>

namespace console {

namespace {
constexpr double kLineEvery = 0.5; // seconds between plain lines
constexpr double kBarEvery = 0.1;  // seconds between redraws of a bar
constexpr int kBarWidth = 30;
} // namespace

Progress::Clock Progress::SteadySeconds() {
    return [] {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    };
}

Progress::Progress(std::ostream& err, std::string label, bool terminal, ProgressOptions options, Clock clock)
    : err_(err), label_(std::move(label)), terminal_(terminal), options_(options), clock_(std::move(clock)) {
    start_ = last_ = clock_();
}

Progress::~Progress() { Erase(); }

void Progress::Show(int64_t done, int64_t total, const std::function<std::string()>& text) {
    double now = clock_();
    bool due = options_.firstAndLast && (!shown_ || (total > 0 && done >= total));
    if (!due && now - start_ < options_.quietSeconds) return;
    if (!due && shown_ && now - last_ < (terminal_ ? kBarEvery : kLineEvery)) return;
    shown_ = true;
    last_ = now;
    if (!terminal_) {
        err_ << label_ << text() << "\n";
        return;
    }
    std::string bar;
    if (total > 0) {
        int64_t filled = done >= total ? kBarWidth : done * kBarWidth / total;
        // built by appends: GCC 12 warns falsely (-Wrestrict) of "literal" + temporary string
        bar.reserve(size_t(kBarWidth) + 3);
        bar.append(1, '[').append(size_t(filled), '#').append(size_t(kBarWidth - filled), '-').append("] ");
    }
    err_ << "\r\033[K" << label_ << bar << text() << std::flush;
    barShown_ = true;
}

void Progress::Erase() {
    if (!barShown_) return;
    barShown_ = false;
    err_ << "\r\033[K" << std::flush;
}

int ErasingBuf::overflow(int c) {
    if (progress_) progress_->Erase();
    return c == traits_type::eof() ? traits_type::not_eof(c) : to_->sputc(traits_type::to_char_type(c));
}

std::streamsize ErasingBuf::xsputn(const char* s, std::streamsize n) {
    if (progress_ && n > 0) progress_->Erase();
    return to_->sputn(s, n);
}

} // namespace console
