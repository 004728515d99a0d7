// tessarin join's reading of a part: its part record (text), then, after a line "--", the bytes of its
// cache file. A record that reads writes back to the same text; the join of the part must stay inside
// the data whatever the record claims (counts, restarts, frames), with the record as given and with
// its checksums made right for the bytes (so that the join goes on past them).
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "sel/format.h"
#include "sel/part.h"
#include "tools/tessarin/tool.h"

namespace {
void JoinOnceAndTwice(const sel::Source& src, const std::string& record) {
    auto open = [&src](std::string&) { return tessarin::PartBytes(tessarin::PartBytes(), &src); };
    std::vector<tessarin::JoinPart> parts{{"p.sel", open, true, record}, {"q.sel", open, true, record}};
    std::ostringstream out, err;
    tessarin::Context ctx{out, err};
    sel::MemorySink sink;
    tessarin::Join({parts[0]}, sink, "out.sel", ctx);
    tessarin::Join(parts, sink, "out.sel", ctx);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t cut = text.find("\n--\n");
    std::string record = text.substr(0, cut);
    std::string file = cut == std::string::npos ? std::string() : text.substr(cut + 4);
    sel::MemorySource src(file.data(), file.size());
    JoinOnceAndTwice(src, record);
    sel::PartRecord part;
    if (sel::DecodePartRecord(record, part).empty()) {
        sel::PartRecord again;
        if (!sel::DecodePartRecord(sel::EncodePartRecord(part), again).empty() ||
            sel::EncodePartRecord(again) != sel::EncodePartRecord(part))
            std::abort();
        if (tessarin::FillChecksums(src, part)) JoinOnceAndTwice(src, sel::EncodePartRecord(part));
    }
    return 0;
}
