#!/usr/bin/env bash
# Recordings split into parts and joined: random scenes recorded whole and in 1 to 8 parts (recorded
# in random order, joined in random order) must give the whole recording's bytes; bad parts are
# refused with one line each and nothing written; a part stopped by SIGTERM is a valid shorter part.
# usage: join_tests.sh VOMARK TESSARIN PLUGIN_DIR [SCENES]
set -u
vomark=$1 T=$2 plugins=$3 scenes=${4:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
passed=0 failed=0
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
V() { "$vomark" "$@" --plugins "$plugins"; }

# A scene of random shape and settings, and a random tiling of its frames into parts, one "A:B" a line.
# Point counts change at ticks on both sides of part boundaries and inside parts (Trim keys), often
# between two samples where only an unwritten evaluation sees them.
generate() { # seed -> scene.json, parts.txt
    /usr/bin/python3 - "$1" <<'EOF'
import json, math, random, struct, sys
r = random.Random(int(sys.argv[1]))
f32 = lambda x: struct.unpack('f', struct.pack('f', x))[0]
tpf = r.choice([160, 160, 100, 30])
rows, cols = r.randint(1, 9), r.randint(1, 9)
n = (rows + 1) * (cols + 1)
samples, quality = r.randint(1, 10), r.randint(2, 6)
accumulate = r.random() < 0.6
start = r.choice([0, r.randint(-4, 5), round(r.uniform(-4, 5), 2)])
start = f32(start)
length = r.randint(2, 24)
end = f32(start + length)
st, et = f32(tpf * start), f32(tpf * end)
if st == et: et = f32(et + tpf)
f0 = math.trunc(st)
frames = math.floor((et - f0) / tpf) + 1
first = int(f0 / tpf)  # as C++ divides: toward zero
cuts = sorted(r.sample(range(1, frames), min(frames - 1, r.randint(0, 7))))
bounds = [first] + [first + c for c in cuts] + [first + frames]
parts = [(bounds[i], bounds[i + 1] - 1) for i in range(len(bounds) - 1)]
step = tpf // samples
keys = [{"tick": -10 * tpf, "count": n}]
for b in bounds[1:-1] + [r.randint(first, first + frames - 1) for _ in range(2)]:
    t = f0 + (b - first) * tpf
    for dt in r.sample([-step // 2, -step // 3, 0, 1, step // 2, -1], 2):
        keys.append({"tick": t + dt, "count": r.randint(max(1, n // 2), n)})
sel = {"selected": r.sample(range(n), r.randint(0, n // 3))}
if r.random() < 0.7: sel["weights"] = [round(r.random(), 3) for _ in range(n)]
mods = [
    {"class": "SoftSelect", "center": [{"tick": f0, "at": [-60, 0, 0]}, {"tick": f0 + frames * tpf, "at": [60, 0, 0]}],
     "radius": r.uniform(5, 30), "falloff": r.uniform(0, 40)},
    {"class": "SelectKeys", "keys": [{"tick": r.randint(f0, f0 + frames * tpf), "selected": r.sample(range(n), r.randint(0, n)),
                                      "weights": [round(r.random(), 2) for _ in range(n)]} for _ in range(r.randint(0, 6))]},
    {"class": "Trim", "keys": keys},
]
r.shuffle(mods)
mods.append({"class": "Tessarin", "id": "t", "params": {"cache_file": "whole.sel", "start_time": start,
             "end_time": end, "samples": samples, "quality": quality, "accumulateSelection": accumulate}})
scene = {"ticksPerFrame": tpf, "currentTick": r.choice([0, math.trunc(st)]),
         "nodes": [{"name": "P", "mesh": {"grid": {"width": 100, "length": 100, "rows": rows, "cols": cols}},
                    "selection": sel, "modifiers": mods}]}
json.dump(scene, open("scene.json", "w"))
r.shuffle(parts)
open("parts.txt", "w").write("".join(f"{a}:{b}\n" for a, b in parts))
EOF
}

for seed in $(seq 1 "$scenes"); do
    rm -f ./*.sel ./*.part
    generate "$seed" || { fail "scene $seed could not be made"; continue; }
    V record scene.json >/dev/null 2>&1 || { fail "scene $seed: the whole recording failed"; continue; }
    list=()
    while read -r range; do
        V record scene.json --frames "$range" --set "cache_file=p${range/:/-}.sel" >/dev/null 2>err ||
            { fail "scene $seed: part $range: $(cat err)"; continue 2; }
        list+=("p${range/:/-}.sel")
    done < <(sort -R parts.txt)
    if "$T" join "${list[@]}" --out joined.sel >/dev/null 2>err && cmp -s joined.sel whole.sel; then
        passed=$((passed + 1))
    else
        fail "scene $seed ($(tr '\n' ' ' <parts.txt)): the joined file differs from the whole: $(cat err) $(cmp joined.sel whole.sel 2>&1)"
        cp scene.json "/tmp/join-failure-$seed.json" 2>/dev/null
    fi
done

# one modifier in two nodes' stacks: the parts join exactly whichever node the recorder evaluates,
# with point counts that change and change back between two samples, at a part's start and inside
cat >two.json <<'EOF'
{"nodes": [
  {"name": "A", "mesh": {"grid": {"width": 10, "length": 10, "rows": 4, "cols": 4}},
   "modifiers": [{"class": "SoftSelect", "center": [{"frame": 0, "at": [-5, 0, 0]}, {"frame": 12, "at": [5, 0, 0]}],
                  "radius": 1, "falloff": 4},
                 {"class": "Trim", "keys": [{"tick": 0, "count": 25}, {"tick": 930, "count": 9}, {"tick": 950, "count": 25},
                                            {"tick": 1570, "count": 4}, {"tick": 1590, "count": 25}]},
                 {"class": "Tessarin", "id": "t", "params": {"cache_file": "two.sel", "end_time": 12, "samples": 1,
                  "quality": 8, "accumulateSelection": true}}]},
  {"name": "B", "mesh": {"grid": {"width": 10, "length": 10, "rows": 4, "cols": 4}},
   "modifiers": [{"class": "SoftSelect", "center": [{"frame": 0, "at": [5, 0, 0]}, {"frame": 12, "at": [-5, 0, 0]}],
                  "radius": 2, "falloff": 4},
                 {"class": "Trim", "keys": [{"tick": 0, "count": 25}, {"tick": 1570, "count": 7}, {"tick": 1590, "count": 25}]},
                 {"instance": "t"}]}]}
EOF
V record two.json --node B >/dev/null 2>&1
for r in 0:5 6:9 10:12; do V record two.json --node B --frames $r >/dev/null 2>&1; done
if "$T" join two.frames-0-5.sel two.frames-6-9.sel two.frames-10-12.sel --out two-joined.sel >/dev/null 2>err &&
    cmp -s two-joined.sel two.sel && grep -q '^restart' two.frames-*.part; then passed=$((passed + 1)); else
    fail "a modifier in two stacks: $(cat err) $(cmp two-joined.sel two.sel 2>&1)"; fi

# refusals: one line per bad part, exit 1, nothing written; never a wait (a FIFO is never opened)
refused() { # lines, name, expected text, then the join's parts
    local lines=$1 name=$2 text=$3; shift 3
    local err code
    err=$(timeout 60 "$T" join "$@" --out bad.sel 2>&1 >/dev/null); code=$?
    if [ "$code" = 1 ] && [ "$(printf '%s\n' "$err" | wc -l)" = "$lines" ] && grep -qF -- "$text" <<<"$err" &&
        [ ! -e bad.sel ] && ! ls bad.sel.* >/dev/null 2>&1; then passed=$((passed + 1)); else fail "$name (exit $code): $err"; fi
}
one_line() { refused 1 "$@"; }
cat >s.json <<'EOF'
{"nodes": [{"name": "P", "mesh": {"grid": {"width": 10, "length": 10, "rows": 20, "cols": 20}},
  "modifiers": [{"class": "SoftSelect", "center": [{"frame": 0, "at": [-5, 0, 0]}, {"frame": 40, "at": [5, 0, 0]}],
                 "radius": 1, "falloff": 3},
                {"class": "Tessarin", "params": {"cache_file": "s.sel", "end_time": 39, "samples": 2,
                 "quality": 3, "accumulateSelection": true}}]}]}
EOF
for r in 0:19 20:39 0:9 10:39; do V record s.json --frames $r >/dev/null 2>&1; done
one_line "a gap is named with the frames that would fill it" "no part holds frames 10-19: record --frames 10:19 too" s.frames-0-9.sel s.frames-20-39.sel
one_line "an overlap is refused" "s.frames-10-39.sel: frames 10-19 are also in s.frames-0-19.sel" s.frames-0-19.sel s.frames-10-39.sel
cp s.frames-20-39.sel norecord.sel
one_line "a part without its record is named" "norecord.sel: has no part record" s.frames-0-19.sel norecord.sel
V record s.json --frames 20:39 --set quality=4 --set cache_file=other.sel >/dev/null 2>&1
one_line "a part of another recording is refused" "other.sel: belongs to another recording than s.frames-0-19.sel" s.frames-0-19.sel other.sel
# a part or its record changed by hand, each refused with what disagrees (the two parts are of one size)
edited() { # name, sed script: the copy NAME.sel of part 20:39 with its record edited
    cp s.frames-20-39.sel "$1.sel" && sed "$2" s.frames-20-39.sel.part >"$1.sel.part"
}
cp s.frames-0-19.sel a.sel && sed 's/^frames 0 19$/frames 20 39/' s.frames-0-19.sel.part >a.sel.part
edited b 's/^frames 20 39$/frames 0 19/'
refused 2 "the frames lines of two parts swapped" "b.sel: its sample 0 has tick 3200, no tick of frame 0 (0 ± 159), where its part record (frames 0-19) puts it" a.sel b.sel
edited fc 's/^first-count 441$/first-count 440/'
one_line "first-count changed" "fc.sel: its part record's first-count is 440, but its first sample holds 441 points" s.frames-0-19.sel fc.sel
edited rs '/^xxh3 /i restart 0 -1'
one_line "a restart added" "rs.sel.part: its lines are not those vomark wrote (their checksum differs): record the part again" s.frames-0-19.sel rs.sel
cp s.frames-0-19.sel ac.sel && sed 's/^accumulate 1$/accumulate 0/' s.frames-0-19.sel.part >ac.sel.part
edited ad 's/^accumulate 1$/accumulate 0/'
refused 2 "accumulate changed in every record" "ad.sel.part: its lines are not those vomark wrote" ac.sel ad.sel
edited wb ''
printf '\x01' | dd of=wb.sel bs=1 seek=$((12 + 441 * 8 * 3)) conv=notrunc 2>/dev/null
one_line "a weight byte changed" "wb.sel: its bytes are not those its part record was written for (their checksum differs): record it again with --frames 20:39" s.frames-0-19.sel wb.sel
edited old 's/^tessarin part 2$/tessarin part 1/'
one_line "a record of an older vomark" "old.sel.part: line 1: a record of an older vomark, without the checksums that bind it to its part: record the part again" s.frames-0-19.sel old.sel
# the record's path is checked as every input: neither opened when it is no plain file, nor read when
# it is larger than a record can be
cp s.frames-20-39.sel fifo.sel && mkfifo fifo.sel.part
one_line "a FIFO as the part record" "fifo.sel.part: not a plain file, not the part record of fifo.sel: record the part again" s.frames-0-19.sel fifo.sel
cp s.frames-20-39.sel zero.sel && ln -s /dev/zero zero.sel.part
one_line "a device as the part record" "zero.sel.part: not a plain file" s.frames-0-19.sel zero.sel
cp s.frames-20-39.sel dir.sel && mkdir dir.sel.part
one_line "a folder as the part record" "dir.sel.part: is a folder" s.frames-0-19.sel dir.sel
edited big '' && truncate -s $((1024 + 8 * $(stat -c %s big.sel) + 1)) big.sel.part
one_line "a record larger than any" "big.sel.part: far larger than the record of big.sel can be" s.frames-0-19.sel big.sel
head -c 500 s.frames-20-39.sel >cut.sel && cp s.frames-20-39.sel.part cut.sel.part
one_line "a cut part is refused" "cut.sel: " s.frames-0-19.sel cut.sel
# parts whose layout plays and whose part records are intact, with a tick word or the count table
# changed: verify calls them damaged, and join refuses them rather than write a damaged whole
cp s.frames-20-39.sel ticks.sel && cp s.frames-20-39.sel.part ticks.sel.part
dd if=s.frames-20-39.sel of=ticks.sel bs=1 skip=16 seek=$((12 + 441 * 8 + 4)) count=4 conv=notrunc 2>/dev/null
one_line "a part with a tick word changed is refused" "ticks.sel: byte $((12 + 441 * 8 + 12)): sample 1, vertex 1: tick" s.frames-0-19.sel ticks.sel
cp s.frames-20-39.sel counts.sel && cp s.frames-20-39.sel.part counts.sel.part
/usr/bin/python3 -c "import os, struct, sys; f = open('counts.sel', 'r+b'); f.seek(os.path.getsize('counts.sel') - 160); f.write(struct.pack('<ii', 440, 442))"
one_line "a part with its count table changed is refused, with what would fix it" ": record it again with --frames 20:39" s.frames-0-19.sel counts.sel
cp s.frames-0-19.sel before.sel
err=$("$T" join s.frames-0-19.sel s.frames-20-39.sel --out s.frames-0-19.sel 2>&1 >/dev/null)
if [ $? = 1 ] && grep -q "is the input s.frames-0-19.sel" <<<"$err" && cmp -s before.sel s.frames-0-19.sel; then
    passed=$((passed + 1)); else fail "the output may not be an input: $err"; fi
# a part stopped by SIGTERM keeps its whole frames; the join names it and what to record again; the
# part recorded again joins
sed -e 's/"rows": 20, "cols": 20/"rows": 60, "cols": 60/' -e 's/"quality": 3/"quality": 100, "samples": 10/' \
    -e 's/"samples": 2, //' -e 's/s.sel/b.sel/' s.json >b.json
V record b.json --frames 0:19 >/dev/null 2>&1
"$vomark" record b.json --frames 20:39 --plugins "$plugins" >/dev/null 2>err & pid=$!
# the recording goes into a file beside the part that takes its name when it ends
for _ in $(seq 100); do compgen -G 'b.frames-20-39.sel.tmp-*' >/dev/null && break; sleep 0.1; done
sleep 0.5; kill -TERM $pid; wait $pid; code=$?
if [ "$code" = 143 ] && "$T" verify b.frames-20-39.sel >/dev/null && [ -e b.frames-20-39.sel.part ] &&
    grep -q "recording stopped" err; then passed=$((passed + 1)); else
    fail "SIGTERM: exit $code, $(cat err), $("$T" verify b.frames-20-39.sel 2>&1)"; fi
one_line "a stopped part is named with the frames it holds and should" "b.frames-20-39.sel: holds frame" b.frames-0-19.sel b.frames-20-39.sel
V record b.json --frames 20:39 >/dev/null 2>&1
if "$T" join b.frames-0-19.sel b.frames-20-39.sel --out b.sel >/dev/null; then
    passed=$((passed + 1)); else fail "the part recorded again joins"; fi

# a hundred parts under a limit of 64 open files: join opens one at a time
cat >h.json <<'EOF'
{"nodes": [{"name": "P", "mesh": {"grid": {"width": 10, "length": 10, "rows": 1, "cols": 1}},
  "modifiers": [{"class": "SoftSelect", "center": [{"frame": 0, "at": [-5, 0, 0]}, {"frame": 99, "at": [5, 0, 0]}],
                 "radius": 2, "falloff": 3},
                {"class": "Tessarin", "params": {"cache_file": "h.sel", "end_time": 99, "samples": 2,
                 "quality": 2, "accumulateSelection": true}}]}]}
EOF
V record h.json >/dev/null 2>&1
for f in $(seq 0 99); do V record h.json --frames $f:$f >/dev/null 2>&1; done
if (ulimit -n 64 && "$T" join h.frames-*.sel --out h-joined.sel >/dev/null 2>err) && cmp -s h-joined.sel h.sel; then
    passed=$((passed + 1)); else fail "100 parts under ulimit -n 64: $(cat err) $(cmp h-joined.sel h.sel 2>&1)"; fi

echo "join tests: $passed passed, $failed failed"
[ "$failed" = 0 ]
