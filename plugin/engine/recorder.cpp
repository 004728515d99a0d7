// The recorder: walks the frame range sample by sample, has the host evaluate the node at each
// sample time (the capture writes the records), and frames the file with header and count table.
#include <cmath>
#include "plugin/engine/recorder.h"
#include "plugin/tessarin.h"

// One run's values; none outlives the run.
struct RecordRun {
    float startTicks = 0, endTicks = 0;
    int samples = 1, ticksPerFrame = 1, step = 1, subCount = 1;
    bool forward = true;
    INode* node = nullptr;
};

namespace {
void ShowProgress(HWND window, const char* text) { SetWindowTextA(GetDlgItem(window, 1006), text); }

void ShowWriteError() {
    CStr text;
    text.printf("%s", LookupString(350));
    MessageBoxA(GetCOREInterface()->MainWindowHandle(), text, nullptr, MB_ICONERROR);
}

// A recording that could not be finished: the line names the file and the system's reason.
void ShowNotWritten(const std::string& why) {
    CStr text;
    text.printf(LookupString(357), why.c_str());
    MessageBoxA(GetCOREInterface()->MainWindowHandle(), text, nullptr, MB_ICONERROR);
}

// The range in ticks; fewer than one sample per frame would divide by zero, so it counts as one.
RecordRun ReadRange(IParamBlock2* pblock) {
    RecordRun run;
    Interval valid = FOREVER();
    float startTime = 0, endTime = 0;
    pblock->GetParamValue(pb_start_time, 0, startTime, valid);
    pblock->GetParamValue(pb_end_time, 0, endTime, valid);
    pblock->GetParamValue(pb_samples, 0, run.samples, valid);
    if (run.samples < 1) run.samples = 1;
    run.ticksPerFrame = GetTicksPerFrame();
    run.step = run.ticksPerFrame / run.samples;
    run.startTicks = static_cast<float>(double(run.ticksPerFrame) * startTime);
    run.endTicks = static_cast<float>(double(run.ticksPerFrame) * endTime);
    // a range of one frame covers that frame and the next
    if (run.startTicks == run.endTicks)
        run.endTicks = static_cast<float>(double(run.endTicks) + run.ticksPerFrame);
    run.forward = run.endTicks > run.startTicks;
    return run;
}

// Frame times from trunc(startTicks) towards endTicks, both ends included.
int32_t FrameCount(const RecordRun& run) {
    double f0 = std::trunc(run.startTicks), tpf = run.ticksPerFrame;
    if (run.forward)
        return f0 <= run.endTicks ? static_cast<int32_t>(std::floor((run.endTicks - f0) / tpf)) + 1 : 0;
    return f0 >= run.endTicks ? static_cast<int32_t>(std::floor((f0 - run.endTicks) / tpf)) + 1 : 0;
}
} // namespace

// Every sample of every frame, each asked of the host; answers whether Escape stopped the run.
bool Tessarin::RecordFrames(const RecordRun& run, HWND panelWindow) {
    Interface* core = GetCOREInterface();
    int dir = run.forward ? 1 : -1;
    int64_t F = static_cast<int64_t>(std::trunc(run.startTicks));
    auto inRange = [&](int64_t f) { return run.forward ? f <= run.endTicks : f >= run.endTicks; };
    CStr progress;
    bool aborted = false;
    while (inRange(F)) {
        int64_t S = F;
        for (int j = 0; j < run.samples; ++j) {
            recorder.Request(static_cast<TimeValue>(S), false);
            if (run.node) {
                // the start frame is sampled once; later frames spread subCount evaluations over the
                // step that ends at the sample (forward) or comes down to it (backward)
                int n = double(F) == double(run.startTicks) ? 1 : run.subCount;
                double Sf = static_cast<float>(S), stepf = static_cast<float>(run.step);
                for (int i = 0; i < n; ++i) {
                    double q = double(i + 1) / n;
                    double T = run.forward ? (Sf + stepf * q) - stepf : (Sf - stepf * q) + stepf;
                    TimeValue at = static_cast<TimeValue>(std::trunc(T));
                    recorder.Request(at, i == n - 1);
                    core->EvaluateNode(run.node, at, 1);
                }
            }
            S += dir * run.step;
        }
        recorder.EndFrame();
        progress.printf("Frame %d of %d", static_cast<int>(F / run.ticksPerFrame),
                        static_cast<int>(static_cast<int64_t>(std::trunc(run.endTicks)) / run.ticksPerFrame));
        ShowProgress(panelWindow, progress);
        // only "down now and pressed since the last query" stops
        if (static_cast<unsigned short>(GetAsyncKeyState(VK_ESCAPE)) == 0x8001) {
            aborted = true;
            F = static_cast<int64_t>(std::trunc(double(run.endTicks) + dir));
        }
        F += dir * int64_t(run.ticksPerFrame);
    }
    return aborted;
}

void Tessarin::Record(HWND panelWindow) {
    Interval valid = FOREVER();
    const char* name = CacheFileName();
    if (!name) {
        ChooseRecordFile(panelWindow);
        name = CacheFileName();
        if (!name) return;
    }
    CStr path(name);
    player.Close();
    RecordRun run = ReadRange(pblock);
    NodeCollector collector;
    EnumDependents(&collector);
    run.node = collector.nodes.Count() > 0 ? collector.nodes[0] : nullptr;
    // pre-roll from the frame after the start, with playback suppressed, so that the start frame's
    // evaluation is a change of time for whatever depends on it
    Interface* core = GetCOREInterface();
    if (double(core->CurrentTime()) == double(run.startTicks) && run.node) {
        suppressPlayback = 1;
        core->EvaluateNode(run.node,
                           static_cast<TimeValue>(std::trunc(double(run.ticksPerFrame) + run.startTicks)), 1);
        suppressPlayback = 0;
    }
    // the header announces every sample of the range; fewer written (Escape) are set right at the end
    if (!recorder.Open(path.data(), run.samples, FrameCount(run) * run.samples).empty()) {
        ShowWriteError();
        collector.nodes.Free();
        return;
    }
    int accumulate = 0;
    pblock->GetParamValue(pb_quality, 0, run.subCount, valid);
    pblock->GetParamValue(pb_accumulate, 0, accumulate, valid);
    if (!accumulate) run.subCount = 1;
    bool aborted = RecordFrames(run, panelWindow);
    if (!aborted) AdoptRecordedPath(path, panelWindow);
    ShowProgress(panelWindow, " ");
    std::string failure = recorder.Finish();
    statusCode = status_none;
    collector.nodes.Free();
    // a full disk or a vanished folder must not pass for a finished recording
    if (!failure.empty()) ShowNotWritten(failure);
}

// cache_file was cleared while the run went on: it names the file just written again.
void Tessarin::AdoptRecordedPath(const CStr& path, HWND panelWindow) {
    if (CacheFileName()) return;
    pblock->SetParamValue(pb_cache_file, 0, path.data());
    CStr directory, file;
    SplitPathFile(path, &directory, &file);
    if (ICustButton* button = GetICustButton(GetDlgItem(panelWindow, 1002))) {
        button->SetCaption(file);
        ReleaseICustButton(button);
    }
}

std::string Recorder::Open(const std::string& target, int samplesPerFrame, int announced) {
    std::string error = cacheFile.Open(target, samplesPerFrame, announced);
    if (!error.empty()) {
        cacheFile.Discard();
        return error;
    }
    if (countTable.HasStorage()) countTable.SetCount(0);
    recording = 1;
    return "";
}

void Recorder::Request(TimeValue t, bool last) {
    recordTime = t;
    writeNow = last ? 1 : 0;
}

void Recorder::EndFrame() { cacheFile.Flush(); }

std::string Recorder::Finish() {
    std::string failure = cacheFile.Finish();
    recording = 0;
    writeNow = 0;
    if (accumulated.HasStorage()) accumulated.SetCount(0);
    return failure;
}
