// Host data into picture data.
#include "scene/scene_pictures.h"

#include "scene/selection.h"
#include "pictures/dialog_view.h"

namespace app {

std::shared_ptr<const pictures::MeshShape> ShapeOf(const Mesh& mesh) {
    auto shape = std::make_shared<pictures::MeshShape>();
    pictures::MeshShape& s = *shape;
    s.xy.reserve(mesh.verts.size() * 2);
    for (const Point3& p : mesh.verts) {
        s.xy.push_back(p.x);
        s.xy.push_back(p.y);
    }
    s.triangles.reserve(mesh.faces.size() * 3);
    for (const Face& f : mesh.faces)
        s.triangles.insert(s.triangles.end(), f.v, f.v + 3);
    return shape;
}

pictures::MeshPanel SelectionOf(Mesh& mesh, const std::string& caption,
                                std::shared_ptr<const pictures::MeshShape> shape) {
    pictures::MeshPanel p{shape ? std::move(shape) : ShapeOf(mesh), caption, {}, {}};
    const float* ch = mesh.vertexFloat(0);
    int n = mesh.getNumVerts();
    p.weights.resize(size_t(n));
    p.selected.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        bool on = mesh.vertSel[i] != 0;
        p.selected[size_t(i)] = on;
        p.weights[size_t(i)] = EffectiveWeight(on, ch, i);
    }
    return p;
}

namespace {
pictures::DialogControl Drawn(const PanelControl& c) {
    using pictures::ControlKind;
    static const std::pair<std::string, ControlKind> kKinds[] = {
        {"edit", ControlKind::Edit},      {"spinner", ControlKind::Spinner},
        {"button", ControlKind::Button},  {"combo", ControlKind::DropDown},
        {"check", ControlKind::CheckBox}, {"group", ControlKind::GroupBox}};
    pictures::DialogControl d;
    d.kind = ControlKind::Text;
    for (const auto& [name, kind] : kKinds)
        if (name == ControlKindName(c.className, c.style)) d.kind = kind;
    std::string align = ControlAlignName(c.style);
    d.align = align == "center"  ? pictures::Align::Centre
              : align == "right" ? pictures::Align::Right
                                 : pictures::Align::Left;
    d.text = d.kind == ControlKind::DropDown ? c.selectedItem : c.text;
    d.x = c.x, d.y = c.y, d.w = c.width, d.h = c.height;
    d.enabled = c.enabled;
    d.checked = c.checked;
    return d;
}
} // namespace

std::string PanelPng(HWND window, const std::string& title, std::string& png) {
    if (!window) return "the modifier shows no panel";
    std::vector<pictures::DialogControl> drawn;
    for (const PanelControl& c : ReadPanelControls(window))
        if (c.visible) drawn.push_back(Drawn(c));
    return pictures::DialogPng(drawn, window->width, window->height, 2.5, title, png);
}

} // namespace app
