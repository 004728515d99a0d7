// Recording a part. The recorder records frames A to B exactly as a recording of the whole range
// would when its start lies between A's tick and the next one: every sample of A then gets as many
// evaluations as the samples of later frames (only the very first frame of a recording is sampled
// once). With accumulateSelection the part's running largest weights start afresh at its first
// capture; the join carries the whole's across, and needs to know where a weight started afresh
// inside the part at an evaluation that wrote nothing. A watcher just below the modifier in the
// stack sees each evaluation's mesh and notes those places.
#include "scene/record_part.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "scene/cache_files.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/selection.h"
#include "runtime/builtin_modifiers.h"
#include "scene/scene_description.h"
#include "sel/files.h"
#include "sel/output.h"
#include "sel/reader.h"
#include "scene/tick_range.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace app {

namespace {
// A frame value whose ticks (as the recorder computes them) satisfy `fits`; NaN when none is found.
template <typename Fits>
float FrameValueFor(int64_t ticks, int tpf, std::initializer_list<double> nudges, Fits fits) {
    for (double d : nudges) {
        float value = static_cast<float>((double(ticks) + d) / tpf);
        if (fits(static_cast<float>(double(tpf) * value))) return value;
    }
    return NAN;
}

void SetFloat(Modifier* mod, const char* name, float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    SetParameterFromText(mod, name, text);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(sel::PathOf(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

// Passes the mesh through; notes the point count of every capture and, at captures that write
// nothing, the vertices whose weight is NaN.
class PartObserver : public vm::HostModifier {
  public:
    Class_ID ClassID() override { return Class_ID(0x5e1ec7, 0x70); }
    void ClassDisplayName(CStr& name) override { name = "PartObserver"; }
    void EvaluateMesh(TimeValue, ModContext&, ObjectState* holder, INode*) override {
        if (skip > 0) {
            --skip;
            return;
        }
        auto* tri = dynamic_cast<TriObject*>(holder ? holder->obj : nullptr);
        if (!tri || !part) return;
        int count = tri->PointCount();
        if (left == 0) left = written < samplesPerFrame && firstFrameOnce ? 1 : subCount;
        bool writes = --left == 0;
        if (part->firstCount < 0 && !started) {
            part->firstCount = count;
        } else if (count != lastCount) {
            allRestart = true;
        }
        started = true;
        lastCount = count;
        if (!writes && part->accumulate) NoteNaNs(tri->GetMesh(), count);
        if (!writes) return;
        if (allRestart) part->restarts.push_back({written, -1});
        for (int v : nanVertices)
            part->restarts.push_back({written, v});
        allRestart = false;
        nanVertices.clear();
        ++written;
    }

    sel::PartRecord* part = nullptr;
    int skip = 0; // evaluations before the recording starts (the recorder's pre-roll)
    int samplesPerFrame = 1, subCount = 1;
    bool firstFrameOnce = false; // the first frame's samples are evaluated once each

  private:
    void NoteNaNs(Mesh& mesh, int count) {
        if (!mesh.vDataSupport(0)) return;
        const float* ch = mesh.vertexFloat(0);
        int present = std::min(count, mesh.getNumVerts());
        for (int i = 0; i < present; ++i)
            if (std::isnan(EffectiveWeight(mesh.vertSel[i] != 0, ch, i))) nanVertices.push_back(i);
    }

    int left = 0, written = 0, lastCount = -1;
    bool started = false, allRestart = false;
    std::vector<int> nanVertices;
};

void ParseFrameRange(const std::string& text, int& first, int& last) {
    size_t colon = text.find(':');
    auto whole = [&](const std::string& s, int& v) {
        size_t used = 0;
        try {
            v = std::stoi(s, &used);
        } catch (...) {
            used = std::string::npos;
        }
        return !s.empty() && used == s.size();
    };
    if (colon == std::string::npos || !whole(text.substr(0, colon), first) ||
        !whole(text.substr(colon + 1), last))
        throw std::invalid_argument("--frames: \"" + text + "\" is not A:B (two whole frame numbers)");
    if (first > last)
        throw std::invalid_argument("--frames: " + text + " runs backwards; give the first frame first");
}

PartRecording::PartRecording(vm::Scene& scene, Modifier* mod, int first, int last,
                             const std::string& identity) {
    int tpf = scene.TicksPerFrame();
    float startTime = ParamAtZero(mod, "start_time", 0.0f), endTime = ParamAtZero(mod, "end_time", 0.0f);
    TickRange whole = RangeOf(startTime, endTime, tpf);
    if (!whole.forward || whole.frames < 1)
        throw std::invalid_argument("--frames: the modifier's range runs backwards (start_time " +
                                    std::to_string(startTime) + ", end_time " + std::to_string(endTime) +
                                    "); only a forward recording can be split into parts");
    part_.wholeFirst = static_cast<int32_t>(whole.f0 / tpf);
    part_.wholeLast = static_cast<int32_t>(part_.wholeFirst + whole.frames - 1);
    if (first < part_.wholeFirst || last > part_.wholeLast)
        throw std::invalid_argument("--frames: " + std::to_string(first) + ":" + std::to_string(last) +
                                    " lies outside the recording's frames " +
                                    std::to_string(part_.wholeFirst) + ":" + std::to_string(part_.wholeLast));
    part_.recording = identity;
    part_.firstFrame = first;
    part_.lastFrame = last;
    part_.ticksPerFrame = tpf;
    part_.samplesPerFrame = std::max(1, ParamAtZero(mod, "samples", 1));
    part_.accumulate = ParamAtZero(mod, "accumulateSelection", 0) != 0;
    part_.quality = std::max(1, ParamAtZero(mod, "quality", 1));
    int64_t fa = whole.f0 + int64_t(first - part_.wholeFirst) * tpf;
    int64_t fb = whole.f0 + int64_t(last - part_.wholeFirst) * tpf;
    // a later part starts between its first frame's tick and the next, so that its first frame is
    // sampled as fully as the whole recording samples it
    float partStart = startTime;
    if (first != part_.wholeFirst) {
        double side = fa >= 0 ? 1 : -1;
        partStart = FrameValueFor(fa, tpf, {0.5 * side, 0.25 * side, 0.75 * side}, [&](float t) {
            return static_cast<int64_t>(std::trunc(t)) == fa && double(t) != double(fa);
        });
    }
    float startTicks = static_cast<float>(double(tpf) * partStart);
    // the end lies inside the last frame's ticks and after the start (a range of one tick time would
    // grow by a frame)
    float partEnd = FrameValueFor(fb, tpf, {0.25, 0.5, 0.75, 0.5 * tpf},
                                  [&](float t) { return t >= fb && t < fb + tpf && t > startTicks; });
    TickRange own = RangeOf(partStart, partEnd, tpf);
    if (std::isnan(partStart) || std::isnan(partEnd) || own.f0 != fa || own.frames != last - first + 1)
        throw std::invalid_argument("--frames: frames " + std::to_string(first) + ":" + std::to_string(last) +
                                    " lie too far from frame 0 to be placed exactly in ticks");
    SetFloat(mod, "start_time", partStart);
    SetFloat(mod, "end_time", partEnd);

    Watch(scene, mod, double(fa) == double(startTicks), double(scene.CurrentTime()) == double(startTicks));
}

// The recorder evaluates the first node that uses the modifier: a watcher just below it in every stack
// it sits in sees what it is given, whichever node that is.
void PartRecording::Watch(vm::Scene& scene, Modifier* mod, bool firstFrameOnce, bool preRoll) {
    std::set<IDerivedObject*> seen;
    for (INode* n : scene.Nodes())
        for (IDerivedObject* d : vm::Scene::DerivedObjectsOf(n)) {
            if (!seen.insert(d).second) continue;
            for (int i = 0; i < d->ModifierCount(); ++i)
                if (d->ModifierAt(i) == mod) {
                    auto* watcher = new PartObserver(); // the stack owns it from here
                    watcher->part = &part_;
                    watcher->samplesPerFrame = part_.samplesPerFrame;
                    watcher->subCount = part_.accumulate ? part_.quality : 1;
                    watcher->firstFrameOnce = firstFrameOnce;
                    watcher->skip = preRoll ? 1 : 0;
                    d->AddModifier(watcher, i + 1);
                    break;
                }
        }
}

namespace {
// The record's checksums, which join checks: XXH3 of the part's bytes as staged, and of the record's
// own lines. "" or why the part could not be read.
std::string FillChecksums(const std::string& staged, sel::PartRecord& part) {
    sel::CacheReader in;
    if (sel::Status status = in.OpenBytes(staged); !status.ok) return status.message;
    const sel::Source& bytes = in.GetSource();
    XXH3_state_t state;
    XXH3_64bits_reset(&state);
    std::vector<char> piece(size_t(1) << 20);
    for (int64_t at = 0; at < bytes.Size();) {
        size_t n = bytes.ReadAt(at, piece.data(), piece.size());
        if (n == 0) return "cannot be read to its end";
        XXH3_64bits_update(&state, piece.data(), n);
        at += int64_t(n);
    }
    part.partChecksum = XXH3_64bits_digest(&state);
    std::string lines = sel::ChecksummedLines(part);
    part.linesChecksum = XXH3_64bits(lines.data(), lines.size());
    return "";
}
} // namespace

PartRecording::~PartRecording() {
    // what was not put in place goes with the staging; the old part and its record stay
    if (landed_) staging_.Settled();
}

void PartRecording::Check(Modifier* mod) {
    const char* cache = CacheFileOf(mod);
    name_ = cache ? cache : "";
    if (name_.empty())
        throw std::invalid_argument(
            "--frames: the modifier names no cache_file; give one with --set cache_file=PART.sel");
    recordName_ = sel::PartRecordPath(name_);
    for (const std::string& target : {name_, recordName_})
        if (std::string refused = RefusedTarget(target); !refused.empty()) throw std::runtime_error(refused);
}

void PartRecording::Stage(Modifier* mod) {
    Check(mod);
    lock_ = std::make_unique<RecordingLock>(name_);
    stagedPart_ = staging_.Beside(name_);
    stagedRecord_ = staging_.Beside(recordName_);
    SetParameterFromText(mod, kCacheFileParameter, stagedPart_);
}

void PartRecording::Unstage(Modifier* mod) { SetParameterFromText(mod, kCacheFileParameter, name_); }

bool PartRecording::Recorded() const { return sel::KindOf(stagedPart_) == sel::FileKind::Plain; }

bool PartRecording::PartStands() const { return sel::KindOf(name_) != sel::FileKind::Missing; }

std::string PartRecording::Land() {
    part_.fileBytes = std::max<int64_t>(0, sel::SizeOf(stagedPart_));
    // the record is bound to the part's bytes and to its own lines: join refuses either changed
    if (std::string why = FillChecksums(stagedPart_, part_); !why.empty()) return name_ + ": " + why;
    // the record's line names the record, not the name it waits under
    if (std::string why = sel::WriteWholeFile(stagedRecord_, sel::EncodePartRecord(part_)); !why.empty())
        return recordName_ + why.substr(std::min(why.size(), stagedRecord_.size()));
    if (std::string why = sel::ReplaceTogether({{stagedPart_, name_}, {stagedRecord_, recordName_}}); !why.empty())
        return why;
    landed_ = true;
    return "";
}

std::vector<std::string> RecordingInputs(const BuiltScene& built, Modifier* mod, const std::string& module) {
    std::vector<std::string> files = built.files;
    for (INode* node : built.scene->Nodes()) {
        std::vector<Modifier*> stack = vm::Scene::ModifiersOf(node);
        if (std::find(stack.begin(), stack.end(), mod) == stack.end()) continue;
        for (Modifier* other : stack) {
            if (other == mod || !ClassOf(other) || !other->IsEnabled()) continue;
            const char* cache = CacheFileOf(other);
            if (!cache || !*cache) continue;
            std::string found = FindCacheFile(cache);
            files.push_back(found.empty() ? cache : found);
        }
    }
    if (!module.empty()) files.push_back(module);
    return files;
}

std::unique_ptr<PartRecording> BeginPart(vm::Scene& scene, INode* node, Modifier* mod, const PartRequest& r) {
    int first = 0, last = 0;
    ParseFrameRange(r.frames, first, last);
    // the scene, the node, the modifier's place in its stack, and everything the command line
    // changed except where the part goes; then the bytes of every other file the recording reads
    std::vector<Modifier*> stack = vm::Scene::ModifiersOf(node);
    std::string place = std::to_string(std::find(stack.begin(), stack.end(), mod) - stack.begin());
    std::vector<std::string> identity{ReadWholeFile(r.scenePath), std::string(node->GetName()),
                                      place + " " + std::string(mod->name.str())};
    bool named = false;
    for (const std::string& set : r.sets) {
        if (set.rfind("cache_file=", 0) == 0)
            named = true;
        else
            identity.push_back(set);
    }
    if (!named) { // the scene's cache file with the frames in its name: shot.sel -> shot.frames-50-99.sel
        const char* cache = CacheFileOf(mod);
        if (!cache || !*cache)
            throw std::invalid_argument(
                "--frames: the modifier names no cache_file; give one with --set cache_file=PART.sel");
        // a device's name with the frames in it is no file to record into
        if (sel::KindOf(cache) == sel::FileKind::Other)
            throw std::runtime_error(std::string(cache) +
                                     ": the cache file is no plain file (a device or FIFO), and a part is "
                                     "recorded beside it: give the part's name with --set cache_file=PART.sel");
        std::filesystem::path path = sel::PathOf(cache);
        std::string ext = sel::Utf8Of(path.extension());
        path.replace_extension();
        std::string name =
            sel::Utf8Of(path) + ".frames-" + std::to_string(first) + "-" + std::to_string(last) + ext;
        SetParameterFromText(mod, kCacheFileParameter, name);
    }
    return std::make_unique<PartRecording>(scene, mod, first, last, Fingerprint(identity, r.inputs));
}

namespace {
// FNV-1a, fed piece by piece; each text or file ends with its length, so that no two lists of
// them feed the same bytes
struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void Add(const char* data, size_t n) {
        for (size_t i = 0; i < n; ++i)
            h = (h ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
    }
    void End(uint64_t length) {
        for (int i = 0; i < 8; ++i) {
            char byte = static_cast<char>(length >> (8 * i));
            Add(&byte, 1);
        }
    }
};
} // namespace

std::string Fingerprint(const std::vector<std::string>& texts, const std::vector<std::string>& files) {
    Fnv fnv;
    for (const std::string& t : texts) {
        fnv.Add(t.data(), t.size());
        fnv.End(t.size());
    }
    for (const std::string& file : files) {
        // a missing file, a folder or a device reads as no bytes, and a marker of its own
        uint64_t length = 0;
        std::ifstream in;
        if (sel::KindOf(file) == sel::FileKind::Plain) in.open(sel::PathOf(file), std::ios::binary);
        char buffer[1 << 16];
        while (in && (in.read(buffer, sizeof buffer) || in.gcount() > 0)) {
            fnv.Add(buffer, static_cast<size_t>(in.gcount()));
            length += static_cast<uint64_t>(in.gcount());
        }
        fnv.End(in.is_open() ? length : ~0ull);
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(fnv.h));
    return text;
}

} // namespace app
