// The progress of a recording, drawn from the times the host is asked to evaluate: a bar on a
// terminal, about twenty plain lines otherwise (logs).
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdlib>
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
          preRoll_(double(scene.CurrentTime()) == double(float(double(tpf_) * start_))) {}
    ~Progress() {
        if (tty_ && shown_) std::cerr << "\n";
    }
    void Evaluated(TimeValue t) {
        if (preRoll_) {
            preRoll_ = false;
            return;
        }
        long frame = t / tpf_;
        if (shown_ && frame == last_) return;
        last_ = frame;
        shown_ = true;
        double span = std::fabs(double(end_) - start_);
        double done = span > 0 ? std::fabs(double(frame) - start_) / span : 1.0;
        if (done > 1) done = 1;
        if (tty_) {
            int width = 30, fill = static_cast<int>(done * width);
            std::cerr << "\rrecording [" << std::string(static_cast<size_t>(fill), '#')
                      << std::string(static_cast<size_t>(width - fill), ' ') << "] frame " << frame
                      << std::flush;
        } else if (std::labs(frame - static_cast<long>(start_)) %
                       std::max(1L, static_cast<long>(span / 20)) ==
                   0) {
            // plain lines go to logs: about twenty of them for any range
            std::cerr << "recording frame " << frame << "\n";
        }
    }

  private:
    int tpf_;
    float start_, end_;
    bool tty_;
    bool preRoll_;
    bool shown_ = false;
    long last_ = 0;
};

} // namespace app
