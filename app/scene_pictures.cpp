// Host data into picture data.
#include "scene_pictures.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

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
        p.weights[size_t(i)] = on ? 1.0f : ch ? ch[i] : 0.0f;
    }
    return p;
}

namespace {
// Window styles of the dialog templates: the low bits of a button's style say which kind it is.
constexpr unsigned long kButtonKind = 0xf, kCheckBox = 0x2, kAutoCheckBox = 0x3, kGroupBox = 0x7,
                        kStaticAlign = 0x3, kStaticCentre = 0x1, kStaticRight = 0x2;

pictures::DialogControl Drawn(const PanelControl& c) {
    using pictures::ControlKind;
    pictures::DialogControl d;
    d.text = c.text;
    d.x = c.x, d.y = c.y, d.w = c.width, d.h = c.height;
    d.enabled = c.enabled;
    d.checked = c.checked;
    if (c.className == "Button") {
        unsigned long kind = c.style & kButtonKind;
        d.kind = kind == kGroupBox                            ? ControlKind::GroupBox
                 : kind == kCheckBox || kind == kAutoCheckBox ? ControlKind::CheckBox
                                                              : ControlKind::Button;
    } else if (c.className == "CustButton") {
        d.kind = ControlKind::Button;
    } else if (c.className == "CustEdit" || c.className == "Edit") {
        d.kind = ControlKind::Edit;
    } else if (c.className == "SpinnerControl") {
        d.kind = ControlKind::Spinner;
    } else if (c.className == "ComboBox") {
        d.kind = ControlKind::DropDown;
        d.text = c.selectedItem;
    } else {
        d.kind = ControlKind::Text;
        unsigned long align = c.style & kStaticAlign;
        d.align = align == kStaticCentre  ? pictures::Align::Centre
                  : align == kStaticRight ? pictures::Align::Right
                                          : pictures::Align::Left;
    }
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

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            throw std::runtime_error(path + ": cannot be written");
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        throw std::runtime_error(path + ": cannot be written: " + ec.message());
    }
}

} // namespace app
