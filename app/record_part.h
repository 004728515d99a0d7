// Recording a part: frames A to B of the modifier's range, so that `tessarin join` makes of the parts
// the file one recording of the whole range writes.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "runtime/scene.h"
#include "sel/part.h"

namespace app {

// Frames "A:B" (whole numbers, A <= B); throws std::invalid_argument otherwise.
void ParseFrameRange(const std::string& text, int& first, int& last);

// Set up before the recorder runs: points the modifier at frames A to B (its own range is the
// whole), and watches what reaches it so that the join can carry running largest weights across the
// part's start. Finish() then writes the part record beside the cache file.
class PartRecording {
  public:
    // `identity`: what makes two parts parts of one recording (the scene's bytes, node, settings).
    PartRecording(vm::Scene& scene, Modifier* mod, int first, int last, const std::string& identity);
    ~PartRecording();
    PartRecording(const PartRecording&) = delete;
    PartRecording& operator=(const PartRecording&) = delete;
    // "" or why the part record could not be written.
    std::string Finish(const std::string& cacheFile);
    const sel::PartRecord& Record() const { return part_; }

  private:
    void Watch(vm::Scene& scene, Modifier* mod, bool firstFrameOnce, bool preRoll);
    sel::PartRecord part_; // the watchers below the modifier fill in what they see
};

struct PartRequest {
    std::string frames; // "A:B"
    std::string scenePath;
    std::vector<std::string> sets; // the --set options given (PARAM=VALUE)
};
// Parses --frames, names the part's cache file (the scene's, with ".frames-A-B" before the
// extension, unless --set cache_file= named one), and removes a part record left from an earlier
// run. (SIGTERM stops a part as it stops any recording.) Throws std::invalid_argument for a bad
// request.
std::unique_ptr<PartRecording> BeginPart(vm::Scene& scene, INode* node, Modifier* mod,
                                         const PartRequest& request);

// A short hex fingerprint of some texts.
std::string Fingerprint(const std::vector<std::string>& texts);

} // namespace app
