// Meshes, objects, derived objects and nodes.
#include "runtime/builtin_modifiers.h"
#include "runtime/host_record.h"

void Mesh::setNumVerts(int n) {
    if (n < 0) n = 0;
    verts.resize(static_cast<size_t>(n));
    vertSel.SetSize(n, 1);
    for (auto& [channel, values] : vdata_)
        values.resize(static_cast<size_t>(n), 0.0f);
}

Mesh& Mesh::operator=(const Mesh& other) {
    if (this == &other) return *this;
    verts = other.verts;
    faces = other.faces;
    vertSel = other.vertSel;
    selLevel = other.selLevel;
    dispFlags = other.dispFlags;
    // a map's own assignment would make every channel's vector anew
    std::erase_if(vdata_, [&](const auto& channel) { return !other.vdata_.count(channel.first); });
    for (const auto& [channel, values] : other.vdata_)
        vdata_[channel] = values;
    return *this;
}

BOOL Mesh::vDataSupport(int channel) const { return vdata_.count(channel) ? TRUE : FALSE; }

void Mesh::setVDataSupport(int channel, BOOL on) {
    if (!on) {
        vdata_.erase(channel);
        return;
    }
    auto& values = vdata_[channel];
    values.assign(static_cast<size_t>(getNumVerts()), 0.0f);
}

float* Mesh::vertexFloat(int channel) {
    auto it = vdata_.find(channel);
    if (it == vdata_.end()) return nullptr;
    // an empty channel still counts as present
    static float none = 0.0f;
    return it->second.empty() ? &none : it->second.data();
}

void Object::UpdateValidity(int channel, Interval valid) {
    if (channel >= 0 && channel < NUM_OBJ_CHANS) validity_[channel] &= valid;
}
void Object::SetChannelInterval(int channel, Interval valid) {
    if (channel >= 0 && channel < NUM_OBJ_CHANS) validity_[channel] = valid;
}
Interval Object::ChannelValidity(int channel) const {
    return channel >= 0 && channel < NUM_OBJ_CHANS ? validity_[channel] : Interval(1, 0);
}

IDerivedObject::~IDerivedObject() = default;

Modifier* IDerivedObject::ModifierAt(int i) const {
    return i >= 0 && i < ModifierCount() ? mods_[static_cast<size_t>(i)] : nullptr;
}

void IDerivedObject::SetInputObject(Object* input) { ReplaceReference(0, input); }

bool IDerivedObject::Accepts(Modifier* mod) {
    if (!mod) return false;
    if (code_ != WSM_DERIVOB_CLASS_ID || mod->SuperClassCode() != OSM_CLASS_ID) return true;
    return dynamic_cast<vm::HostModifier*>(mod) != nullptr;
}

bool IDerivedObject::AddModifier(Modifier* mod, int index) {
    if (!Accepts(mod)) return false;
    if (index < 0 || index > ModifierCount()) index = ModifierCount();
    // references 1.. follow the list order, so rebuild them around the insertion
    std::vector<Modifier*> mods = mods_;
    mods.insert(mods.begin() + index, mod);
    for (int i = 0; i < static_cast<int>(mods.size()); ++i)
        ReplaceReference(1 + i, mods[i], FALSE);
    return true;
}

ReferenceTarget* IDerivedObject::GetReference(int i) {
    if (i == 0) return input_;
    return ModifierAt(i - 1);
}

void IDerivedObject::SetReference(int i, ReferenceTarget* target) {
    if (i == 0) {
        input_ = dynamic_cast<Object*>(target);
        return;
    }
    if (i < 1) return;
    if (static_cast<size_t>(i) > mods_.size()) mods_.resize(static_cast<size_t>(i), nullptr);
    mods_[static_cast<size_t>(i - 1)] = dynamic_cast<Modifier*>(target);
}

INode::~INode() = default;

void INode::SetObjectReference(Object* object) { ReplaceReference(0, object); }
void INode::SetWorldSpaceDerivedObject(IDerivedObject* derived) { ReplaceReference(1, derived); }

ReferenceTarget* INode::GetReference(int i) { return i == 0 ? objectRef_ : i == 1 ? wsm_ : nullptr; }

void INode::SetReference(int i, ReferenceTarget* target) {
    if (i == 0)
        objectRef_ = dynamic_cast<Object*>(target);
    else if (i == 1)
        wsm_ = dynamic_cast<IDerivedObject*>(target);
}
