// The progress of a recording, drawn from the times the host is asked to evaluate, through the
// display both commands share (console/progress.h): a bar on a terminal redrawn at most ten times a
// second, otherwise plain lines `recording frame N of M`, the first, the last and at most two a
// second between them.
#pragma once
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

#include <unistd.h>

#include "console/progress.h"
#include "host_queries.h"
#include "runtime/scene.h"

namespace app {

class Progress {
  public:
    // For `recorder` about to record in `scene`. A recording that starts at the current time first
    // evaluates one frame after the start without recording anything: that is no progress.
    Progress(vm::Scene& scene, Animatable* recorder)
        : tpf_(scene.TicksPerFrame()), start_(ParamAtZero(recorder, "start_time", 0.0f)),
          end_(ParamAtZero(recorder, "end_time", 0.0f)),
          preRoll_(double(scene.CurrentTime()) == double(float(double(tpf_) * start_))),
          total_(static_cast<long>(std::fabs(double(end_) - start_)) + 1),
          shown_(std::cerr, "recording ", isatty(STDERR_FILENO) == 1, {0, true}) {}
    // Takes the bar away, so that what is printed next starts a line of its own.
    void Finish() { shown_.Erase(); }
    // How often the host evaluated the scene meanwhile: a recording evaluates every frame it records.
    long Evaluations() const { return evaluations_; }
    void Evaluated(TimeValue t) {
        ++evaluations_;
        if (preRoll_) {
            preRoll_ = false;
            return;
        }
        long frame = t / tpf_;
        if (seen_ && frame == last_) return;
        seen_ = true;
        last_ = frame;
        long n = std::min(total_, static_cast<long>(std::fabs(double(frame) - start_)) + 1);
        shown_.Show(n, total_, [&] { return "frame " + std::to_string(n) + " of " + std::to_string(total_); });
    }

  private:
    int tpf_;
    float start_, end_;
    bool preRoll_;
    long total_;
    console::Progress shown_;
    bool seen_ = false;
    long last_ = 0, evaluations_ = 0;
};

} // namespace app
