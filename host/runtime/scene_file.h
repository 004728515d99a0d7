// The host's scene file (.vms): a magic word, a version and one chunk holding the whole scene,
// written and read with the same chunk writer and reader that plug-ins see. docs/scene-files.md
// gives the layout.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "runtime/scene.h"
#include "runtime/scene_io.h"

namespace vm {

constexpr char kSceneFileMagic[4] = {'V', 'M', 'S', 'C'};
constexpr uint32_t kSceneFileVersion = 1;

// Chunk ids of the host's own chunks.
enum SceneChunk : USHORT {
    chunk_scene = 0x0100,
    chunk_settings = 0x0110,
    chunk_directory = 0x0120,
    chunk_modifier = 0x0200,
    chunk_class = 0x0210,
    chunk_flags = 0x0220,
    chunk_name = 0x0230,
    chunk_param_block = 0x0240,
    chunk_block_id = 0x0241,
    chunk_param = 0x0242,
    chunk_select_keys = 0x0250,
    chunk_soft_select = 0x0260,
    chunk_trim = 0x0270,
    chunk_plugin_data = 0x0280,
    chunk_node = 0x0300,
    chunk_node_name = 0x0310,
    chunk_mesh = 0x0320,
    chunk_vertices = 0x0321,
    chunk_faces = 0x0322,
    chunk_selection = 0x0323,
    chunk_soft_selection = 0x0324,
    chunk_mesh_flags = 0x0325,
    chunk_derived = 0x0330,
    chunk_world_derived = 0x0340,
};

struct SceneFileOptions {
    // Quiet mode for the loaded scene, already while its post-load callbacks run. Quiet mode
    // belongs to the running host, so scene files do not hold it.
    bool quiet = false;
};

// True when the bytes start with the scene file's magic word.
bool LooksLikeSceneFile(const std::string& bytes);

// The scene as scene-file bytes. Throws SceneFileError for a scene the file cannot hold.
std::string SceneFileBytes(Scene& scene);

// Builds a scene from scene-file bytes; `fileName` names the file in errors. The new scene is the
// active one. Modifiers are made through the class directory (classes no loaded module provides
// become UnknownModifier, with one warning entry in the host log per class id); each plug-in
// modifier's Load sees its own chunks; the post-load callbacks run once at the end, when every
// chunk has been read. Damaged, truncated or foreign bytes throw SceneFileError, with nothing of
// the half-built scene left behind and no allocation larger than the bytes allow.
std::unique_ptr<Scene> ParseSceneFile(std::string bytes, const std::string& fileName,
                                      const SceneFileOptions& options = {});

// Reads and parses the file; an unreadable file throws SceneFileError too.
std::unique_ptr<Scene> LoadSceneFile(const std::string& path, const SceneFileOptions& options = {});

// Writes the scene to `path` as sel::OutputFile writes any output (whole or not at all, through a
// link to the file it leads to, directly into a device or FIFO, keeping the old file's permissions).
// Answers the bytes written. Throws SceneFileError (offset 0), "PATH: cannot be written: REASON"
// (or "PATH: is a folder"), when it cannot be written.
size_t SaveSceneFile(Scene& scene, const std::string& path);

// The modifier chunks of a scene file, saved and loaded by class (scene_file_modifiers.cpp).
void SaveModifier(ChunkWriter& w, Modifier* mod);
// Loads one modifier chunk (open in `in`) into a new modifier; `warn` is called once per class id
// that no loaded module provides.
Modifier* LoadModifier(SceneInput& in, const std::function<void(Class_ID)>& warn);

} // namespace vm
