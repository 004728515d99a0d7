// A triangle mesh seen from above (x to the right, y up), its faces coloured by the weights of their
// vertices, with the fully selected vertices marked; several such panels in one picture.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pictures/canvas.h"

namespace pictures {

// The mesh's shape: x, y of each vertex (z is not drawn) and three vertex indices per triangle.
struct MeshShape {
    std::vector<float> xy;
    std::vector<int> triangles;
    int Vertices() const { return int(xy.size() / 2); }
};

// One view of a mesh: its shape (shared between views of the same mesh), a weight and a selected
// flag per vertex, and a caption above it.
struct MeshPanel {
    std::shared_ptr<const MeshShape> shape;
    std::string caption;
    std::vector<float> weights;
    std::vector<uint8_t> selected;
};

// Where vertex `v` of `shape` lands inside `area` when the mesh is fitted into it, keeping its
// proportions; (-1, -1) for a vertex that does not exist.
struct Point {
    double x, y;
};
Point MeshPoint(const MeshShape& shape, const Box& area, int v);

// Draws one panel into `area`: each triangle filled with the colour of the weight interpolated
// across it, pixel by pixel. Triangles naming a vertex that does not exist are left out; one whose
// vertices lack weights is drawn as no data rather than read out of bounds. No shape: an empty frame.
void DrawMeshPanel(Canvas& canvas, const Box& area, const MeshPanel& panel);

// The panels in rows of `columns`, each `panelSize` pixels square, under `title`, with the weight
// legend at the right. Answers an error text or "" and the PNG bytes.
std::string MeshPng(const std::vector<MeshPanel>& panels, int columns, int panelSize,
                    const std::string& title, std::string& png);

} // namespace pictures
