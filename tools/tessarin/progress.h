// How far a long verb has come, on stderr: on a terminal a bar redrawn in place, otherwise plain
// lines, at most two a second; nothing at all for a verb done within its first second.
#pragma once
#include <cstdint>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

namespace tessarin {

class Progress {
  public:
    using Clock = std::function<double()>; // seconds, never going back
    Progress(std::ostream& err, std::string verb, bool terminal, Clock clock = SteadySeconds());
    ~Progress();
    // `done` of `total` (total <= 0: unknown), described by `text` ("sample 3 of 40"), which is built
    // only when a line or bar is due.
    void Show(int64_t done, int64_t total, const std::function<std::string()>& text);
    // Takes a bar off the screen, so that what is printed next starts on a clean line.
    void Erase();
    static Clock SteadySeconds();

  private:
    std::ostream& err_;
    std::string verb_;
    bool terminal_;
    Clock clock_;
    double start_, last_;
    bool shown_ = false, barShown_ = false;
};

// A stream buffer that takes the bar away before anything else is written to the terminal.
class ErasingBuf : public std::streambuf {
  public:
    ErasingBuf(std::streambuf* to, Progress*& progress) : to_(to), progress_(progress) {}

  protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override { return to_->pubsync(); }

  private:
    std::streambuf* to_;
    Progress*& progress_;
};

} // namespace tessarin
