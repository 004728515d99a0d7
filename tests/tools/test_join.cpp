// tessarin join on parts made by a model of the capture: running largest weights carried across part
// starts with the capture's rules for ties (-0 against +0), NaN and point-count changes, also where
// they happen at evaluations that write nothing. And the part record's reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

#include "sel/format.h"
#include "sel/part.h"
#include "tools/tessarin/tool.h"

namespace {
using sel::SampleRecord;

struct Capture {
    std::vector<float> v; // the weights that reach the modifier
    bool writes;          // the sample's last evaluation
};
using Samples = std::vector<std::vector<SampleRecord>>;

// What the capture writes for captures [from, to) when a recording starts at `from`; with `part`, also
// what the part recorder's watcher notes: the first point count and the restarts at captures that
// write nothing.
Samples Record(const std::vector<Capture>& cs, size_t from, size_t to, bool accumulate,
               sel::PartRecord* part) {
    Samples out;
    std::vector<SampleRecord> acc;
    bool fresh = true, allRestart = false;
    std::vector<int32_t> nans;
    for (size_t c = from; c < to; ++c) {
        const std::vector<float>& v = cs[c].v;
        bool compare = !fresh && acc.size() == v.size();
        if (part && fresh) part->firstCount = int32_t(v.size());
        if (part && !fresh && acc.size() != v.size()) allRestart = true;
        fresh = false;
        acc.resize(v.size());
        for (size_t i = 0; i < v.size(); ++i) {
            float x = v[i];
            if (compare && accumulate && x < acc[i].weight) x = acc[i].weight;
            acc[i] = {x, int32_t(c)};
            if (part && accumulate && !cs[c].writes && std::isnan(v[i])) nans.push_back(int32_t(i));
        }
        if (!cs[c].writes) continue;
        int32_t k = int32_t(out.size());
        if (part && allRestart) part->restarts.push_back({k, -1});
        if (part)
            for (int32_t i : nans)
                part->restarts.push_back({k, i});
        allRestart = false;
        nans.clear();
        out.push_back(acc);
    }
    return out;
}

// The record of a part, with the checksums the recorder gives it.
std::string Sealed(const std::string& file, sel::PartRecord part) {
    part.fileBytes = int64_t(file.size());
    sel::MemorySource bytes(file.data(), file.size());
    EXPECT_TRUE(tessarin::FillChecksums(bytes, part));
    return sel::EncodePartRecord(part);
}

// A join into memory: as into a file it replaces (what a refused join wrote is dropped), or with
// `direct` as into a device or FIFO, which keeps every byte it was given.
struct MemoryOutput : sel::MemorySink {
    bool direct = false;
    bool Staged() const override { return !direct; }
};
int Join(const std::vector<std::string>& files, const std::vector<std::string>& records, std::string& joined,
         std::string& err, bool direct = false) {
    std::vector<sel::MemorySource> sources;
    for (const std::string& f : files)
        sources.emplace_back(f.data(), f.size());
    std::vector<tessarin::JoinPart> parts;
    for (size_t i = 0; i < files.size(); ++i) {
        auto open = [&bytes = sources[i]](std::string&) {
            return tessarin::PartBytes(tessarin::PartBytes(), &bytes);
        };
        parts.push_back({"p" + std::to_string(i) + ".sel", open, true, records[i]});
    }
    std::ostringstream out, errs;
    tessarin::Context ctx{out, errs};
    MemoryOutput sink;
    sink.direct = direct;
    int code = tessarin::Join(parts, sink, "out.sel", ctx);
    joined = code == 0 || direct ? sink.bytes : "";
    err = errs.str();
    return code;
}

TEST(Join, CarriesTheRunningLargestAcrossPartsAsTheCaptureKeepsIt) {
    std::mt19937 rng(7);
    // NaN only at captures that write nothing: in a written sample verify calls it damaged, and join
    // refuses such a part
    const float values[] = {0.0f, -0.0f, 0.25f, 0.5f, 1.0f, 0.75f, NAN};
    for (int trial = 0; trial < 300; ++trial) {
        int frames = 2 + int(rng() % 6), perSample = 1 + int(rng() % 3);
        // samples of a few points; of several, so that the carry takes some four at a time; and in the
        // first trial of more than the join reads at once, so that its reads end inside samples and
        // hold the ends of others
        size_t wide = trial == 0 ? 300000 : trial % 2 ? 4 : 0;
        bool accumulate = rng() % 4 != 0;
        std::vector<Capture> cs;
        std::vector<size_t> frameStart;
        for (int f = 0; f < frames; ++f) {
            frameStart.push_back(cs.size());
            int n = f == 0 ? 1 : perSample;
            for (int e = 0; e < n; ++e) {
                size_t count = (rng() % 8 == 0 ? 2 : 3) + wide;
                std::vector<float> v(count);
                bool writes = e == n - 1;
                for (float& x : v)
                    x = values[rng() % (writes ? 6 : 7)];
                cs.push_back({v, writes});
            }
        }
        frameStart.push_back(cs.size());
        std::string whole = sel::EncodeFile(1, Record(cs, 0, cs.size(), accumulate, nullptr));
        // every frame a part boundary with probability one half
        std::vector<std::string> files, records;
        for (int f = 0; f < frames;) {
            int last = f;
            while (last + 1 < frames && rng() % 2)
                ++last;
            sel::PartRecord part;
            part.recording = "ab";
            part.firstFrame = f;
            part.lastFrame = last;
            part.wholeLast = frames - 1;
            part.accumulate = accumulate;
            part.quality = perSample;
            part.ticksPerFrame = perSample; // a capture's tick is its index: frame f writes at f x perSample
            Samples samples =
                Record(cs, frameStart[size_t(f)], frameStart[size_t(last) + 1], accumulate, &part);
            // every other trial, a record that leaves to the join what the count table shows: a
            // change of the point count between two written samples
            if (trial % 2)
                std::erase_if(part.restarts, [&](const sel::PartRestart& r) {
                    size_t k = size_t(r.sample);
                    return k > 0 && samples[k].size() != samples[k - 1].size();
                });
            files.push_back(sel::EncodeFile(1, samples));
            records.push_back(Sealed(files.back(), part));
            f = last + 1;
        }
        std::string joined, err;
        ASSERT_EQ(Join(files, records, joined, err), 0) << err;
        ASSERT_EQ(joined, whole) << "trial " << trial << ", " << files.size() << " parts";
        sel::MemorySource made(joined.data(), joined.size());
        ASSERT_EQ(sel::VerifyFile(made).Verdict(), sel::Fault::None) << "trial " << trial;
    }
}

TEST(Join, RefusesEachBadPartInOneLineAndWritesNothing) {
    std::vector<Capture> cs = {{{0.5f}, true}, {{0.25f}, true}, {{1.0f}, true}};
    auto part = [&](int first, int last, const std::string& recording = "ab") {
        sel::PartRecord p;
        p.recording = recording;
        p.firstFrame = first;
        p.lastFrame = last;
        p.wholeLast = 2;
        std::string file = sel::EncodeFile(1, Record(cs, size_t(first), size_t(last) + 1, false, &p));
        return std::pair{file, Sealed(file, p)};
    };
    auto [a, ra] = part(0, 0);
    auto [b, rb] = part(1, 2); // samples at ticks 1 and 2 of one record each, the count table at byte 28
    auto [c, rc] = part(1, 2, "cd");
    auto [b1, rb1] = part(1, 1); // two parts of one size
    auto [b2, rb2] = part(2, 2);
    // b with words changed, its part record left as it was: the layout still fits
    auto changed = [&b = b](std::initializer_list<std::pair<size_t, int32_t>> words) {
        std::string f = b;
        for (auto [at, value] : words)
            std::memcpy(&f[at], &value, 4);
        return f;
    };
    // a record edited by hand: its checksums stay as they were
    auto edited = [](std::string record, const std::string& from, const std::string& to) {
        return record.replace(record.find(from), from.size(), to);
    };
    // a part's record written anew for its bytes, with `change` made to it first
    auto sealed = [&rb = rb](const std::string& file, void (*change)(sel::PartRecord&)) {
        sel::PartRecord r;
        EXPECT_EQ(sel::DecodePartRecord(rb, r), "");
        change(r);
        return Sealed(file, r);
    };
    auto same = [](sel::PartRecord&) {};
    auto restartAt5 = [](sel::PartRecord& r) { r.restarts = {{5, -1}}; };
    auto restartVertex1 = [](sel::PartRecord& r) { r.restarts = {{1, 1}}; };
    float quarter = 0.75f;
    int32_t weight;
    std::memcpy(&weight, &quarter, 4);
    // frames whose ticks lie a tick later than those of the part before (10 ticks a frame)
    sel::PartRecord x;
    x.recording = "ab";
    x.wholeLast = 2;
    x.ticksPerFrame = 10;
    x.firstCount = 1;
    std::string fx = sel::EncodeFile(1, {{{0.5f, 0}}}), fy = sel::EncodeFile(1, {{{0.5f, 11}}, {{0.5f, 21}}});
    std::string rx = Sealed(fx, x);
    x.firstFrame = 1;
    x.lastFrame = 2;
    std::string ry = Sealed(fy, x);
    std::string joined, err;
    EXPECT_EQ(Join({a, b}, {ra, rb}, joined, err), 0) << err;
    EXPECT_EQ(Join({a, b1, b2}, {ra, rb1, rb2}, joined, err), 0) << err;
    struct Case {
        std::vector<std::string> files, records;
        std::string line;
        int lines = 1; // a line for each bad part
    } cases[] = {
        {{a, c}, {ra, rc}, "p1.sel: belongs to another recording than p0.sel (another scene or settings)"},
        {{b}, {rb}, "no part holds frame 0: record --frames 0:0 too"},
        {{a, b.substr(0, b.size() - 4)}, {ra, rb}, "p1.sel: byte "},
        {{a, b, b}, {ra, rb, rb}, "p2.sel: frames 1-2 are also in p1.sel: give parts that do not overlap"},
        {{a, b + "x"}, {ra, rb}, "p1.sel: byte 29: "},
        {{a, b}, {ra, rb.substr(0, rb.size() - 4)}, "p1.sel.part: line "},
        {{a, b},
         {ra, edited(rb, "tessarin part 2", "tessarin part 1")},
         "p1.sel.part: line 1: a record of an older vomark, without the checksums that bind it to its part: "
         "record the part again"},
        // what verify finds in a part whose layout plays
        {{a, changed({{28, 0}, {32, 2}})},
         {ra, rb}, // counts 0, 2: sample 1 holds records of two ticks
         "p1.sel: its part record's first-count is 1, but its first sample holds 0 points: "
         "record it again with --frames 1:2"},
        {{a, changed({{12, 0x7fc00000}})},
         {ra, rb},
         "p1.sel: byte 12: sample 0, vertex 0: weight is nan (damaged)"},
        {{a, "{\"nodes\": [], \"ticksPerFrame\": 160}"}, {ra, rb}, "p1.sel: byte 4: not a .sel cache ("},
        // a part or its record changed by hand: what disagrees is named
        {{a, changed({{12, weight}})},
         {ra, rb},
         "p1.sel: its bytes are not those its part record was written for (their checksum differs): "
         "record it again with --frames 1:2"},
        {{a, b},
         {ra, edited(rb, "first-count 1", "first-count 2")},
         "p1.sel: its part record's first-count is 2, but its first sample holds 1 point: record it again"},
        {{a, b},
         {ra, edited(rb, "xxh3", "restart 0 -1\nxxh3")},
         "p1.sel.part: its lines are not those vomark wrote (their checksum differs): record the part again"},
        {{a, b},
         {edited(ra, "accumulate 0", "accumulate 1"), edited(rb, "accumulate 0", "accumulate 1")},
         "p0.sel.part: its lines are not those vomark wrote",
         2},
        {{a, b1, b2},
         {ra, edited(rb1, "frames 1 1", "frames 2 2"), edited(rb2, "frames 2 2", "frames 1 1")},
         "p1.sel: its sample 0 has tick 1, no tick of frame 2 (2 ± 0), where its part record (frame 2) "
         "puts it: record it again with --frames 2:2",
         2},
        {{a, b},
         {ra, sealed(b, restartAt5)},
         "p1.sel: its part record restarts a weight at sample 5, but it holds 2 samples"},
        {{a, b},
         {ra, sealed(b, restartVertex1)},
         "p1.sel: its part record restarts vertex 1 at sample 1, which holds 1 point"},
        // parts whose records were written for their bytes, whose ticks do not lie where the frames do
        {{a, changed({{16, 0}})},
         {ra, sealed(changed({{16, 0}}), same)},
         "p1.sel: its sample 0 has tick 0, no tick of frame 1 (1 ± 0), where its part record (frames 1-2) "
         "puts "
         "it: record it again with --frames 1:2"},
        {{a, changed({{24, 0}})},
         {ra, sealed(changed({{24, 0}}), same)},
         "p1.sel: its sample 1 has tick 0, where its first tick and its part record (1 tick and 1 sample a "
         "frame) put tick 2"},
        {{fx, fy},
         {rx, ry},
         "p1.sel: its ticks put frame 1 at tick 11, those of p0.sel at tick 10: record it again"},
    };
    for (const Case& k : cases)
        for (bool direct : {false, true}) {
            EXPECT_EQ(Join(k.files, k.records, joined, err, direct), 1) << k.line;
            EXPECT_NE(err.find(k.line), std::string::npos) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), k.lines) << err;
            EXPECT_TRUE(joined.empty()) << k.line << (direct ? " (direct)" : "");
        }
    // a part that is no longer the file that was checked when it is opened again for the copy
    sel::MemorySource sa(a.data(), a.size()), sb(b.data(), b.size());
    int opened = 0;
    auto second = [&](std::string& error) {
        if (opened++ == 0) return tessarin::PartBytes(tessarin::PartBytes(), &sb);
        error = "p1.sel: changed since it was checked";
        return tessarin::PartBytes();
    };
    std::vector<tessarin::JoinPart> parts{
        {"p0.sel", [&](std::string&) { return tessarin::PartBytes(tessarin::PartBytes(), &sa); }, true, ra},
        {"p1.sel", second, true, rb}};
    std::ostringstream out, errs;
    tessarin::Context ctx{out, errs};
    sel::MemorySink sink;
    EXPECT_EQ(tessarin::Join(parts, sink, "out.sel", ctx), 1);
    EXPECT_EQ(errs.str(), "p1.sel: changed since it was checked; out.sel was not written\n");
}

TEST(PartRecord, ReadsWhatItWritesAndNamesTheLineOfAnythingElse) {
    sel::PartRecord p;
    p.recording = "0123456789abcdef";
    p.firstFrame = -3;
    p.lastFrame = 7;
    p.wholeFirst = -10;
    p.wholeLast = 100;
    p.samplesPerFrame = 10;
    p.ticksPerFrame = 4800;
    p.accumulate = 1;
    p.quality = 100;
    p.firstCount = 1000000;
    p.fileBytes = int64_t(1) << 40;
    p.restarts = {{0, -1}, {3, 17}, {3, 2}, {3, 17}, {4, 5}, {4, -1}};
    p.partChecksum = 0x0123456789abcdefull;
    p.linesChecksum = 0xfedcba9876543210ull;
    std::string text = sel::EncodePartRecord(p);
    sel::PartRecord back;
    ASSERT_EQ(sel::DecodePartRecord(text, back), "");
    EXPECT_EQ(sel::EncodePartRecord(back), text);
    // each restart once, in order; a sample's -1 restarts every vertex, alone
    EXPECT_NE(text.find("restart 0 -1\nrestart 3 2\nrestart 3 17\nrestart 4 -1\nxxh3 0123456789abcdef "
                        "fedcba9876543210\nend\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.rfind(sel::ChecksummedLines(back), 0), 0u);
    // the largest record of a part: the widest numbers, a restart for each of its records
    sel::PartRecord wide = p;
    wide.recording = std::string(64, 'f');
    wide.firstFrame = wide.wholeFirst = INT32_MIN + 1;
    wide.lastFrame = wide.wholeLast = wide.samplesPerFrame = wide.ticksPerFrame = wide.quality = INT32_MAX;
    wide.firstCount = INT32_MAX;
    wide.fileBytes = INT64_MAX;
    wide.restarts.clear();
    for (int32_t v = 0; v < 1000; ++v)
        wide.restarts.push_back({INT32_MAX, INT32_MAX - 1000 + v});
    EXPECT_LE(int64_t(sel::EncodePartRecord(wide).size()), sel::LargestPartRecord(12 + 1000 * 8 + 4));
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    struct Case {
        std::string text, error;
    } cases[] = {
        {"", "line 1: not a part record"},
        {replaced("quality 100", "quality 0"), "line 8: \"quality\" takes 1 whole number from 1"},
        {replaced("quality 100", "quality 1e2"), "line 8: "},
        {replaced("quality 100", "colour 3"), "line 8: unknown key \"colour\""},
        {replaced("quality 100", "frames 1 2"), "line 8: \"frames\" given twice"},
        {replaced("quality 100\n", ""), "\"quality\" is missing"},
        {replaced("restart 0 -1", "restart 9 -1"), "line 12: restarts out of order"},
        {replaced("restart 3 17", "restart 3 2"), "line 13: restarts out of order"},
        {replaced("restart 3 2", "restart 3 -1"), "line 13: restarts out of order"},
        {replaced("fedcba9876543210", "fedcba987654321"), "line 15: \"xxh3\" takes two checksums of 16 hex"},
        {replaced("0123456789abcdef fedcba", "0123456789ABCDEF fedcba"), "line 15: \"xxh3\" takes two"},
        {replaced("xxh3 0123456789abcdef fedcba9876543210\n", ""), "\"xxh3\" is missing"},
        {replaced("tessarin part 2", "tessarin part 1"),
         "line 1: a record of an older vomark, without the checksums"},
        {replaced("end\n", ""), "the record ends without \"end\" (cut short)"},
        {text + "x\n", "text after \"end\""},
        {replaced("frames -3 7", "frames 7 -3"), "frames 7--3 do not lie in order"},
        {replaced("recording 0123456789abcdef", "recording XYZ"), "line 2: \"recording\" takes one hex word"},
    };
    for (const Case& c : cases)
        EXPECT_NE(sel::DecodePartRecord(c.text, back).find(c.error), std::string::npos)
            << c.error << " / " << sel::DecodePartRecord(c.text, back);
}

} // namespace
