// Meshes of a scene description: a grid, listed vertices and faces, or an OBJ file; and a node's
// selection.
#include "sel/files.h"
#include "scene/scene_json.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <tiny_obj_loader.h>

namespace fs = std::filesystem;

namespace app::scene_json {

namespace {
// A grid costs memory the description's few bytes do not show: about a million vertices at most.
constexpr int64_t kMaxGridVertices = 1 << 20;

void Grid(const json& g, const std::string& where, Mesh& mesh) {
    AllowKeys(g, where, {"width", "length", "rows", "cols"});
    double w = Number(Need(g, "width", where), where + ".width"),
           l = Number(Need(g, "length", where), where + ".length");
    int rows = Integer(Need(g, "rows", where), where + ".rows"),
        cols = Integer(Need(g, "cols", where), where + ".cols");
    if (rows < 1 || cols < 1 || rows > 4096 || cols > 4096) Fail(where, "rows and cols must be 1 to 4096");
    if (int64_t(rows + 1) * (cols + 1) > kMaxGridVertices)
        Fail(where, "more than " + std::to_string(kMaxGridVertices) + " vertices");
    mesh.setNumVerts((rows + 1) * (cols + 1));
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= cols; ++c)
            mesh.verts[static_cast<size_t>(r * (cols + 1) + c)] = {
                static_cast<float>(-w / 2 + w * c / cols), static_cast<float>(-l / 2 + l * r / rows), 0.0f};
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            int a = r * (cols + 1) + c, b = a + 1, d = a + cols + 1, e = d + 1;
            mesh.faces.push_back({{a, b, e}});
            mesh.faces.push_back({{a, e, d}});
        }
}

void ObjFile(const Context& c, const std::string& file, const std::string& where, Mesh& mesh) {
    // a device or folder is no mesh file (reading /dev/zero would never end)
    std::error_code ec;
    if (!fs::is_regular_file(sel::PathOf(Path(c, file)), ec))
        Fail(where, "cannot read " + file + ": " + WhyUnreadable(Path(c, file)));
    tinyobj::ObjReader reader;
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    // read here, so that the name goes through the UTF-8 seam (the reader's own open would take the
    // ANSI code page on Windows); materials play no part in a selection
    std::ifstream in(sel::PathOf(Path(c, file)), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || !reader.ParseFromString(text.str(), "", config))
        Fail(where, "cannot read " + file + ": " + (in ? reader.Error() : std::string("cannot open")));
    if (c.out) c.out->files.push_back(Path(c, file));
    const auto& v = reader.GetAttrib().vertices;
    mesh.setNumVerts(static_cast<int>(v.size() / 3));
    for (size_t i = 0; i + 2 < v.size(); i += 3)
        mesh.verts[i / 3] = {v[i], v[i + 1], v[i + 2]};
    for (const auto& shape : reader.GetShapes())
        for (size_t i = 0; i + 2 < shape.mesh.indices.size(); i += 3)
            mesh.faces.push_back({{shape.mesh.indices[i].vertex_index, shape.mesh.indices[i + 1].vertex_index,
                                   shape.mesh.indices[i + 2].vertex_index}});
}

} // namespace

TriObject* BuildMesh(const Context& c, const json& m, const std::string& where) {
    AllowKeys(m, where, {"grid", "vertices", "faces", "obj"});
    auto* tri = new TriObject();
    Mesh& mesh = tri->mesh;
    try {
        if (m.contains("grid")) {
            Grid(m.at("grid"), where + ".grid", mesh);
        } else if (m.contains("obj")) {
            if (!m.at("obj").is_string()) Fail(where + ".obj", "must be a file name");
            ObjFile(c, m.at("obj").get<std::string>(), where + ".obj", mesh);
        } else {
            const json& vs = Need(m, "vertices", where);
            if (!vs.is_array()) Fail(where + ".vertices", "must be a list of [x, y, z]");
            mesh.setNumVerts(static_cast<int>(vs.size()));
            for (size_t i = 0; i < vs.size(); ++i)
                mesh.verts[i] = Point(vs[i], where + ".vertices[" + std::to_string(i) + "]");
            if (m.contains("faces")) {
                const json& fs = m.at("faces");
                if (!fs.is_array()) Fail(where + ".faces", "must be a list of [a, b, c]");
                for (size_t i = 0; i < fs.size(); ++i) {
                    auto ids = Ids(fs[i], where + ".faces[" + std::to_string(i) + "]");
                    if (ids.size() != 3)
                        Fail(where + ".faces[" + std::to_string(i) + "]", "must be [a, b, c]");
                    for (int id : ids)
                        if (id < 0 || id >= mesh.getNumVerts())
                            Fail(where + ".faces[" + std::to_string(i) + "]", "vertex out of range");
                    mesh.faces.push_back({{ids[0], ids[1], ids[2]}});
                }
            }
        }
    } catch (...) {
        tri->DeleteThis();
        throw;
    }
    return tri;
}

void ApplySelection(const json& s, const std::string& where, Mesh& mesh) {
    AllowKeys(s, where, {"selected", "weights"});
    mesh.vertSel.SetSize(mesh.getNumVerts());
    if (s.contains("selected")) {
        for (int id : Ids(s.at("selected"), where + ".selected")) {
            if (id < 0 || id >= mesh.getNumVerts())
                Fail(where + ".selected", "vertex " + std::to_string(id) + " out of range");
            mesh.vertSel.Set(id);
        }
    }
    if (s.contains("weights")) {
        auto w = Floats(s.at("weights"), where + ".weights");
        if (static_cast<int>(w.size()) != mesh.getNumVerts())
            Fail(where + ".weights", "needs one weight per vertex");
        mesh.setVDataSupport(0);
        std::copy(w.begin(), w.end(), mesh.vertexFloat(0));
    }
}

} // namespace app::scene_json
