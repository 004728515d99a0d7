// Scene files: round trips of nodes, meshes, derived objects and the built-in modifiers; instanced
// modifiers; unknown classes; damaged, truncated and foreign files; saving through a temporary file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "portable.h"
#include "runtime/builtin_modifiers.h"
#include "runtime/host_record.h"
#include "runtime/scene_file.h"

namespace {
namespace fs = std::filesystem;

// Two nodes: A with SelectKeys (shared with B) under SoftSelect and a world-space Trim; B with the
// shared SelectKeys switched off in views.
std::unique_ptr<vm::Scene> MakeScene() {
    auto scene = std::make_unique<vm::Scene>();
    scene->SetTicksPerFrame(80);
    scene->SetAnimationRange(Interval(-160, 800));
    scene->SetCurrentTime(40);
    scene->SetDirectory(2, "/caches");
    auto* tri = new TriObject();
    tri->mesh.setNumVerts(4);
    for (int i = 0; i < 4; ++i)
        tri->mesh.verts[static_cast<size_t>(i)] = {float(i), float(i * i) * 0.5f, -1.0f};
    tri->mesh.faces = {{{0, 1, 2}}, {{1, 2, 3}}};
    tri->mesh.vertSel.Set(2);
    tri->mesh.setVDataSupport(0);
    tri->mesh.vertexFloat(0)[1] = 0.25f;
    INode* a = scene->AddNode("A", tri);
    auto* keys =
        new vm::SelectKeys({{0, {0}, std::vector<float>{0.0f, 0.5f, 0.125f, 0.0f}}, {160, {1, 3}, {}}});
    keys->name = "keys";
    scene->DerivedObjectOf(a)->AddModifier(keys, 0);
    scene->DerivedObjectOf(a)->AddModifier(
        new vm::SoftSelect({{0, {0, 0, 0}}, {320, {3, 4.5f, -1}}}, 0.5f, 2.0f), 0);
    scene->WorldDerivedObjectOf(a)->AddModifier(new vm::Trim({{100, 3}}), 0);
    auto* b = new TriObject();
    b->mesh.setNumVerts(2);
    INode* nb = scene->AddNode("B", b);
    scene->DerivedObjectOf(nb)->AddModifier(keys, 0);
    keys->SetAFlag(A_MOD_DISABLED_INVIEWS);
    return scene;
}

// Selection bits and weights of every node at each time.
std::vector<float> Playback(vm::Scene& scene) {
    std::vector<float> out;
    for (INode* n : scene.Nodes())
        for (TimeValue t : {-10, 0, 100, 200, 400}) {
            Mesh& m = static_cast<TriObject*>(scene.EvaluateNode(n, t, 0).obj)->GetMesh();
            out.push_back(static_cast<float>(m.getNumVerts()));
            for (int i = 0; i < m.getNumVerts(); ++i) {
                out.push_back(static_cast<float>(m.vertSel[i]));
                out.push_back(m.vDataSupport(0) ? m.vertexFloat(0)[i] : -1.0f);
            }
        }
    return out;
}

// magic, version and a scene chunk holding what `body` writes
std::string FileWith(const std::function<void(vm::ChunkWriter&)>& body) {
    vm::ChunkWriter w;
    w.Write(vm::kSceneFileMagic, 4, nullptr);
    vm::PutU32(w, vm::kSceneFileVersion);
    w.BeginChunk(vm::chunk_scene);
    body(w);
    w.EndChunk();
    return w.Bytes();
}

std::string ErrorOf(const std::string& bytes) {
    try {
        vm::ParseSceneFile(bytes, "f.vms");
    } catch (const vm::SceneFileError& e) {
        return e.what();
    }
    return "(loaded)";
}

// Replaces every class chunk payload naming `from` with one naming `to`.
std::string Reclass(std::string bytes, Class_ID from, Class_ID to) {
    auto payload = [](Class_ID id) {
        vm::ChunkWriter w;
        vm::PutU32(w, OSM_CLASS_ID);
        vm::PutU32(w, id.PartA());
        vm::PutU32(w, id.PartB());
        return w.Bytes();
    };
    std::string a = payload(from), b = payload(to);
    for (size_t at = bytes.find(a); at != std::string::npos; at = bytes.find(a, at + 1))
        bytes.replace(at, a.size(), b);
    return bytes;
}

int CountChunks(const std::string& bytes, USHORT id) {
    vm::ChunkReader r(bytes.substr(8));
    int n = 0;
    if (r.OpenChunk() != IO_OK) return -1;
    while (r.OpenChunk() == IO_OK) {
        n += r.CurChunkID() == id;
        r.CloseChunk();
    }
    return n;
}

TEST(SceneFile, SavedSceneLoadsToTheSamePlaybackAndSavesToTheSameBytes) {
    auto scene = MakeScene();
    std::vector<float> before = Playback(*scene);
    std::string bytes = vm::SceneFileBytes(*scene);
    auto loaded = vm::ParseSceneFile(bytes, "f.vms");
    EXPECT_EQ(Playback(*loaded), before);
    EXPECT_EQ(vm::SceneFileBytes(*loaded), bytes);
    EXPECT_EQ(loaded->TicksPerFrame(), 80);
    EXPECT_EQ(loaded->AnimationRange(), Interval(-160, 800));
    EXPECT_EQ(loaded->CurrentTime(), 40);
    EXPECT_STREQ(loaded->HostDirectory(2), "/caches");
}

TEST(SceneFile, AnInstancedModifierIsSavedOnceAndLoadsAsOne) {
    auto scene = MakeScene();
    std::string bytes = vm::SceneFileBytes(*scene);
    EXPECT_EQ(CountChunks(bytes, vm::chunk_modifier), 3);
    auto loaded = vm::ParseSceneFile(bytes, "f.vms");
    Modifier* onA = loaded->DerivedObjectOf(loaded->FindNode("A"))->ModifierAt(1);
    Modifier* onB = loaded->DerivedObjectOf(loaded->FindNode("B"))->ModifierAt(0);
    EXPECT_EQ(onA, onB);
    EXPECT_EQ(onA->name.str(), "keys");
    EXPECT_TRUE(onA->TestAFlag(A_MOD_DISABLED_INVIEWS));
}

TEST(SceneFile, UnknownClassPassesThroughSavesBackUnchangedAndWarnsOncePerClass) {
    auto scene = MakeScene();
    std::string original = vm::SceneFileBytes(*scene);
    // the SoftSelect and the Trim of node A become one class no module provides
    std::string foreign = Reclass(Reclass(original, Class_ID(0x5e1ec7, 2), Class_ID(0xfeed, 7)),
                                  Class_ID(0x5e1ec7, 3), Class_ID(0xfeed, 7));
    vm::Record().Clear();
    auto loaded = vm::ParseSceneFile(foreign, "f.vms");
    ASSERT_EQ(vm::Record().log.size(), 1u);
    EXPECT_EQ(vm::Record().log[0].type, SYSLOG_WARN);
    EXPECT_NE(vm::Record().log[0].text.find("class id (0x0000feed, 0x00000007)"), std::string::npos);
    EXPECT_EQ(vm::SceneFileBytes(*loaded), foreign);
    // only the shared SelectKeys is left working on A
    Mesh& m = static_cast<TriObject*>(loaded->EvaluateNode(loaded->FindNode("A"), 0, 0).obj)->GetMesh();
    EXPECT_EQ(m.getNumVerts(), 4);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[3], 0.0f);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[2], 0.125f);
}

TEST(SceneFile, EveryTruncationIsRefusedWithTheFileAndOffset) {
    std::string bytes = vm::SceneFileBytes(*MakeScene());
    for (size_t n = 0; n < bytes.size(); ++n) {
        std::string e = ErrorOf(bytes.substr(0, n));
        EXPECT_EQ(e.rfind("f.vms: byte ", 0), 0u) << n << ": " << e;
    }
}

TEST(SceneFile, DamagedBytesAreRefusedOrLoadedNeverMisread) {
    std::string bytes = vm::SceneFileBytes(*MakeScene());
    for (size_t i = 0; i < bytes.size(); ++i)
        for (unsigned char x : {0x01, 0x80, 0xff}) {
            std::string damaged = bytes;
            damaged[i] = static_cast<char>(damaged[i] ^ x);
            try {
                auto s = vm::ParseSceneFile(damaged, "f.vms");
                Playback(*s);
            } catch (const vm::SceneFileError& e) {
                EXPECT_EQ(std::string(e.what()).rfind("f.vms: byte ", 0), 0u) << e.what();
            }
        }
}

// One chunk of a mesh.
using MeshChunk = std::function<void(vm::ChunkWriter&)>;

// A file of one node "N" whose mesh chunk (at byte 31) holds the given chunks in order.
std::string NodeWithMesh(std::initializer_list<MeshChunk> chunks) {
    return FileWith([&](vm::ChunkWriter& w) {
        w.BeginChunk(vm::chunk_node);
        w.BeginChunk(vm::chunk_node_name);
        vm::PutStr(w, "N");
        w.EndChunk();
        w.BeginChunk(vm::chunk_mesh);
        for (const MeshChunk& c : chunks)
            c(w);
        w.EndChunk();
        w.EndChunk();
    });
}
TEST(SceneFile, ForeignAndInconsistentFilesNameTheProblem) {
    EXPECT_EQ(ErrorOf("{\"nodes\": []}"),
              "f.vms: byte 0: not a scene file (it does not start with the magic word VMSC)");
    std::string v2 = FileWith([](vm::ChunkWriter&) {});
    v2[4] = 2;
    EXPECT_EQ(ErrorOf(v2), "f.vms: byte 4: scene file version 2; this host reads version 1");
    EXPECT_EQ(ErrorOf(FileWith([](vm::ChunkWriter&) {}) + "x"),
              "f.vms: byte 14: 1 stray bytes after the scene chunk");
    std::string huge = NodeWithMesh({[](vm::ChunkWriter& w) {
        w.BeginChunk(vm::chunk_vertices);
        vm::PutU32(w, 0x40000000); // a billion vertices in four bytes
        w.EndChunk();
    }});
    EXPECT_EQ(ErrorOf(huge),
              "f.vms: byte 43: vertex count 1073741824 needs at least 12884901888 bytes but only 0 "
              "are left (in chunk 0x0100 > 0x0300 > 0x0320 > 0x0321)");
    std::string face = NodeWithMesh({[](vm::ChunkWriter& w) {
        w.BeginChunk(vm::chunk_vertices);
        vm::PutU32(w, 0);
        w.EndChunk();
        w.BeginChunk(vm::chunk_faces);
        vm::PutU32(w, 1);
        for (int v : {0, 1, 2})
            vm::PutI32(w, v);
        w.EndChunk();
    }});
    EXPECT_NE(ErrorOf(face).find("a face uses vertex 0 of 0"), std::string::npos);
    std::string dangling = FileWith([](vm::ChunkWriter& w) {
        w.BeginChunk(vm::chunk_node);
        w.BeginChunk(vm::chunk_derived);
        vm::PutU32(w, 1);
        vm::PutU32(w, 0);
        w.EndChunk();
        w.EndChunk();
    });
    EXPECT_NE(ErrorOf(dangling).find("modifier 0 is not among the 0 modifiers"), std::string::npos);
    std::string classless = FileWith([](vm::ChunkWriter& w) {
        w.BeginChunk(vm::chunk_modifier);
        w.EndChunk();
    });
    EXPECT_NE(ErrorOf(classless).find("a modifier must start with its class chunk"), std::string::npos);
}

// A count of `n` followed by `written` elements of `each` values.
MeshChunk Counted(USHORT id, uint32_t n, uint32_t written, int each) {
    return [=](vm::ChunkWriter& w) {
        w.BeginChunk(id);
        vm::PutU32(w, n);
        for (uint32_t i = 0; i < written * static_cast<uint32_t>(each); ++i)
            vm::PutF32(w, 0.5f);
        w.EndChunk();
    };
}
MeshChunk Vertices(uint32_t n, uint32_t written) { return Counted(vm::chunk_vertices, n, written, 3); }
MeshChunk Soft(uint32_t n, uint32_t written) { return Counted(vm::chunk_soft_selection, n, written, 1); }
MeshChunk Selection(uint32_t bits, std::vector<uint8_t> bytes) {
    return [=](vm::ChunkWriter& w) {
        w.BeginChunk(vm::chunk_selection);
        vm::PutU32(w, bits);
        for (uint8_t b : bytes)
            vm::PutU8(w, b);
        w.EndChunk();
    };
}
MeshChunk Face(int a, int b, int c) {
    return [=](vm::ChunkWriter& w) {
        w.BeginChunk(vm::chunk_faces);
        vm::PutU32(w, 1);
        for (int v : {a, b, c})
            vm::PutI32(w, v);
        w.EndChunk();
    };
}
Mesh& BaseMesh(vm::Scene& s) { return static_cast<TriObject*>(vm::Scene::BaseObjectOf(s.Nodes()[0]))->mesh; }

TEST(SceneFile, PerVertexArraysMustMatchTheMeshExactly) {
    const std::string inMesh = " (in chunk 0x0100 > 0x0300 > 0x0320)";
    // soft-selection weights: one per vertex, neither fewer nor more, in whichever chunk order
    EXPECT_EQ(ErrorOf(NodeWithMesh({Vertices(3, 3), Soft(2, 2)})),
              "f.vms: byte 31: 2 soft-selection weights for 3 vertices" + inMesh);
    EXPECT_EQ(ErrorOf(NodeWithMesh({Vertices(3, 3), Soft(4, 4)})),
              "f.vms: byte 31: 4 soft-selection weights for 3 vertices" + inMesh);
    auto softFirst = vm::ParseSceneFile(NodeWithMesh({Soft(3, 3), Vertices(3, 3)}), "f.vms");
    ASSERT_TRUE(BaseMesh(*softFirst).vDataSupport(0));
    EXPECT_FLOAT_EQ(BaseMesh(*softFirst).vertexFloat(0)[2], 0.5f);
    // counts that promise one element more than the chunk holds
    EXPECT_EQ(ErrorOf(NodeWithMesh({Vertices(2, 1)})),
              "f.vms: byte 43: vertex count 2 needs at least 24 bytes but only 12 are left "
              "(in chunk 0x0100 > 0x0300 > 0x0320 > 0x0321)");
    EXPECT_NE(ErrorOf(NodeWithMesh({Vertices(2, 2), Soft(2, 1)}))
                  .find("weight count 2 needs at least 8 bytes but only 4 are left"),
              std::string::npos);
    // faces: every corner names a vertex from 0 to count - 1
    EXPECT_NE(
        ErrorOf(NodeWithMesh({Vertices(3, 3), Face(0, 3, 1)})).find("byte 31: a face uses vertex 3 of 3"),
        std::string::npos);
    EXPECT_NE(
        ErrorOf(NodeWithMesh({Vertices(3, 3), Face(0, -1, 1)})).find("byte 31: a face uses vertex -1 of 3"),
        std::string::npos);
    EXPECT_EQ(ErrorOf(NodeWithMesh({Vertices(3, 3), Face(2, 0, 1)})), "(loaded)");
    // selection bits: packed 8 to a byte, the last byte partly used
    EXPECT_EQ(ErrorOf(NodeWithMesh({Selection(9, {0xff})})),
              "f.vms: byte 47: selection of 9 bits runs past the chunk "
              "(in chunk 0x0100 > 0x0300 > 0x0320 > 0x0323)");
    auto eight = vm::ParseSceneFile(NodeWithMesh({Vertices(8, 8), Selection(8, {0x81})}), "f.vms");
    const BitArray& bits = BaseMesh(*eight).vertSel;
    EXPECT_EQ(bits.GetSize(), 8);
    EXPECT_EQ(bits.NumberSet(), 2);
    EXPECT_EQ(bits[0], 1);
    EXPECT_EQ(bits[7], 1);
}

TEST(SceneFile, UnknownChunksAreSkipped) {
    std::string bytes = FileWith([](vm::ChunkWriter& w) {
        w.BeginChunk(0x7777);
        vm::PutU32(w, 1);
        w.EndChunk();
        w.BeginChunk(vm::chunk_node);
        w.BeginChunk(0x7778);
        w.EndChunk();
        w.BeginChunk(vm::chunk_node_name);
        vm::PutStr(w, "N");
        w.EndChunk();
        w.BeginChunk(vm::chunk_mesh);
        w.BeginChunk(0x7779);
        w.EndChunk();
        w.EndChunk();
        w.EndChunk();
    });
    auto s = vm::ParseSceneFile(bytes, "f.vms");
    ASSERT_EQ(s->Nodes().size(), 1u);
    EXPECT_STREQ(s->Nodes()[0]->GetName(), "N");
}

TEST(SceneFile, SavingWritesWholeFilesOrNone) {
    fs::path dir = fs::temp_directory_path() / ("vms-" + std::to_string(testing_support::ProcessId()));
    fs::create_directories(dir);
    auto scene = MakeScene();
    std::string target = (dir / "s.vms").string();
    std::ofstream(target) << "old";
    vm::SaveSceneFile(*scene, target);
    EXPECT_EQ(vm::SceneFileBytes(*vm::LoadSceneFile(target)), vm::SceneFileBytes(*scene));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    std::string nowhere = (dir / "no" / "s.vms").string();
    try {
        vm::SaveSceneFile(*scene, nowhere);
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const vm::SceneFileError& e) {
        // the system's reason follows, in its own words (Windows: "Path not found")
        EXPECT_EQ(std::string(e.what()).rfind(nowhere + ": cannot be written: ", 0), 0u) << e.what();
    }
    EXPECT_THROW(vm::LoadSceneFile((dir / "missing.vms").string()), vm::SceneFileError);
    EXPECT_THROW(vm::LoadSceneFile(dir.string()), vm::SceneFileError);
    fs::remove_all(dir);
}

} // namespace
