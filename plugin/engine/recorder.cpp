// The recorder: walks the frame range sample by sample, has the host evaluate the node at each
// sample time (the capture writes the records), and frames the file with header and count table.
#include <cmath>
#include <filesystem>

#include "sel/files.h"
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

// The run writes a new file beside the target and puts it in place at the end, so that a crash
// mid-way leaves the old cache whole and the new samples in a file of their own (a repair mends it).
// `temp` gets that file's name; it stays empty for a target that is no plain file (a device), which
// is written directly since nothing there can be lost. nullptr when the target cannot be written.
FILE* OpenForRecording(std::string& target, std::string& temp) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // a link keeps pointing where it did: the file it leads to is the one replaced, or made when
    // missing, as writing through the link would (a chain of links followed as the system does)
    fs::path path = sel::PathOf(target);
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        fs::path to = fs::read_symlink(path, ec);
        if (ec) break;
        path = to.is_absolute() ? to : path.parent_path() / to;
        target = sel::Utf8Of(path);
    }
    sel::FileKind kind = sel::KindOf(target);
    if (kind == sel::FileKind::Folder) return nullptr;
    if (kind == sel::FileKind::Other) return sel::OpenFile(target, "wb");
    if (kind == sel::FileKind::Plain) {
        // a read-only cache stays refused, as opening it for writing refuses it
        FILE* probe = sel::OpenFile(target, "r+b");
        if (!probe) return nullptr;
        std::fclose(probe);
    }
    std::string error;
    FILE* f = sel::CreateBeside(target, temp, error);
    // the file that takes the old one's place keeps its permissions, as a rewrite in place did
    if (f && kind == sel::FileKind::Plain)
        fs::permissions(sel::PathOf(temp), fs::status(sel::PathOf(target), ec).permissions(), ec);
    return f;
}

// Where a file another program holds open cannot be replaced (Windows), the recording stays in the
// temporary file and the message says where.
void ShowNotReplaced(const std::string& target, const std::string& why, const std::string& temp) {
    CStr text;
    text.printf(LookupString(357), target.c_str(), why.c_str(), temp.c_str());
    MessageBoxA(GetCOREInterface()->MainWindowHandle(), text, nullptr, MB_ICONERROR);
}

// Step 14's close: the bytes reach the disk before the new file takes the target's name; a run whose
// writes failed leaves the old file as it was.
void FinishFile(FILE* f, const std::string& target, const std::string& temp, int& writeFailed) {
    bool flushed = temp.empty() ? std::fflush(f) == 0 : sel::FlushToDisk(f);
    if (std::fclose(f) != 0 || !flushed) writeFailed = 1;
    if (temp.empty()) return;
    if (writeFailed) {
        sel::RemoveFile(temp);
        return;
    }
    std::string why = sel::ReplaceWith(temp, target);
    if (!why.empty()) ShowNotReplaced(target, why, temp);
}

// Step 3: the range in ticks; fewer than one sample per frame would divide by zero, so it counts as one.
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

// Step 8: frame times from trunc(startTicks) towards endTicks, both ends included.
int32_t FrameCount(const RecordRun& run) {
    double f0 = std::trunc(run.startTicks), tpf = run.ticksPerFrame;
    if (run.forward)
        return f0 <= run.endTicks ? static_cast<int32_t>(std::floor((run.endTicks - f0) / tpf)) + 1 : 0;
    return f0 >= run.endTicks ? static_cast<int32_t>(std::floor((f0 - run.endTicks) / tpf)) + 1 : 0;
}
} // namespace

// Steps 10 and 11; answers whether Escape stopped the run.
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
            recordTime = static_cast<int>(S);
            if (run.node) {
                // the start frame is sampled once; later frames spread subCount evaluations over the
                // step that ends at the sample (forward) or comes down to it (backward)
                int n = double(F) == double(run.startTicks) ? 1 : run.subCount;
                double Sf = static_cast<float>(S), stepf = static_cast<float>(run.step);
                for (int i = 0; i < n; ++i) {
                    writeNow = i == n - 1 ? 1 : 0;
                    double q = double(i + 1) / n;
                    double T = run.forward ? (Sf + stepf * q) - stepf : (Sf - stepf * q) + stepf;
                    recordTime = static_cast<int>(std::trunc(T));
                    core->EvaluateNode(run.node, recordTime, 1);
                }
            }
            S += dir * run.step;
        }
        // each whole frame reaches the file, so that a crash keeps every frame before it
        if (cacheFile && std::fflush(cacheFile) != 0) writeFailed = 1;
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
    // 1. target
    const char* name = CacheFileName();
    if (!name) {
        ChooseRecordFile(panelWindow);
        name = CacheFileName();
        if (!name) return;
    }
    CStr path(name);
    // 2. close
    if (cacheFile) std::fclose(cacheFile);
    cacheFile = nullptr;
    // 3. range
    RecordRun run = ReadRange(pblock);
    // 4. node
    NodeCollector collector;
    EnumDependents(&collector);
    run.node = collector.nodes.Count() > 0 ? collector.nodes[0] : nullptr;
    // 5. pre-roll, with playback suppressed
    Interface* core = GetCOREInterface();
    if (double(core->CurrentTime()) == double(run.startTicks) && run.node) {
        suppressPlayback = 1;
        core->EvaluateNode(run.node,
                           static_cast<TimeValue>(std::trunc(double(run.ticksPerFrame) + run.startTicks)), 1);
        suppressPlayback = 0;
    }
    // 6. open
    std::string target = path.data(), temp;
    cacheFile = OpenForRecording(target, temp);
    if (!cacheFile) {
        ShowWriteError();
        collector.nodes.Free();
        return;
    }
    writeFailed = 0;
    // 7.-8. header
    int32_t announced = FrameCount(run) * run.samples;
    int32_t header[3] = {formatTag, run.samples, announced};
    if (std::fwrite(header, sizeof header, 1, cacheFile) != 1) writeFailed = 1;
    sampleTotal = announced;
    // 9. prepare
    recording = 1;
    int accumulate = 0;
    pblock->GetParamValue(pb_quality, 0, run.subCount, valid);
    pblock->GetParamValue(pb_accumulate, 0, accumulate, valid);
    if (!accumulate) run.subCount = 1;
    if (countTable.HasStorage()) countTable.SetCount(0);
    // 10.-11. frames
    bool aborted = RecordFrames(run, panelWindow);
    // 12. count table
    int written = countTable.Count();
    if (written > 0 && std::fwrite(countTable.Addr(0), sizeof(int32_t), static_cast<size_t>(written),
                                   cacheFile) != size_t(written))
        writeFailed = 1;
    // 13. word 2 must match the table: after Escape, and whenever a sample was never captured
    if (aborted || written != announced)
        if (std::fseek(cacheFile, 8, SEEK_SET) != 0 ||
            std::fwrite(&written, sizeof written, 1, cacheFile) != 1)
            writeFailed = 1;
    if (!aborted) AdoptRecordedPath(path, panelWindow);
    // 14. finish
    ShowProgress(panelWindow, " ");
    FinishFile(cacheFile, target, temp, writeFailed);
    statusCode = status_none;
    cacheFile = nullptr;
    recording = 0;
    writeNow = 0;
    if (accumulated.HasStorage()) accumulated.SetCount(0);
    collector.nodes.Free();
    // a full disk or a vanished folder must not pass for a finished recording
    if (writeFailed) ShowWriteError();
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
