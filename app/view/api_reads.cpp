// The API's reading calls: the scene, the mesh, an evaluation, the state with its notes, the
// dialog waiting, the events and the macro script.
#include <cmath>
#include <limits>

#include "api.h"
#include "api_fields.h"
#include "scene/host_queries.h"
#include "pictures/ramp.h"
#include "runtime/host_record.h"
#include "scene/scene_description.h"
#include "view_state.h"

namespace app::view {
namespace {
// The pictures' weight colours, so that the page shows a weight as the PNGs do.
nlohmann::json WeightRamp() {
    nlohmann::json stops = nlohmann::json::array();
    for (const pictures::Colour& c : pictures::kWeightStops)
        stops.push_back({c.r, c.g, c.b});
    return stops;
}

Mesh& Evaluated(const Target& t, TimeValue tick) { return EvaluatedMesh(*t.scene, t.node, tick); }
} // namespace

Response Api::Scene() {
    return host_.Call([this] {
        vm::Scene& s = *target_.scene;
        ::Mesh& mesh = Evaluated(target_, s.CurrentTime());
        nlohmann::json nodes = nlohmann::json::array();
        for (INode* n : s.Nodes())
            nodes.push_back(n->GetName());
        Interval range = s.AnimationRange();
        return Json({{"ticksPerFrame", s.TicksPerFrame()},
                     {"animationRange", {range.Start(), range.End()}},
                     {"currentTick", s.CurrentTime()},
                     {"node", target_.node->GetName()},
                     {"nodes", nodes},
                     {"vertices", mesh.getNumVerts()},
                     {"faces", mesh.getNumFaces()},
                     {"modifier", target_.modifier ? nlohmann::json(ModifierName(target_.modifier))
                                                   : nlohmann::json(nullptr)},
                     {"weightRamp", WeightRamp()}});
    });
}

Response Api::Mesh() {
    return host_.Call([this] {
        return Response{200, "application/octet-stream",
                        EncodeMesh(Evaluated(target_, target_.scene->CurrentTime()))};
    });
}

Response Api::Eval(const Request& r) {
    auto tick = static_cast<TimeValue>(WholeNumber(Lookup(r.query, "tick"), "tick",
                                                   std::numeric_limits<TimeValue>::min() + 1,
                                                   std::numeric_limits<TimeValue>::max()));
    return host_.Call([this, tick] {
        target_.scene->SetCurrentTime(tick);
        Response r{200, "application/octet-stream", EncodeWeights(Evaluated(target_, tick), tick)};
        PostStatusIfChanged();
        return r;
    });
}

Response Api::State() {
    return host_.Call([this] {
        nlohmann::json macro = nlohmann::json::array();
        for (const auto& m : vm::Record().macroLines)
            macro.push_back(m.line);
        // "seq": every event up to it is already in this state, so the page lets no older one
        // (a late progress event, say) overwrite what it shows
        statusSent_ = StatusText();
        return Json({{"panel", target_.panel ? PanelJson(*target_.panel) : nlohmann::json(nullptr)},
                     {"stack", StackJson(target_.node, target_.modifier)},
                     {"macro", macro},
                     {"notes", Notes()},
                     {"currentTick", target_.scene->CurrentTime()},
                     {"seq", events_.Last()}});
    });
}

nlohmann::json Api::Notes() {
    nlohmann::json notes = nlohmann::json::array();
    if (!stoppedLine_.empty()) notes.push_back(stoppedLine_);
    for (Modifier* m : StackOf(target_.node)) {
        const char* file = m->IsEnabled() ? CacheFileOf(m) : nullptr;
        if (!file || !*file) continue;
        std::string note = cacheNotes_.For(file);
        if (!note.empty()) notes.push_back(ModifierName(m) + ": cache " + note);
    }
    return notes;
}

Response Api::Dialog() {
    return Json({{"dialog", interaction_.Pending()}, {"busy", host_.Busy()}, {"last", events_.Last()}});
}

Response Api::Events(const Request& r) {
    std::string after = Lookup(r.query, "after"), wait = Lookup(r.query, "wait");
    int64_t a = after.empty() ? 0 : WholeNumber(after, "after", 0, std::numeric_limits<int64_t>::max());
    int64_t w = wait.empty() ? 0 : WholeNumber(wait, "wait", 0, 600000);
    auto ms = std::min(std::chrono::milliseconds(w), maxWait_);
    return Json({{"events", events_.After(a, ms)}, {"busy", host_.Busy()}});
}

Response Api::Script() {
    return host_.Call([this] {
        std::string text = "# made by vomark view; replay with: vomark run SCENE THIS_FILE\n";
        text += std::string("select ") + target_.node->GetName() + "\n";
        for (const auto& m : vm::Record().macroLines)
            text += m.line + "\n";
        return Response{200, "text/plain; charset=utf-8", text};
    });
}

} // namespace app::view
