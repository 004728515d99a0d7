// diff: two files compared as they play (samples per frame, counts, weights); ticks are not compared,
// as no reader uses them.
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "tools/tessarin/verbs.h"

namespace tessarin {

namespace {
struct Place {
    int32_t sample = -1, vertex = -1;
    float a = 0, b = 0;
};

std::string Where(const Place& p) {
    return "sample " + std::to_string(p.sample) + ", vertex " + std::to_string(p.vertex) + ": " +
           WeightText(p.a) + " against " + WeightText(p.b);
}

// Two weights differ by this much; a non-finite weight differs infinitely from anything but itself.
double Distance(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : INFINITY;
    if (a == b) return 0;
    return std::fabs(double(a) - double(b));
}

// Reads the current samples of both walks chunk by chunk against each other.
void CompareSample(sel::SampleWalker& wa, sel::SampleWalker& wb, double tolerance, Place& first,
                   Place& largest, double& largestDistance, int64_t& differing) {
    int32_t shared = std::min(wa.Count(), wb.Count());
    size_t na = 0, nb = 0, ia = 0, ib = 0;
    int32_t fa = 0, fb = 0;
    const sel::SampleRecord *ra = nullptr, *rb = nullptr;
    for (int32_t v = 0; v < shared; ++v) {
        if (ia == na) ra = wa.Records(na, fa), ia = 0;
        if (ib == nb) rb = wb.Records(nb, fb), ib = 0;
        if (na == 0 || nb == 0) return; // a read failure; the caller reports it
        float a = ra[ia++].weight, b = rb[ib++].weight;
        double d = Distance(a, b);
        if (d > tolerance) {
            if (differing++ == 0) first = {wa.Index(), v, a, b};
            if (d > largestDistance) largestDistance = d, largest = {wa.Index(), v, a, b};
        }
    }
}
} // namespace

int Diff(const sel::Source& a, const std::string& nameA, const sel::Source& b, const std::string& nameB,
         double tolerance, Context& ctx) {
    sel::Layout la, lb;
    for (auto [src, name, layout] : {std::tuple{&a, &nameA, &la}, std::tuple{&b, &nameB, &lb}}) {
        sel::Status s = sel::ReadLayout(*src, *layout, false);
        if (!s.ok) {
            ctx.err << At(*name, s.at, s.message) << "\n";
            return 1;
        }
    }
    std::vector<std::string> lines;
    if (la.header.samplesPerFrame != lb.header.samplesPerFrame)
        lines.push_back("samples per frame: " + std::to_string(la.header.samplesPerFrame) + " against " +
                        std::to_string(lb.header.samplesPerFrame));
    if (la.samples != lb.samples)
        lines.push_back("samples: " + std::to_string(la.samples) + " against " + std::to_string(lb.samples));
    sel::SampleWalker wa(a, la), wb(b, lb);
    Place first, largest, countAt;
    double largestDistance = 0;
    int64_t differing = 0, countsDiffer = 0;
    int32_t countA = 0, countB = 0;
    while (wa.Next() && wb.Next()) {
        if (ctx.stop()) {
            ctx.err << nameA << ": stopped at sample " << wa.Index() << "; nothing was concluded\n";
            return kStopped;
        }
        if (wa.Count() != wb.Count() && countsDiffer++ == 0)
            countAt.sample = wa.Index(), countA = wa.Count(), countB = wb.Count();
        CompareSample(wa, wb, tolerance, first, largest, largestDistance, differing);
    }
    for (auto [walk, name] : {std::pair{&wa, &nameA}, std::pair{&wb, &nameB}})
        if (walk->Failed()) {
            ctx.err << At(*name, walk->FailedAt(), "cannot be read here (did it change while read?)") << "\n";
            return 1;
        }
    if (countsDiffer)
        lines.push_back("count table: " + Counted(countsDiffer, "entry differs", "entries differ") +
                        ", first at sample " + std::to_string(countAt.sample) + ": " +
                        std::to_string(countA) + " against " + Counted(countB, "record"));
    if (differing) {
        char d[32];
        std::snprintf(d, sizeof d, "%.9g", largestDistance);
        lines.push_back("weights: " + Counted(differing, "differs", "differ") +
                        " by more than the tolerance");
        lines.push_back("first difference: " + Where(first));
        lines.push_back("largest difference: " + std::string(d) + " at " + Where(largest));
    }
    if (lines.empty()) {
        ctx.out << nameA << " and " << nameB << " are equal within " << tolerance << " ("
                << Counted(la.samples, "sample") << ")\n";
        return 0;
    }
    ctx.out << nameA << " and " << nameB << " differ\n";
    for (const auto& l : lines)
        ctx.out << "  " << l << "\n";
    return 1;
}

ToolVerb AddDiffVerb(CLI::App& app) {
    struct Options {
        std::string a, b;
        double tolerance = 0;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command =
        app.add_subcommand("diff", "Compare two files as they play (exit 0 equal, 1 different or unreadable)");
    AddFileArgument(command, o->a, "the first cache file");
    command->add_option("B", o->b, "the second cache file")->required();
    command->add_option("--tolerance", o->tolerance, "largest weight difference taken as equal")
        ->check(AtLeast(0, "a weight difference"));
    return {command, [o](Context& ctx) {
                sel::CacheReader a, b;
                if (!OpenCache(o->a, a, true, ctx) || !OpenCache(o->b, b, true, ctx)) return 1;
                return Diff(a.GetSource(), o->a, b.GetSource(), o->b, o->tolerance, ctx);
            }};
}

} // namespace tessarin
