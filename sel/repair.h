// Repair planning: what a consistent file made from a damaged or incomplete one would hold, decided
// only where nothing must be guessed. The cache tool's repair verb writes a plan; verify's hint and
// the Python module's verify ask whether one exists.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sel/verify.h"

namespace sel {

// A repair: what to write, or why not.
struct RepairPlan {
    bool ok = false;
    int64_t at = 0;           // of a refusal
    std::string reason;       // of a refusal
    bool needsPoints = false; // a refusal that --points would settle
    std::vector<std::string> actions;
    CacheHeader header{};
    int64_t recordsEnd = kHeaderBytes; // bytes 12 to recordsEnd are copied from the input
    int64_t tableAt = -1;              // >= 0: the count table is copied from here
    std::vector<int32_t> counts;       // otherwise the table written, when variable
};

// Plans the repair of `src`. Any bytes are safe input: a file that cannot be mended without guessing
// gives a refusal (ok false, the byte and the reason), never a plan. `points`, when given, is the
// number of records per sample, which settles whether a last sample is whole. `stop` is asked
// between chunks; true gives the refusal "stopped".
RepairPlan PlanRepair(const Source& src, std::optional<int32_t> points, const std::function<bool()>& stop);

// The file a plan writes, read without writing it: the header, records copied from the input, then
// the count table (copied or rebuilt). Holds references to both: they must outlive it.
class RepairedSource : public Source {
  public:
    RepairedSource(const RepairPlan& plan, const Source& in);
    int64_t Size() const override;
    size_t ReadAt(int64_t offset, void* dst, size_t n) const override;

  private:
    const RepairPlan& plan_;
    const Source& in_;
    std::string head_, table_;
    int64_t tableBytes_ = 0;
};

} // namespace sel
