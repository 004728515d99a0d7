// Parameter block descriptions built from one variadic list, and the blocks built from them.
#include <algorithm>
#include <cstdarg>
#include <cmath>
#include <limits>

#include "runtime/host_record.h"
#include "runtime/param_value.h"
#include "runtime/window.h"

namespace {
// Reads one parameter's keyed entries up to and including its p_end.
void ReadKeys(va_list& ap, ParamDef& def) {
    for (;;) {
        unsigned key = va_arg(ap, unsigned);
        switch (key) {
        case p_end: return;
        case p_default:
            if (def.type == TYPE_FLOAT)
                def.defaultFloat = va_arg(ap, double);
            else
                def.defaultInt = va_arg(ap, int);
            break;
        case p_range:
            def.hasRange = true;
            if (def.type == TYPE_FLOAT) {
                def.rangeLow = va_arg(ap, double);
                def.rangeHigh = va_arg(ap, double);
            } else {
                def.rangeLow = va_arg(ap, int);
                def.rangeHigh = va_arg(ap, int);
            }
            break;
        case p_ui:
            def.controlKind = va_arg(ap, int);
            if (def.controlKind == TYPE_SPINNER) {
                def.editKind = va_arg(ap, int);
                def.editId = va_arg(ap, int);
                def.spinnerId = va_arg(ap, int);
                def.scale = va_arg(ap, double);
            } else if (def.controlKind == TYPE_SINGLECHEKBOX) {
                def.controlId = va_arg(ap, int);
            } else if (def.controlKind == TYPE_INTLISTBOX) {
                def.controlId = va_arg(ap, int);
                int n = va_arg(ap, int);
                for (int i = 0; i < n; ++i)
                    def.items.push_back(va_arg(ap, int));
            }
            break;
        case p_enable_ctrls: {
            int n = va_arg(ap, int);
            for (int i = 0; i < n; ++i)
                def.enables.push_back(static_cast<ParamID>(va_arg(ap, int)));
            break;
        }
        default:
            // An unknown key cannot be skipped safely: its operands are unknown.
            assert1(__LINE__, "param_block");
            return;
        }
    }
}
} // namespace

ParamBlockDesc2::ParamBlockDesc2(BlockID id, const char* internalName, int localName, ClassDesc2* owner,
                                 int flags, ...)
    : id_(id), internalName_(internalName ? internalName : ""), localName_(localName), owner_(owner),
      flags_(flags) {
    va_list ap;
    va_start(ap, flags);
    if (flags & P_AUTO_CONSTRUCT) refNumber_ = va_arg(ap, int);
    if (flags & P_AUTO_UI) {
        dialogId_ = va_arg(ap, int);
        titleId_ = va_arg(ap, int);
        panelFlags1_ = va_arg(ap, int);
        panelFlags2_ = va_arg(ap, int);
        userProc_ = va_arg(ap, ParamMap2UserDlgProc*);
    }
    for (;;) {
        unsigned first = va_arg(ap, unsigned);
        if (first == p_end) break;
        ParamDef def;
        def.id = static_cast<ParamID>(first);
        const char* name = va_arg(ap, const char*);
        def.internalName = name ? name : "";
        def.type = va_arg(ap, int);
        def.flags = va_arg(ap, int);
        def.localName = va_arg(ap, int);
        ReadKeys(ap, def);
        params_.push_back(std::move(def));
    }
    va_end(ap);
    if (owner_) owner_->AddParamBlockDesc(this);
}

ParamBlockDesc2::~ParamBlockDesc2() {
    vm::ClosePanelsOf(this);
    if (owner_) owner_->RemoveParamBlockDesc(this);
}

const ParamDef* ParamBlockDesc2::FindParam(ParamID id) const {
    for (const auto& p : params_)
        if (p.id == id) return &p;
    return nullptr;
}

ParamID ParamBlockDesc2::FindParamByName(const char* name) const {
    for (const auto& p : params_)
        if (name && p.internalName == name) return p.id;
    return -1;
}

void ParamBlockDesc2::SetUserDlgProc(ParamMap2UserDlgProc* proc) {
    userProc_ = proc;
    vm::DeliverInitDialog(this);
}

void ParamBlockDesc2::InvalidateUI() { vm::RefreshPanelsOf(this); }

IParamBlock2::IParamBlock2(ParamBlockDesc2* desc) : desc_(desc) {
    values_.resize(static_cast<size_t>(desc->Count()));
    for (int i = 0; i < desc->Count(); ++i) {
        const ParamDef& def = desc->ParamAt(i);
        values_[static_cast<size_t>(i)].number = def.type == TYPE_FLOAT ? def.defaultFloat : def.defaultInt;
    }
}

ReferenceTarget* IParamBlock2::Clone(RemapDir& remap) {
    auto* copy = new IParamBlock2(desc_);
    copy->values_ = values_;
    BaseClone(this, copy, remap);
    return copy;
}

IParamBlock2::Value* IParamBlock2::Find(ParamID id, const ParamDef** def) {
    for (int i = 0; i < desc_->Count(); ++i)
        if (desc_->ParamAt(i).id == id) {
            *def = &desc_->ParamAt(i);
            return &values_[static_cast<size_t>(i)];
        }
    return nullptr;
}

// Linear between keys, held outside them; a parameter without keys has one value for all time.
double IParamBlock2::NumberAt(const Value& v, const ParamDef& def, TimeValue t, Interval& valid) const {
    if (!(def.flags & P_ANIMATABLE) || v.keys.empty()) return v.number;
    const auto& k = v.keys;
    if (k.size() == 1) return k[0].second;
    if (t <= k.front().first) {
        valid &= Interval(TIME_NegInfinity, k.front().first);
        return k.front().second;
    }
    if (t >= k.back().first) {
        valid &= Interval(k.back().first, TIME_PosInfinity);
        return k.back().second;
    }
    valid &= Interval(t, t);
    size_t i = 1;
    while (k[i].first < t)
        ++i;
    double u = (double(t) - k[i - 1].first) / (double(k[i].first) - k[i - 1].first);
    return k[i - 1].second + (k[i].second - k[i - 1].second) * u;
}

BOOL IParamBlock2::GetParamValue(ParamID id, TimeValue t, float& value, Interval& valid, int) {
    const ParamDef* def;
    Value* v = Find(id, &def);
    if (!v || def->type != TYPE_FLOAT) return FALSE;
    value = static_cast<float>(NumberAt(*v, *def, t, valid));
    return TRUE;
}

BOOL IParamBlock2::GetParamValue(ParamID id, TimeValue t, int& value, Interval& valid, int) {
    const ParamDef* def;
    Value* v = Find(id, &def);
    if (!v || (def->type != TYPE_INT && def->type != TYPE_BOOL)) return FALSE;
    value = static_cast<int>(NumberAt(*v, *def, t, valid));
    return TRUE;
}

BOOL IParamBlock2::GetParamValue(ParamID id, TimeValue, const char*& value, Interval&, int) {
    const ParamDef* def;
    Value* v = Find(id, &def);
    if (!v || def->type != TYPE_STRING) return FALSE;
    value = v->hasString ? v->text.c_str() : nullptr;
    return TRUE;
}

BOOL IParamBlock2::SetNumber(ParamID id, TimeValue t, double value, bool integral) {
    const ParamDef* def;
    Value* v = Find(id, &def);
    if (!v || def->type == TYPE_STRING) return FALSE;
    if ((def->type == TYPE_FLOAT) == integral) return FALSE; // each type has its own setter
    if (def->type == TYPE_BOOL) value = value != 0.0 ? 1.0 : 0.0;
    if (def->hasRange) value = std::clamp(value, def->rangeLow, def->rangeHigh);
    if (def->type == TYPE_FLOAT) value = static_cast<float>(value);
    if (def->flags & P_ANIMATABLE) {
        auto& k = v->keys;
        auto it = std::lower_bound(k.begin(), k.end(), t,
                                   [](const auto& key, TimeValue tt) { return key.first < tt; });
        if (it != k.end() && it->first == t)
            it->second = value;
        else
            k.insert(it, {t, value});
    }
    v->number = value;
    NotifyDependents(FOREVER(), PART_ALL, REFMSG_CHANGE);
    return TRUE;
}

BOOL IParamBlock2::SetParamValue(ParamID id, TimeValue t, float value, int) {
    return SetNumber(id, t, value, false);
}
BOOL IParamBlock2::SetParamValue(ParamID id, TimeValue t, int value, int) {
    return SetNumber(id, t, value, true);
}

BOOL IParamBlock2::SetParamValue(ParamID id, TimeValue, const char* value, int) {
    const ParamDef* def;
    Value* v = Find(id, &def);
    if (!v || def->type != TYPE_STRING) return FALSE;
    v->hasString = value != nullptr;
    v->text = value ? value : "";
    NotifyDependents(FOREVER(), PART_ALL, REFMSG_CHANGE);
    return TRUE;
}

int IParamBlock2::KeyCount(ParamID id) const {
    for (int i = 0; i < desc_->Count(); ++i)
        if (desc_->ParamAt(i).id == id) return static_cast<int>(values_[static_cast<size_t>(i)].keys.size());
    return 0;
}

double vm::StorableValue(const ParamDef& def, double value) {
    if (def.hasRange) value = std::clamp(value, def.rangeLow, def.rangeHigh);
    if (def.type == TYPE_FLOAT)
        return std::clamp(value, double(-std::numeric_limits<float>::max()), double(std::numeric_limits<float>::max()));
    return std::trunc(std::clamp(value, double(std::numeric_limits<int>::min()),
                                 double(std::numeric_limits<int>::max())));
}
