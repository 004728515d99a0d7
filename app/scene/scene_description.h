// Scene descriptions (JSON) turned into host scenes.
#pragma once
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/scene.h"

namespace app {

// A description that cannot be used; the message names the key or value at fault.
struct SceneError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct BuiltScene {
    std::unique_ptr<vm::Scene> scene;
    // Plug-in modifiers by their "id" (kept as the modifier's name in its stack), for
    // {"instance": id} and for verbs that address one.
    std::map<std::string, Modifier*> modifiersById;
    // Values the scene took other than as written (a number clamped to its parameter's range), each
    // "WHERE = VALUE: outside L to H, clamped to X"; LoadScene prints them after the file's name.
    std::vector<std::string> warnings;
    // The files the description read besides itself (OBJ meshes), as resolved, in the order read.
    std::vector<std::string> files;
};

// Why the file at `path` cannot be read, in a few words: "is a folder", "no such file"...
std::string WhyUnreadable(const std::string& path);
// `p` read against the folder `baseDir` unless it starts at a root ("/x", "C:\\x"); "" stays "".
std::string ResolvePath(const std::string& baseDir, const std::string& p);

// Reads the file and builds its scene: a scene file (.vms, told by its magic word or its
// extension) or a JSON description. `quiet` puts the scene in quiet mode before anything of it
// runs. Throws SceneError for a description, vm::SceneFileError for a scene file.
BuiltScene LoadScene(const std::string& path, bool quiet = false);
// Builds from JSON text; relative paths are taken relative to `baseDir`.
BuiltScene BuildScene(const std::string& jsonText, const std::string& baseDir);

// The parameter named `name` among the object's blocks, with its block; null when there is none.
const ParamDef* FindParameter(Animatable* object, const std::string& name, IParamBlock2** block);

// Applies command-line `--set PARAM=VALUE` texts in order; throws std::invalid_argument naming the
// one that does not fit.
void ApplySets(Animatable* object, const std::vector<std::string>& sets);

// Sets a parameter of the modifier's blocks by internal name from text ("1.5", "2", "on", a path).
// Throws SceneError when there is no such parameter or the value does not fit its type. Answers
// "outside L to H, clamped to X" for a number the parameter's range clamped, else "".
std::string SetParameterFromText(Animatable* object, const std::string& name, const std::string& value);

} // namespace app
