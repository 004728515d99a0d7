// A whole recording of a modifier into its cache file, staged beside it: what stood under the cache
// file's name stays byte for byte until the recording ends, and a stop nobody typed keeps it.
#pragma once
#include <string>

#include "runtime/scene.h"
#include "scene/staging.h"

namespace app {

// What became of a staged recording: status 0 with the summary ("wrote FILE: N samples, B bytes"),
// 1 with why it failed ("nothing was recorded: ..."), or the stop's status with what was kept.
struct Landing {
    int status = 0;
    std::string line;
};

class WholeRecording {
  public:
    // Points `mod`'s cache file parameter at a file beside its cache file when that is a plain file
    // or missing and looks writable; anything else (no file chosen, a device, a folder) is recorded
    // as named, and the recorder says what fails.
    explicit WholeRecording(Modifier* mod);
    // The recording call has returned: the parameter names the cache file again.
    void Unstage();
    bool Staged() const { return !staged_.empty(); }
    // After a staged recording that showed no error. The recording takes the cache file's place, with
    // Escape and Ctrl-C too (what was recorded so far is what was asked for). A SIGTERM (a farm's
    // cancel, a shutdown) leaves a cache file that stood as it was, and the frames recorded so far
    // beside it under a name the line gives, with how to put them in its place.
    Landing Land(bool stopped, long evaluations);

  private:
    Modifier* mod_;
    Staging staging_;
    std::string target_, staged_;
    bool stood_ = false;
};

} // namespace app
