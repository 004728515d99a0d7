// tessarin's verbs on the command line: each declares its options in the file that holds its work
// and answers a ToolVerb; main.cpp puts them on the command line and runs the one given.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "sel/output.h"
#include "sel/reader.h"
#include "tools/tessarin/tool.h"

namespace tessarin {

struct ToolVerb {
    CLI::App* command;
    std::function<int(Context&)> run;
    bool shows = false; // a long verb: it shows how far it has come on stderr
};

ToolVerb AddInfoVerb(CLI::App& app);
ToolVerb AddVerifyVerb(CLI::App& app);
ToolVerb AddDumpVerb(CLI::App& app);
ToolVerb AddPlotVerb(CLI::App& app);
ToolVerb AddDiffVerb(CLI::App& app);
ToolVerb AddRepairVerb(CLI::App& app);
ToolVerb AddImportVerb(CLI::App& app);
ToolVerb AddExportVerb(CLI::App& app);
ToolVerb AddJoinVerb(CLI::App& app);

// What the verbs' declarations share: the file they read, a bound or a finite number said in words
// (where the library's own check would print the largest double in full), --format.
void AddFileArgument(CLI::App* verb, std::string& file, const char* what = "the cache file");
CLI::Validator AtLeast(double least, const std::string& what);
CLI::Validator Finite(const std::string& what);
Format FormatOf(const std::string& s);

// Opens a cache for a verb: with `plays`, only one whose layout plays (the others report on any file);
// prints the one-line error (and, for json, the error object).
bool OpenCache(const std::string& path, sel::CacheReader& in, bool plays, Context& ctx,
               Format format = Format::Text);
// OUT for writing (sel/output.h), refused when it is one of `inputs`, before any work is done; prints
// the one-line error.
bool OpenOutput(const std::string& path, const std::vector<std::string>& inputs, sel::OutputFile& out,
                Context& ctx, const char* another = "write to another name");
// After the verb that wrote into OUT: a write OUT refused is the line to print (its name and the
// system's reason); else a verb that succeeded has OUT put in its place. Answers the exit code.
int Close(int code, sel::OutputFile& out, Context& ctx);

} // namespace tessarin
