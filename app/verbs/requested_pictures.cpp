#include "verbs/requested_pictures.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "scene/scene_pictures.h"
#include "sel/output.h"

namespace app {

void RequirePictures(const std::string&) {}

struct SelectionPictures::Panels {
    std::vector<pictures::MeshPanel> list;
};

SelectionPictures::SelectionPictures() : panels_(std::make_unique<Panels>()) {}
SelectionPictures::~SelectionPictures() = default;

void SelectionPictures::Add(Mesh& mesh, const std::string& caption) {
    std::vector<pictures::MeshPanel>& list = panels_->list;
    // a mesh whose vertex count keys over time gets a shape of its own at each time
    bool same = !list.empty() && list.back().shape->Vertices() == mesh.getNumVerts();
    list.push_back(SelectionOf(mesh, caption, same ? list.back().shape : nullptr));
}

size_t SelectionPictures::Count() const { return panels_->list.size(); }

void SelectionPictures::Write(const std::string& path, const std::string& title) const {
    const std::vector<pictures::MeshPanel>& list = panels_->list;
    std::string png, error = pictures::MeshPng(list, std::min<int>(int(list.size()), 4), 300, title, png);
    if (!error.empty()) throw std::runtime_error(path + ": " + error);
    if (std::string why = sel::WriteWholeFile(path, png); !why.empty()) throw std::runtime_error(why);
}

void WritePanelPicture(HWND window, const std::string& title, const std::string& path) {
    std::string png, error = PanelPng(window, title, png);
    if (!error.empty()) throw std::runtime_error(path + ": " + error);
    if (std::string why = sel::WriteWholeFile(path, png); !why.empty()) throw std::runtime_error(why);
}

} // namespace app
