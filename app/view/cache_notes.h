// The page's note on a cache file: why it cannot play (as `tessarin verify` gives it first), or, for
// one that plays, the first fault `tessarin verify` finds in it (two samples at one tick, say), so a
// damaged cache that still plays does not pass without a word.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace app::view {

class CacheNotes {
  public:
    // "" for a file with nothing to say; else "FILE: ..." and what the modifier does with it.
    // A whole-file check is made once per file, size and change time.
    std::string For(const std::string& name);

  private:
    struct Checked {
        int64_t size = -1, changed = 0;
        std::string note;
    };
    std::map<std::string, Checked> checked_;
};

} // namespace app::view
