// Recording a part: frames A to B of the modifier's range, so that `tessarin join` makes of the parts
// the file one recording of the whole range writes.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "runtime/scene.h"
#include "scene/scene_description.h"
#include "sel/part.h"
#include "scene/staging.h"

namespace app {

// Frames "A:B" (whole numbers, A <= B); throws std::invalid_argument otherwise.
void ParseFrameRange(const std::string& text, int& first, int& last);

// Set up before the recorder runs: points the modifier at frames A to B (its own range is the
// whole), and watches what reaches it so that the join can carry running largest weights across the
// part's start. A part and its part record are one unit: the recording goes into a file beside the
// part (Stage), the record beside the record's place, and Land() puts both in place together once
// both are whole on the disk; until then the old part and its record stay as they were, and
// whatever was not put in place is removed when the recording ends (however it ends).
class PartRecording {
  public:
    // `identity`: what makes two parts parts of one recording (the scene's bytes, node, settings).
    PartRecording(vm::Scene& scene, Modifier* mod, int first, int last, const std::string& identity);
    ~PartRecording();
    PartRecording(const PartRecording&) = delete;
    PartRecording& operator=(const PartRecording&) = delete;

    // Takes the part's name from the modifier's cache_file. Throws std::runtime_error ("PART: cannot
    // be written: WHY") when the part or its record could not be put in place (a folder, a device, no
    // permission, no such folder), before anything is recorded.
    void Check(Modifier* mod);
    // Check(), then takes the part's lock (RecordingLock: std::runtime_error while another recording
    // of the part runs) and points cache_file at a new name beside the part for the recording.
    void Stage(Modifier* mod);
    // cache_file names the part again (the recording's messages and summary name the part).
    void Unstage(Modifier* mod);
    const std::string& Name() const { return name_; }
    // Whether the recording left a file beside the part.
    bool Recorded() const;
    // Whether a part stands under the part's name (one recorded before).
    bool PartStands() const;
    // Writes the part record beside its place and puts the recorded part and the record in place
    // together (sel::ReplaceTogether): "" or the line naming the file that could not be written and
    // why; on failure the old part and record are as they were.
    std::string Land();
    const sel::PartRecord& Record() const { return part_; }

  private:
    void Watch(vm::Scene& scene, Modifier* mod, bool firstFrameOnce, bool preRoll);
    sel::PartRecord part_;                  // the watchers below the modifier fill in what they see
    std::string name_, recordName_;         // the part and its record, as named
    std::string stagedPart_, stagedRecord_; // beside them until Land()
    std::unique_ptr<RecordingLock> lock_;   // let go after the staging has cleaned up
    Staging staging_;
    bool landed_ = false;
};

struct PartRequest {
    std::string frames; // "A:B"
    std::string scenePath;
    std::vector<std::string> sets;   // the --set options given (PARAM=VALUE)
    std::vector<std::string> inputs; // the other files the recording reads (RecordingInputs)
};
// Parses --frames and names the part's cache file (the scene's, with ".frames-A-B" before the
// extension, unless --set cache_file= named one; a scene's cache file that is a device or FIFO is
// refused then); Stage() comes next. What makes two parts parts of one recording: the scene's bytes,
// the node, the modifier's place in its stack, the --set options but cache_file, and the bytes of
// the request's inputs. Throws std::invalid_argument for a bad request.
std::unique_ptr<PartRecording> BeginPart(vm::Scene& scene, INode* node, Modifier* mod,
                                         const PartRequest& request);

// The files besides the scene whose bytes a recording by `mod` depends on: what the description
// loaded (OBJ meshes), the cache files that other plug-in modifiers in the stacks `mod` sits in
// play, and `module`, the plug-in module holding the modifier's class (none when empty).
std::vector<std::string> RecordingInputs(const BuiltScene& built, Modifier* mod, const std::string& module);

// A short hex fingerprint of some texts, then of the bytes of some files (a missing one counts as
// missing).
std::string Fingerprint(const std::vector<std::string>& texts, const std::vector<std::string>& files = {});

} // namespace app
