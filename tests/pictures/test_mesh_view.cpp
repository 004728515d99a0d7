// The mesh seen from above: where vertices land, the colours of their weights, and meshes that
// name vertices they do not have.
#include <gtest/gtest.h>

#include <cmath>

#include "picture_pixels.h"
#include "pictures/mesh_view.h"

namespace {

using test_pictures::Decoded;
using test_pictures::Distance;

// A unit square of two triangles: 0 (0,0), 1 (1,0), 2 (1,1), 3 (0,1).
std::shared_ptr<pictures::MeshShape> Square() {
    auto s = std::make_shared<pictures::MeshShape>();
    s->xy = {0, 0, 1, 0, 1, 1, 0, 1};
    s->triangles = {0, 1, 2, 0, 2, 3};
    return s;
}

pictures::Colour PixelNear(pictures::Canvas& canvas, pictures::Point p, double dx, double dy) {
    cairo_surface_t* s = cairo_get_target(canvas.Context());
    cairo_surface_flush(s);
    return Decoded::PixelOf(s, int(p.x + dx), int(p.y + dy));
}

TEST(MeshView, EachVertexTakesTheColourOfItsWeightAtItsPlaceSeenFromAbove) {
    pictures::Canvas canvas(220, 220);
    pictures::Box area{10, 10, 200, 200};
    pictures::MeshPanel panel{Square(), "", {0.0f, 1.0f, 0.5f, 0.25f}, {0, 1, 0, 0}};
    pictures::DrawMeshPanel(canvas, area, panel);
    pictures::Point v0 = pictures::MeshPoint(*panel.shape, area, 0),
                    v3 = pictures::MeshPoint(*panel.shape, area, 3);
    EXPECT_LT(v3.y, v0.y) << "y points up: vertex 3 (y = 1) is above vertex 0";
    EXPECT_NEAR(v0.x, v3.x, 1e-9);
    // a few pixels inside the square from each corner, off the diagonal edge drawn over it: nearly
    // that corner's weight
    const double in[4][2] = {{8, -3}, {-8, -3}, {-8, 3}, {8, 3}};
    for (int v : {0, 2, 3}) {
        pictures::Point p = pictures::MeshPoint(*panel.shape, area, v);
        pictures::Colour seen = PixelNear(canvas, p, in[v][0], in[v][1]);
        EXPECT_LT(Distance(seen, pictures::WeightColour(panel.weights[size_t(v)])), 0.12) << "vertex " << v;
    }
    // beside the middle of the diagonal from vertex 0 (0.0) to vertex 2 (0.5), off the edge drawn
    // there and towards vertex 3 (0.25): the blend, 0.25
    pictures::Point a = pictures::MeshPoint(*panel.shape, area, 0),
                    c = pictures::MeshPoint(*panel.shape, area, 2);
    pictures::Colour mid = PixelNear(canvas, {(a.x + c.x) / 2, (a.y + c.y) / 2}, -3, -3);
    EXPECT_LT(Distance(mid, pictures::WeightColour(0.25)), 0.06);
    // the selected vertex 1 carries a dark ring; an unselected corner does not
    pictures::Point v1 = pictures::MeshPoint(*panel.shape, area, 1);
    double darkest = 3;
    for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 0; ++dx) {
            pictures::Colour p = PixelNear(canvas, v1, dx - 1, dy);
            darkest = std::min(darkest, p.r + p.g + p.b);
        }
    EXPECT_LT(darkest, 1.0);
}

TEST(MeshView, TrianglesNamingMissingVerticesOrWeightsAreSkippedOrShownAsNoData) {
    auto shape = Square();
    shape->triangles.insert(shape->triangles.end(), {0, 1, 99, -1, 2, 3});
    pictures::Canvas canvas(120, 120);
    pictures::Box area{10, 10, 100, 100};
    pictures::MeshPanel panel{shape, "", {1.0f}, {1}}; // weights for vertex 0 only
    pictures::DrawMeshPanel(canvas, area, panel);
    pictures::Point c = pictures::MeshPoint(*shape, area, 2);
    EXPECT_LT(Distance(PixelNear(canvas, c, -12, 4), pictures::kNoData), 0.02);
    EXPECT_EQ(pictures::MeshPoint(*shape, area, 4).x, -1);
    pictures::DrawMeshPanel(canvas, area, {nullptr, "", {}, {}}); // no shape: nothing to read
}

TEST(MeshView, PictureHasAPanelPerTimeInRowsAndTheLegend) {
    std::vector<pictures::MeshPanel> panels(3, pictures::MeshPanel{Square(), "t", {0, 0, 0, 0}, {}});
    std::string png;
    ASSERT_EQ(pictures::MeshPng(panels, 2, 100, "title", png), "");
    Decoded d(png);
    EXPECT_EQ(d.Width(), 20 + 2 * 120 + 150);
    EXPECT_EQ(d.Height(), 48 + 2 * (24 + 100 + 20));
    EXPECT_NE(pictures::MeshPng(panels, 2, 2, "too small", png), "");
}

} // namespace
