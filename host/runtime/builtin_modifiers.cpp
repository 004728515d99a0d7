// Host selection modifiers used to drive recordings.
#include "runtime/builtin_modifiers.h"

#include <algorithm>
#include <cmath>

namespace vm {
namespace {
template <class K> void SortByTime(std::vector<K>& keys) {
    std::stable_sort(keys.begin(), keys.end(), [](const K& a, const K& b) { return a.t < b.t; });
}
// The key at or before t, or null before the first.
template <class K> const K* KeyAt(const std::vector<K>& keys, TimeValue t) {
    const K* found = nullptr;
    for (const K& k : keys)
        if (k.t <= t) found = &k;
    return found;
}
Mesh* MeshOf(ObjectState* holder) {
    auto* tri = holder ? dynamic_cast<TriObject*>(holder->obj) : nullptr;
    return tri ? &tri->GetMesh() : nullptr;
}
} // namespace

SelectKeys::SelectKeys(std::vector<Key> keys) : keys_(std::move(keys)) { SortByTime(keys_); }

void SelectKeys::EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) {
    Mesh* mesh = MeshOf(holder);
    const Key* key = KeyAt(keys_, t);
    if (!mesh || !key) return;
    int n = mesh->getNumVerts();
    mesh->vertSel.SetSize(n);
    for (int v : key->selected)
        mesh->vertSel.Set(v);
    if (key->weights) {
        if (!mesh->vDataSupport(0)) mesh->setVDataSupport(0);
        float* w = mesh->vertexFloat(0);
        int m = std::min(n, static_cast<int>(key->weights->size()));
        for (int i = 0; i < m; ++i)
            w[i] = (*key->weights)[static_cast<size_t>(i)];
    }
}

SoftSelect::SoftSelect(std::vector<Key> centers, float radius, float falloff)
    : centers_(std::move(centers)), radius_(radius), falloff_(falloff) {
    SortByTime(centers_);
}

Point3 SoftSelect::CenterAt(TimeValue t) const {
    if (centers_.empty()) return {};
    if (t <= centers_.front().t) return centers_.front().at;
    if (t >= centers_.back().t) return centers_.back().at;
    size_t i = 1;
    while (centers_[i].t < t)
        ++i;
    const Key &a = centers_[i - 1], &b = centers_[i];
    double u = (double(t) - a.t) / (double(b.t) - a.t);
    auto mix = [u](float p, float q) { return static_cast<float>(p + (q - p) * u); };
    return {mix(a.at.x, b.at.x), mix(a.at.y, b.at.y), mix(a.at.z, b.at.z)};
}

void SoftSelect::EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) {
    Mesh* mesh = MeshOf(holder);
    if (!mesh) return;
    Point3 c = CenterAt(t);
    int n = mesh->getNumVerts();
    mesh->vertSel.SetSize(n);
    if (!mesh->vDataSupport(0)) mesh->setVDataSupport(0);
    float* w = mesh->vertexFloat(0);
    for (int i = 0; i < n; ++i) {
        const Point3& p = mesh->verts[static_cast<size_t>(i)];
        double d = std::sqrt(double(p.x - c.x) * (p.x - c.x) + double(p.y - c.y) * (p.y - c.y) +
                             double(p.z - c.z) * (p.z - c.z));
        if (d <= radius_) {
            mesh->vertSel.Set(i);
            w[i] = 1.0f;
        } else if (falloff_ > 0 && d < radius_ + falloff_) {
            double u = (d - radius_) / falloff_;
            double s = 1.0 - u * u * (3.0 - 2.0 * u); // smooth, strictly inside (0, 1)
            w[i] = std::clamp(static_cast<float>(s), 1e-6f, 0.999999f);
        } else {
            w[i] = 0.0f;
        }
    }
}

Trim::Trim(std::vector<Key> keys) : keys_(std::move(keys)) { SortByTime(keys_); }

void Trim::EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) {
    Mesh* mesh = MeshOf(holder);
    const Key* key = KeyAt(keys_, t);
    if (!mesh || !key || key->count < 0 || key->count >= mesh->getNumVerts()) return;
    int keep = key->count;
    auto& f = mesh->faces;
    f.erase(std::remove_if(f.begin(), f.end(),
                           [keep](const Face& face) {
                               return face.v[0] >= keep || face.v[1] >= keep || face.v[2] >= keep;
                           }),
            f.end());
    mesh->setNumVerts(keep);
}

} // namespace vm
