// The page's note on a cache file: why it cannot play (as `tessarin verify` gives it first), or, for
// one that plays, the first fault `tessarin verify` finds in it (two samples at one tick, say), so a
// damaged cache that still plays does not pass without a word.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "sel/files.h"

namespace app::view {

class CacheNotes {
  public:
    // "" for a file with nothing to say; else "FILE: ..." and what the modifier does with it.
    // A whole-file check is made once for each state of a file (sel::FileStamp).
    std::string For(const std::string& name);

  private:
    struct Checked {
        sel::FileStamp stamp;
        std::string note;
        bool checked = false;
    };
    std::map<std::string, Checked> checked_;
};

} // namespace app::view
