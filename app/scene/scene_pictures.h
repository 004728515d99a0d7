// Pictures of what the host holds: an evaluated mesh coloured by its selection weights, and a
// modifier's panel as it stands. Both turn host data into the plain arrays of pictures/.
#pragma once
#include <string>
#include <vector>

#include "scene/panel_view.h"
#include "pictures/mesh_view.h"
#include "runtime/scene.h"

namespace app {

// The mesh's vertices seen from above and its triangles.
std::shared_ptr<const pictures::MeshShape> ShapeOf(const Mesh& mesh);
// The mesh's selection: 1.0 for a selected vertex, else its soft-selection weight (0 without one),
// drawn on `shape` (ShapeOf(mesh) when null).
pictures::MeshPanel SelectionOf(Mesh& mesh, const std::string& caption,
                                std::shared_ptr<const pictures::MeshShape> shape = nullptr);

// The panel's visible controls drawn as a dialog of the window's size, under `title`. Answers an
// error text or "" and the PNG bytes.
std::string PanelPng(HWND window, const std::string& title, std::string& png);

} // namespace app
