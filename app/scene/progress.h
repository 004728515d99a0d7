// The progress of a recording, drawn from the times the host is asked to evaluate, through the
// display both commands share (console/progress.h): a bar on a terminal redrawn at most ten times a
// second, otherwise plain lines `recording frame N of M`, the first, the last and at most two a
// second between them.
#pragma once
#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>

#include <unistd.h>

#include "console/progress.h"
#include "runtime/function_publishing.h"
#include "runtime/scene.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/tick_range.h"

namespace app {

class Progress {
  public:
    // For `recorder` about to record in `scene`. A recording that starts at the current time first
    // evaluates one frame after the start without recording anything: that is no progress.
    Progress(vm::Scene& scene, Animatable* recorder)
        : tpf_(scene.TicksPerFrame()),
          step_(tpf_ / std::max(1, ParamAtZero(recorder, "samples", 1))),
          range_(RangeOf(ParamAtZero(recorder, "start_time", 0.0f), ParamAtZero(recorder, "end_time", 0.0f), tpf_)),
          preRoll_(double(scene.CurrentTime()) == double(range_.startTicks)),
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
        // counted in the frames the recorder records, which need not start on a whole frame
        int64_t k = FrameIndexOf(range_, t, tpf_, step_);
        if (seen_ && k == last_) return;
        seen_ = true;
        last_ = k;
        int64_t n = k + 1, total = range_.frames;
        shown_.Show(n, total, [&] { return "frame " + std::to_string(n) + " of " + std::to_string(total); });
    }

  private:
    int tpf_, step_;
    TickRange range_;
    bool preRoll_;
    console::Progress shown_;
    bool seen_ = false;
    int64_t last_ = 0;
    long evaluations_ = 0;
};

// What came of a recording through the modifier's published function "record", as a script calls
// it, with its progress shown: what `vomark record`, the demo and scripts report on.
struct RecordCall {
    vm::ScriptCallResult result; // found false: the modifier publishes no "record"
    std::string shownError;      // what a message box said meanwhile; "" when none did
    int escapesBefore = 0;       // Escape presses counted before it (SayIfRecordingStopped)
    bool stopped = false;        // Escape (Ctrl-C) ended it early
    long evaluations = 0;        // a recording evaluates every frame it records
    double seconds = 0;
};
inline RecordCall CallRecord(vm::Scene& scene, Modifier* mod) {
    RecordCall call;
    Progress progress(scene, mod);
    scene.onEvaluate = [&](INode*, TimeValue t) { progress.Evaluated(t); };
    size_t boxes = vm::Record().messageBoxes.size();
    call.escapesBefore = vm::Record().escapePresses;
    auto started = std::chrono::steady_clock::now();
    call.result = vm::CallScriptFunction(mod, ClassOf(mod), "record");
    call.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    scene.onEvaluate = nullptr;
    progress.Finish(); // what follows starts a line of its own
    call.shownError = ErrorShownSince(boxes);
    call.stopped = vm::Record().escapePresses > call.escapesBefore;
    call.evaluations = progress.Evaluations();
    return call;
}

} // namespace app
