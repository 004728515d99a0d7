// The progress of a recording, drawn from the times the host is asked to evaluate: a bar on a
// terminal, otherwise (logs) plain lines `recording frame N of M`, at most two a second.
#pragma once
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <string>

#include <unistd.h>

#include "host_queries.h"
#include "runtime/scene.h"

namespace app {

class Progress {
  public:
    // For `recorder` about to record in `scene`. A recording that starts at the current time first
    // evaluates one frame after the start without recording anything: that is no progress.
    Progress(vm::Scene& scene, Animatable* recorder)
        : tpf_(scene.TicksPerFrame()), start_(ParamAtZero(recorder, "start_time", 0.0f)),
          end_(ParamAtZero(recorder, "end_time", 0.0f)), tty_(isatty(STDERR_FILENO)),
          preRoll_(double(scene.CurrentTime()) == double(float(double(tpf_) * start_))),
          total_(static_cast<long>(std::fabs(double(end_) - start_)) + 1) {}
    ~Progress() { Finish(); }
    // Ends the bar's line, so that what is printed next starts a line of its own.
    void Finish() {
        if (tty_ && shown_) std::cerr << "\n";
        shown_ = false;
    }
    void Evaluated(TimeValue t) {
        if (preRoll_) {
            preRoll_ = false;
            return;
        }
        long frame = t / tpf_;
        if (seen_ && frame == last_) return;
        seen_ = true;
        last_ = frame;
        long n = std::min(total_, static_cast<long>(std::fabs(double(frame) - start_)) + 1);
        if (tty_) {
            int width = 30, fill = static_cast<int>(double(n) / double(total_) * width);
            std::cerr << "\rrecording [" << std::string(static_cast<size_t>(fill), '#')
                      << std::string(static_cast<size_t>(width - fill), ' ') << "] frame " << n << " of "
                      << total_ << std::flush;
            shown_ = true;
            return;
        }
        // plain lines go to logs: the first, the last, and between them at most two a second
        auto now = std::chrono::steady_clock::now();
        if (printed_ && n < total_ && now - lastLine_ < std::chrono::milliseconds(500)) return;
        printed_ = true;
        lastLine_ = now;
        std::cerr << "recording frame " << n << " of " << total_ << "\n";
    }

  private:
    int tpf_;
    float start_, end_;
    bool tty_;
    bool preRoll_;
    long total_;
    bool shown_ = false, seen_ = false, printed_ = false;
    long last_ = 0;
    std::chrono::steady_clock::time_point lastLine_{};
};

} // namespace app
