// Finding nodes and modifiers the way a host user names them, a node's evaluated mesh, and the
// parameters the app reads of a plug-in modifier.
#pragma once
#include <string>

#include "runtime/scene.h"

namespace app {

// The node named `name`; with an empty name the scene's only node. Throws std::invalid_argument
// otherwise, a mistake of the command line rather than of the scene.
INode* PickNode(vm::Scene& scene, const std::string& name);

// The class descriptor of a plug-in modifier; null for the host's own modifiers.
ClassDesc2* ClassOf(Modifier* mod);

// The topmost object-space modifier of the node whose class publishes `function`, or null.
Modifier* FindScriptedModifier(INode* node, const char* function);

// The topmost modifier of the node (world-space part first) whose name in the stack is `name`,
// compared without case and with '_' standing for a blank, as scripts write `#Name`; or null.
Modifier* FindModifierNamed(INode* node, const std::string& name);

// The node's mesh evaluated at t (owned by the scene until the node's next evaluation). Throws
// SceneError when the node yields no mesh.
Mesh& EvaluatedMesh(vm::Scene& scene, INode* node, TimeValue t);

// A parameter's value at time 0 (float or const char*); `value` as given when the object has no
// parameter of that name.
template <typename T> T ParamAtZero(Animatable* object, const char* name, T value);

// The name of the parameter through which the app reads and sets a plug-in modifier's cache file.
inline constexpr const char* kCacheFileParameter = "cache_file";
// The object's cache file parameter at time 0; null when it has none.
const char* CacheFileOf(Animatable* object);

} // namespace app
