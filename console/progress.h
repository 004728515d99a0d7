// How far a long piece of work has come, on stderr, for both commands: on a terminal a bar redrawn
// in place at most ten times a second, otherwise plain lines at most two a second. The tool's verbs
// keep quiet through their first second; a recording shows its first and last frame always.
#pragma once
#include <cstdint>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

namespace console {

struct ProgressOptions {
    double quietSeconds = 1.0; // nothing is shown before this much time has passed
    bool firstAndLast = false; // the first showing and the one at done == total are never skipped
};

class Progress {
  public:
    using Clock = std::function<double()>; // seconds, never going back
    // `label` starts every line and bar: "export: ", "recording ".
    Progress(std::ostream& err, std::string label, bool terminal, ProgressOptions options = {},
             Clock clock = SteadySeconds());
    ~Progress();
    // `done` of `total` (total <= 0: unknown), described by `text` ("sample 3 of 40"), which is built
    // only when a line or bar is due.
    void Show(int64_t done, int64_t total, const std::function<std::string()>& text);
    // Takes a bar off the screen, so that what is printed next starts on a clean line.
    void Erase();
    static Clock SteadySeconds();

  private:
    std::ostream& err_;
    std::string label_;
    bool terminal_;
    ProgressOptions options_;
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

} // namespace console
