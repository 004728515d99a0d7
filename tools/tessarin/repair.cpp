// repair's writing: the mended file a plan (sel/repair.h) describes, copied into the verb's sink.
#include <algorithm>
#include <vector>

#include "tools/tessarin/tool.h"

namespace tessarin {

bool WriteRepair(const RepairPlan& plan, const sel::Source& src, sel::ByteSink& sink) {
    sel::RepairedSource out(plan, src);
    std::vector<unsigned char> chunk(size_t(1) << 20);
    for (int64_t at = 0; at < out.Size();) {
        size_t n = size_t(std::min<int64_t>(int64_t(chunk.size()), out.Size() - at));
        if (out.ReadAt(at, chunk.data(), n) != n || !sink.Write(chunk.data(), n)) return false;
        at += int64_t(n);
    }
    return true;
}

} // namespace tessarin
