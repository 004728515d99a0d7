// The cache files a scene plays: found where the modifier finds them (as named, else in the host's
// second folder), what a verb must not write over, and why one cannot be played.
#pragma once
#include <string>
#include <vector>

#include "runtime/scene.h"
#include "sel/reader.h"

namespace app {

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
