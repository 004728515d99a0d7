// References with automatic dependents, change notification, dependent enumeration, cloning.
#include <algorithm>
#include <set>

#include "runtime/host_record.h"

ReferenceMaker::~ReferenceMaker() { DeleteAllRefs(); }

int ReferenceMaker::ReplaceReference(int which, ReferenceTarget* target, BOOL deleteOld) {
    if (which < 0) return REF_FAIL;
    if (static_cast<size_t>(which) >= held_.size()) held_.resize(static_cast<size_t>(which) + 1, nullptr);
    ReferenceTarget* old = held_[which];
    if (old == target) {
        SetReference(which, target);
        return REF_SUCCEED;
    }
    held_[which] = target;
    if (target) target->dependents_.push_back(this);
    SetReference(which, target);
    if (old) {
        // one dependent entry per held reference
        auto& deps = old->dependents_;
        auto it = std::find(deps.begin(), deps.end(), this);
        if (it != deps.end()) deps.erase(it);
        if (deleteOld && deps.empty()) old->DeleteThis();
    }
    return REF_SUCCEED;
}

void ReferenceMaker::DeleteAllRefs() {
    std::vector<ReferenceTarget*> held;
    held.swap(held_);
    for (ReferenceTarget* target : held) {
        if (!target) continue;
        auto& deps = target->dependents_;
        auto it = std::find(deps.begin(), deps.end(), this);
        if (it != deps.end()) deps.erase(it);
        if (deps.empty()) target->DeleteThis();
    }
}

void ReferenceMaker::DeleteMe() {
    DeleteAllRefs();
    DeleteThis();
}

void ReferenceMaker::Forget(ReferenceTarget* target) {
    for (auto& h : held_)
        if (h == target) h = nullptr;
}

ReferenceTarget::~ReferenceTarget() {
    // Dependents that still point here lose the reference rather than dangle.
    std::vector<ReferenceMaker*> deps;
    deps.swap(dependents_);
    for (ReferenceMaker* d : deps)
        d->Forget(this);
}

void ReferenceTarget::BaseClone(ReferenceTarget* from, ReferenceTarget* to, RemapDir& remap) {
    if (from && to) {
        remap.AddEntry(from, to);
        to->ClearAFlag(0xffffffff);
        to->SetAFlag(from->FlagWord());
    }
}

int ReferenceTarget::NotifyDependents(Interval changeInt, ULONG partID, int message, SClass_ID sclass,
                                      BOOL propagate, ReferenceTarget* target) {
    vm::Record().notifications.push_back({this, changeInt, partID, message, sclass, propagate});
    // Pass the change up the dependency graph without recording the relayed copies.
    std::set<ReferenceMaker*> seen;
    std::vector<ReferenceTarget*> frontier{this};
    while (!frontier.empty()) {
        ReferenceTarget* from = frontier.back();
        frontier.pop_back();
        std::vector<ReferenceMaker*> deps = from->dependents_;
        for (ReferenceMaker* d : deps) {
            if (!seen.insert(d).second) continue;
            int r = d->ReferenceChanged(changeInt, from, partID, message, propagate);
            if (propagate && r == REF_SUCCEED)
                if (auto* t = dynamic_cast<ReferenceTarget*>(d)) frontier.push_back(t);
        }
    }
    return REF_SUCCEED;
}

int ReferenceTarget::EnumDependents(DependentEnumProc* proc) {
    std::set<ReferenceMaker*> seen;
    std::vector<ReferenceMaker*> queue(dependents_.begin(), dependents_.end());
    for (size_t i = 0; i < queue.size(); ++i) {
        ReferenceMaker* d = queue[i];
        if (!seen.insert(d).second) continue;
        if (proc->proc(d)) return 1;
        if (auto* t = dynamic_cast<ReferenceTarget*>(d))
            queue.insert(queue.end(), t->dependents_.begin(), t->dependents_.end());
    }
    return 0;
}

ReferenceTarget* RemapDir::CloneRef(ReferenceTarget* old) {
    if (!old) return nullptr;
    if (ReferenceTarget* done = FindMapping(old)) return done;
    ReferenceTarget* clone = old->Clone(*this);
    if (clone) AddEntry(old, clone);
    return clone;
}

ReferenceTarget* RemapDir::FindMapping(ReferenceTarget* old) const {
    auto it = map_.find(old);
    return it == map_.end() ? nullptr : it->second;
}
