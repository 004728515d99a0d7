// What the verbs' declarations on the command line share, and how they open their files.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/tessarin/verbs.h"

namespace tessarin {

void AddFileArgument(CLI::App* verb, std::string& file, const char* what) {
    verb->add_option("FILE", file, what)->required();
}

CLI::Validator AtLeast(double least, const std::string& what) {
    char bound[32];
    std::snprintf(bound, sizeof bound, "%g", least);
    std::string words = std::string(" is not ") + what + "; give " + bound + " or more";
    return CLI::Validator(
        [least, words](std::string& text) -> std::string {
            double v = std::strtod(text.c_str(), nullptr);
            return std::isnan(v) || v < least ? text + words : "";
        },
        std::string("X >= ") + bound);
}

// "nan" or "inf" would reach the picture's axis labels.
CLI::Validator Finite(const std::string& what) {
    std::string words = std::string(" is not ") + what;
    return CLI::Validator(
        [words](std::string& text) -> std::string {
            return std::isfinite(std::strtod(text.c_str(), nullptr)) ? "" : text + words;
        },
        "FINITE");
}

Format FormatOf(const std::string& s) {
    return s == "json" ? Format::Json : s == "csv" ? Format::Csv : Format::Text;
}

bool OpenCache(const std::string& path, sel::CacheReader& in, bool plays, Context& ctx, Format format) {
    sel::Status status = plays ? in.Open(path, false) : in.OpenBytes(path);
    if (status.ok) return true;
    bool placed = in.LastProblem() == sel::CacheReader::Problem::Layout;
    ctx.err << (placed ? At(path, status.at, status.message) : path + ": " + status.message) << "\n";
    if (format == Format::Json) JsonError(ctx.out, path, placed ? status.at : -1, status.message);
    return false;
}

bool OpenOutput(const std::string& path, const std::vector<std::string>& inputs, sel::OutputFile& out,
                Context& ctx, const char* another) {
    for (const std::string& input : inputs)
        if (sel::SameFile(path, input)) {
            ctx.err << path << ": is the input " << (inputs.size() == 1 ? "file" : input) << "; " << another
                    << "\n";
            return false;
        }
    std::string error = out.Open(path);
    if (!error.empty()) ctx.err << error << "\n";
    return error.empty();
}

int Close(int code, sel::OutputFile& out, Context& ctx) {
    if (code == kStopped) return code; // the verb said what was not written; OUT is dropped
    std::string error = out.Failed() ? out.Error() : code == 0 ? out.Commit() : "";
    if (!error.empty()) ctx.err << error << "\n";
    return error.empty() ? code : 1;
}

} // namespace tessarin
