// What the page is shown, read off the host's objects: the panel's controls, the modifier stack, the
// mesh and its weights in the binary forms the viewport uploads as they are. Host thread only.
#pragma once
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "runtime/scene.h"
#include "runtime/window.h"

namespace app::view {

// The panel's window and controls as laid out in its template, with each control's state and the
// parameter it is bound to.
nlohmann::json PanelJson(vm::Panel& panel);

// The node's modifiers as a stack list shows them: world-space ones first, then the object-space
// ones from the top down.
std::vector<Modifier*> StackOf(INode* node);
nlohmann::json StackJson(INode* node, Modifier* edited);

// Little-endian: u32 vertex count, u32 face count, f32 x 3 per vertex, u32 x 3 per face.
std::string EncodeMesh(Mesh& mesh);
// Little-endian: u32 vertex count, i32 tick, u32 flags (1: the mesh has a weight channel), f32 per
// vertex (the channel's weight, else 1 for a selected vertex and 0), then the selection bits,
// vertex i in bit i % 8 of byte i / 8.
std::string EncodeWeights(Mesh& mesh, TimeValue tick);

// The modifier's name as a stack and a script show it.
std::string ModifierName(Modifier* modifier);
// The macro-recorder line of a parameter set from the panel, as `vomark run` reads it back:
// $.modifiers[#NAME].internal_name = VALUE; empty when the control is bound to no parameter.
std::string ParameterLine(vm::Panel& panel, Modifier* modifier, int controlId);

} // namespace app::view
