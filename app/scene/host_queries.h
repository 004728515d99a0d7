// Finding nodes and modifiers the way a host user names them, printing a node's selection, and the
// failures and stops the host saw meanwhile.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/scene.h"
#include "sel/reader.h"

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

// What a vertex's selection amounts to: 1.0 for a selected vertex (whatever its channel holds, as
// playback leaves the channel of a vertex it selects), else its soft-selection weight, else 0.
float EffectiveWeight(Mesh& mesh, int i);
// The same for vertex i of a loop over the mesh: its selection bit and the soft-selection channel
// (null when the mesh has none).
inline float EffectiveWeight(bool selected, const float* channel, int i) {
    return selected ? 1.0f : channel ? channel[i] : 0.0f;
}

// The mesh's selection as CSV rows "tick,vertex,selected,weight,effective" under
// kSelectionCsvHeader (weight, the raw channel value, "%.9g", empty without a soft-selection
// channel; effective as EffectiveWeight, "%.9g").
extern const char* const kSelectionCsvHeader;
void WriteSelectionCsv(TimeValue t, Mesh& mesh, std::ostream& out);

// The text (on one line) of the first error message box shown since the host record held `boxes`
// of them, or "" when there was none; questions do not count.
std::string ErrorShownSince(size_t boxes);

// Why a file cannot be written at `path`, before anything is done: "is a folder", "its folder X does
// not exist", "no permission to write there"; "" when it looks writable.
std::string WhyUnwritable(const std::string& path);
// The same as one line, for a file a recording would put in place: "" or "NAME: cannot be written:
// WHY", a device or FIFO being "not a plain file".
std::string RefusedTarget(const std::string& name);

// After `recorder` showed an error while recording: "recording failed: FILE could not be written"
// with the likely reason (its folder is missing, it is a folder, no permission), so that the
// command's line names the file the message box does not.
std::string RecordingFailure(Animatable* recorder);

// The samples the cache file at `path` plays (an aborted recording patches its header to what it
// wrote); 0 for a file that is missing or cannot be played.
int64_t SamplesIn(const std::string& path);

// After `recorder` recorded to its end: "wrote FILE: N samples, B bytes".
std::string RecordingSummary(Animatable* recorder);

// After a recording that showed no error and was not stopped, in which the host evaluated the
// scene `evaluations` times: "" when it wrote its cache file, else why nothing was recorded
// ("nothing was recorded: no cache file was chosen"): a dialog cancelled or a question to replace
// a file answered no leave the recorder silent, and that is no success. A recording evaluates
// every frame it records, so none evaluated is none recorded.
std::string NothingRecorded(Animatable* recorder, long evaluations);

// A parameter's value at time 0 (float or const char*); `value` as given when the object has no
// parameter of that name.
template <typename T> T ParamAtZero(Animatable* object, const char* name, T value);

// The name of the parameter through which the app reads and sets a plug-in modifier's cache file.
inline constexpr const char* kCacheFileParameter = "cache_file";
// The object's cache file parameter at time 0; null when it has none.
const char* CacheFileOf(Animatable* object);

// After `recorder` recorded, starting when the host record counted `escapesBefore` Escape presses:
// when Escape (Ctrl-C on the command line) stopped it, one line on stderr saying what its cache file
// kept, then `andThen` if not empty, and true; false when the recording ran to its end.
bool SayIfRecordingStopped(int escapesBefore, Animatable* recorder, const std::string& andThen = "");

// Opens the cache file `name` where the modifier finds it: as named, else by its file name in the
// host's directory 2 (when the named one cannot be opened). checkLayout: Open (its layout read, its
// counts not kept), else OpenBytes. A file found nowhere answers the named one's refusal.
// `problem`, when given, receives the reader's problem of the answer given.
sel::Status OpenCache(const std::string& name, sel::CacheReader& reader, bool checkLayout,
                      sel::CacheReader::Problem* problem = nullptr);

// Where the modifier finds the cache file `name` (as OpenCache looks), else "" (missing).
std::string FindCacheFile(const std::string& name);

// A file a verb reads, and what it is to the verb ("the scene", "the cache file of node \"A\"").
struct InputFile {
    std::string path, what;
};
// The cache files that the scene's plug-in modifiers name and that exist, each as found.
std::vector<InputFile> CacheInputs(vm::Scene& scene);
// The scene file at `scenePath` and the cache files its scene reads.
std::vector<InputFile> InputsOf(const std::string& scenePath, vm::Scene& scene);
// Throws std::runtime_error ("TARGET: is WHAT; write to another name") when `target` is one of
// `inputs`, compared by file identity, so another spelling, a symbolic or a hard link is caught too.
// A target that does not exist yet is no input.
void RefuseToWriteOver(const std::string& target, const std::vector<InputFile>& inputs);

// Why the cache file `name` cannot be played, as the cache tool's verify words it:
// `NAME: byte N: REASON (incomplete|damaged)`, or `NAME: not found`; "" when it plays. The file is
// looked for as FindCacheFile looks. Reads only the header and the count table.
std::string WhyUnplayable(const std::string& name);

// "recording stopped: FILE keeps N samples (every frame up to the stop)", N as the file's header
// says now (0 when it cannot be read).
std::string StoppedRecordingLine(const std::string& cacheFile);

// One line for each switched-on plug-in modifier of the scene whose cache file cannot be played,
// with the reason the cache tool's verify gives: `FILE: byte N: REASON (incomplete|damaged)`, or
// `FILE: not found`, after `node "NAME": cache ` . The file is looked for where the modifier
// looks: as named, then by its name in the host's directory 2. Modifiers with no cache_file set
// say nothing. Reads only each file's header and count table.
std::vector<std::string> UnplayableCaches(vm::Scene& scene);

// Writes the lines of UnplayableCaches (of every node, or of `only`) to stderr ("vomark: " first),
// one for each cache however many nodes play it (`node "A" and 9 other nodes: cache ...`), each
// once: `said` keeps what was said, so a verb that evaluates again and again says each once.
// Answers whether some cache is there but could not be read at all (no permission, a folder, not a
// plain file): the verb then ends with status 1, a cache merely missing or failing its checks
// leaving its status as it is.
bool SayUnplayableCaches(vm::Scene& scene, std::vector<std::string>& said, INode* only = nullptr);

} // namespace app
