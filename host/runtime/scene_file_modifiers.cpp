// Modifier chunks of the scene file: class id, flag word, name, parameter blocks with their values
// and keys, the built-in modifiers' own data, and each plug-in modifier's own chunks.
#include <cfloat>
#include <cmath>
#include <memory>
#include <set>

#include "runtime/builtin_modifiers.h"
#include "runtime/plugin_loader.h"
#include "runtime/scene_file.h"

namespace vm {

// Reads and writes parameter values as they are stored, keys included.
struct ParamBlockFile {
    static void Save(ISave& w, IParamBlock2& block) {
        PutChunkI32(w, chunk_block_id, block.ID());
        for (int i = 0; i < block.desc_->Count(); ++i) {
            const ParamDef& def = block.desc_->ParamAt(i);
            const IParamBlock2::Value& v = block.values_[static_cast<size_t>(i)];
            w.BeginChunk(chunk_param);
            PutI32(w, def.id);
            PutI32(w, def.type);
            PutF64(w, v.number);
            PutU8(w, v.hasString ? 1 : 0);
            PutStr(w, v.text);
            PutU32(w, static_cast<uint32_t>(v.keys.size()));
            for (const auto& [t, value] : v.keys) {
                PutI32(w, t);
                PutF64(w, value);
            }
            w.EndChunk();
        }
    }

    // Parameters the block's description lacks, or whose type changed, are passed over.
    static void Load(SceneInput& in, Animatable* owner) {
        IParamBlock2* block = nullptr;
        while (in.Open()) {
            if (in.Id() == chunk_block_id) {
                int32_t id = in.I32();
                in.Done();
                for (int b = 0; b < owner->ParamBlockCount() && !block; ++b)
                    if (IParamBlock2* pb = owner->ParamBlockAt(b); pb && pb->ID() == id) block = pb;
            } else if (in.Id() == chunk_param && block) {
                LoadParam(in, *block);
            }
            in.Close();
        }
    }

  private:
    static void PutChunkI32(ISave& w, USHORT id, int32_t v) {
        w.BeginChunk(id);
        PutI32(w, v);
        w.EndChunk();
    }

    // A number the parameter's type can hold; values outside its range are clamped as a write would.
    static double Number(SceneInput& in, const ParamDef& def, double v) {
        if (!std::isfinite(v)) in.Fail("parameter value is not a finite number");
        if (def.type == TYPE_FLOAT) {
            if (std::fabs(v) > FLT_MAX) in.Fail("parameter value does not fit a float");
        } else if (v != std::trunc(v) || v < INT32_MIN || v > INT32_MAX) {
            in.Fail("parameter value is not a whole number");
        }
        if (def.type == TYPE_BOOL) v = v != 0.0 ? 1.0 : 0.0;
        if (def.hasRange) v = std::fmin(std::fmax(v, def.rangeLow), def.rangeHigh);
        return def.type == TYPE_FLOAT ? static_cast<float>(v) : v;
    }

    static void LoadParam(SceneInput& in, IParamBlock2& block) {
        ParamID id = static_cast<ParamID>(in.I32());
        int type = in.I32();
        double number = in.F64();
        bool hasString = in.U8() != 0;
        std::string text = in.Str();
        uint32_t n = in.Count(12, "key");
        std::vector<std::pair<TimeValue, double>> keys;
        keys.reserve(n);
        for (uint32_t k = 0; k < n; ++k) {
            TimeValue t = in.I32();
            if (!keys.empty() && t <= keys.back().first) in.Fail("parameter keys are not in time order");
            keys.push_back({t, in.F64()});
        }
        in.Done();
        const ParamDef* def = nullptr;
        IParamBlock2::Value* v = block.Find(id, &def);
        if (!v || def->type != type) return;
        if (type == TYPE_STRING) {
            v->hasString = hasString;
            v->text = hasString ? text : "";
            return;
        }
        v->number = Number(in, *def, number);
        for (auto& key : keys)
            key.second = Number(in, *def, key.second);
        v->keys = std::move(keys);
    }
};

namespace {
constexpr ULONG kBuiltinA = 0x5e1ec7;

void SaveBuiltin(ChunkWriter& w, Modifier* mod) {
    if (auto* sk = dynamic_cast<SelectKeys*>(mod)) {
        w.BeginChunk(chunk_select_keys);
        PutU32(w, static_cast<uint32_t>(sk->Keys().size()));
        for (const auto& k : sk->Keys()) {
            PutI32(w, k.t);
            PutU32(w, static_cast<uint32_t>(k.selected.size()));
            for (int v : k.selected)
                PutI32(w, v);
            PutU8(w, k.weights ? 1 : 0);
            if (k.weights) {
                PutU32(w, static_cast<uint32_t>(k.weights->size()));
                for (float f : *k.weights)
                    PutF32(w, f);
            }
        }
        w.EndChunk();
    } else if (auto* ss = dynamic_cast<SoftSelect*>(mod)) {
        w.BeginChunk(chunk_soft_select);
        PutF32(w, ss->Radius());
        PutF32(w, ss->Falloff());
        PutU32(w, static_cast<uint32_t>(ss->Centers().size()));
        for (const auto& k : ss->Centers()) {
            PutI32(w, k.t);
            PutF32(w, k.at.x);
            PutF32(w, k.at.y);
            PutF32(w, k.at.z);
        }
        w.EndChunk();
    } else if (auto* tr = dynamic_cast<Trim*>(mod)) {
        w.BeginChunk(chunk_trim);
        PutU32(w, static_cast<uint32_t>(tr->Keys().size()));
        for (const auto& k : tr->Keys()) {
            PutI32(w, k.t);
            PutI32(w, k.count);
        }
        w.EndChunk();
    }
}

Modifier* LoadSelectKeys(SceneInput& in) {
    std::vector<SelectKeys::Key> keys(in.Count(9, "selection key"));
    for (auto& k : keys) {
        k.t = in.I32();
        k.selected.resize(in.Count(4, "selected vertex"));
        for (int& v : k.selected)
            v = in.I32();
        if (in.U8()) {
            k.weights.emplace(in.Count(4, "weight"));
            for (float& f : *k.weights)
                f = in.F32();
        }
    }
    in.Done();
    return new SelectKeys(std::move(keys));
}

Modifier* LoadSoftSelect(SceneInput& in) {
    float radius = in.F32(), falloff = in.F32();
    std::vector<SoftSelect::Key> centers(in.Count(16, "center key"));
    for (auto& k : centers) {
        k.t = in.I32();
        k.at = {in.F32(), in.F32(), in.F32()};
    }
    in.Done();
    return new SoftSelect(std::move(centers), radius, falloff);
}

Modifier* LoadTrim(SceneInput& in) {
    std::vector<Trim::Key> keys(in.Count(8, "count key"));
    for (auto& k : keys) {
        k.t = in.I32();
        k.count = in.I32();
    }
    in.Done();
    return new Trim(std::move(keys));
}

// The built-in class's data chunk, or 0 for a class that is not built in.
USHORT BuiltinChunk(Class_ID id) {
    if (id.PartA() != kBuiltinA) return 0;
    switch (id.PartB()) {
    case 1: return chunk_select_keys;
    case 2: return chunk_soft_select;
    case 3: return chunk_trim;
    default: return 0;
    }
}

Modifier* LoadBuiltinData(SceneInput& in) {
    switch (in.Id()) {
    case chunk_select_keys: return LoadSelectKeys(in);
    case chunk_soft_select: return LoadSoftSelect(in);
    default: return LoadTrim(in);
    }
}

struct ModifierDeleter {
    void operator()(Modifier* m) const { m->DeleteThis(); }
};
using ModifierPtr = std::unique_ptr<Modifier, ModifierDeleter>;

// Calls the plug-in's Load on its data chunk (open in `in`), or on nothing when it has none.
void LoadPluginData(SceneInput& in, Modifier* mod, bool empty) {
    FencedReader fenced(in.Reader(), empty);
    mod->Load(&fenced);
}

ModifierPtr CreatePluginModifier(SceneInput& in, ClassDesc2* cd) {
    Animatable* a = cd->CreateInstance(TRUE);
    auto* mod = dynamic_cast<Modifier*>(a);
    if (!mod) {
        if (a) a->DeleteThis();
        in.Fail(std::string("class \"") + (cd->ClassName() ? cd->ClassName() : "") +
                    "\" did not make a modifier",
                in.ChunkStart());
    }
    return ModifierPtr(mod);
}
} // namespace

void SaveModifier(ChunkWriter& w, Modifier* mod) {
    w.BeginChunk(chunk_modifier);
    w.BeginChunk(chunk_class);
    PutU32(w, mod->SuperClassCode());
    PutU32(w, mod->ClassID().PartA());
    PutU32(w, mod->ClassID().PartB());
    w.EndChunk();
    w.BeginChunk(chunk_flags);
    PutU32(w, mod->FlagWord());
    w.EndChunk();
    w.BeginChunk(chunk_name);
    PutStr(w, mod->name.str());
    w.EndChunk();
    if (auto* unknown = dynamic_cast<UnknownModifier*>(mod)) {
        w.Write(unknown->Chunks().data(), static_cast<ULONG>(unknown->Chunks().size()), nullptr);
    } else if (BuiltinChunk(mod->ClassID())) {
        SaveBuiltin(w, mod);
    } else {
        for (int b = 0; b < mod->ParamBlockCount(); ++b)
            if (IParamBlock2* pb = mod->ParamBlockAt(b)) {
                w.BeginChunk(chunk_param_block);
                ParamBlockFile::Save(w, *pb);
                w.EndChunk();
            }
        w.BeginChunk(chunk_plugin_data);
        {
            FencedWriter fenced(w);
            mod->Save(&fenced);
        }
        w.EndChunk();
    }
    w.EndChunk();
}

Modifier* LoadModifier(SceneInput& in, const std::function<void(Class_ID)>& warn) {
    // 1. the class comes first: it decides what the other chunks mean
    if (!in.Open() || in.Id() != chunk_class) in.Fail("a modifier must start with its class chunk");
    SClass_ID sclass = in.U32();
    ULONG a = in.U32(), b = in.U32();
    in.Done();
    in.Close();
    Class_ID id(a, b);
    USHORT builtin = sclass == OSM_CLASS_ID ? BuiltinChunk(id) : 0;
    ClassDesc2* cd = builtin ? nullptr : Classes().FindById(sclass, id);
    ModifierPtr mod;
    if (cd) mod = CreatePluginModifier(in, cd);
    // 2. the rest in file order
    DWORD flags = 0;
    std::string name, unknownChunks;
    bool pluginDataSeen = false;
    while (in.Open()) {
        size_t start = in.ChunkStart();
        USHORT chunk = in.Id();
        if (chunk == chunk_flags) {
            flags = in.U32();
            in.Done();
            if (mod) { // a plug-in's own Load may look at them
                mod->ClearAFlag(0xffffffff);
                mod->SetAFlag(flags);
            }
        } else if (chunk == chunk_name) {
            name = in.Str();
            in.Done();
        } else if (!builtin && !cd) {
            in.Close();
            unknownChunks.append(in.Reader().Bytes(), start, in.Reader().Offset() - start);
            continue;
        } else if (builtin && chunk == builtin) {
            if (mod) in.Fail("a second data chunk for one modifier", start);
            mod.reset(LoadBuiltinData(in));
        } else if (cd && chunk == chunk_param_block) {
            ParamBlockFile::Load(in, mod.get());
        } else if (cd && chunk == chunk_plugin_data && !pluginDataSeen) {
            pluginDataSeen = true;
            LoadPluginData(in, mod.get(), false);
        }
        in.Close();
    }
    // 3. what the file left out
    if (cd && !pluginDataSeen) LoadPluginData(in, mod.get(), true);
    if (builtin && !mod)
        mod.reset(builtin == chunk_soft_select ? static_cast<Modifier*>(new SoftSelect({}, 0.0f, 0.0f))
                  : builtin == chunk_trim      ? static_cast<Modifier*>(new Trim({}))
                                               : new SelectKeys({}));
    if (!mod) {
        mod.reset(new UnknownModifier(sclass, id, std::move(unknownChunks)));
        warn(id);
    }
    mod->ClearAFlag(0xffffffff);
    mod->SetAFlag(flags);
    mod->name = name;
    return mod.release();
}

} // namespace vm
