#!/usr/bin/env bash
# On a real (one-node) Slurm cluster started here: a 200-frame recording of a 1,000,000-vertex scene
# in 4 parts, joined, must be the bytes of the whole recording; a part cancelled with scancel is a
# valid shorter part that the join refuses by name, and submitting that part again lets the join
# succeed. Stops every daemon it started, also on failure. Prints the timings docs/farm.md quotes.
# usage: tests/farm/test_farm.sh BUILD_DIR   (vomark, tessarin and the plug-in built in BUILD_DIR)
set -u
build=$(realpath "$1")
farm=$(cd "$(dirname "$0")/../../scripts/farm" && pwd)
export VOMARK=$build/bin/vomark TESSARIN=$build/bin/tessarin PLUGINS=$build/plugins
work=$(mktemp -d /tmp/tessarin-farm.XXXXXX)
cleanup() {
    "$farm/local-slurm" stop "$work/slurm"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cd "$work" || exit 1
failed=0
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

"$farm/local-slurm" start "$work/slurm" >/dev/null || { echo "test-farm: the cluster did not start"; exit 1; }
export SLURM_CONF=$work/slurm/slurm.conf
echo "test-farm: one-node cluster up ($(nproc) CPUs)"

# 1000 x 1000 vertices; a soft selection sweeping across, recorded with accumulated weights, so the
# join has to carry each part's running largest weights over from the part before
cat >scene.json <<'EOF'
{"ticksPerFrame": 160,
 "nodes": [{"name": "Plane", "mesh": {"grid": {"width": 1000, "length": 1000, "rows": 999, "cols": 999}},
  "modifiers": [
   {"class": "SoftSelect", "center": [{"frame": 0, "at": [-600, -300, 0]}, {"frame": 199, "at": [600, 300, 0]}],
    "radius": 40, "falloff": 200},
   {"class": "Tessarin", "params": {"cache_file": "whole.sel", "start_time": 0, "end_time": 199, "samples": 1,
    "quality": 2, "accumulateSelection": true}}]}]}
EOF

# waits for a job to end; answers its final state
wait_job() {
    local state
    for _ in $(seq 1200); do
        state=$(scontrol show job "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | sort -u | cut -d= -f2 | tr '\n' ' ')
        case $state in *PENDING* | *RUNNING* | *CONFIGURING* | *COMPLETING* | "") sleep 0.5 ;; *) echo "$state"; return ;; esac
    done
    echo TIMEOUT
}
submit() { "$farm/submit-slurm" scene.json --frames 0:199 --parts 4 --out "$work/farm.sel" "$@"; }

start=$(now)
ids=$(submit) || { fail "submit-slurm failed"; exit 1; }
parts=$(awk '/^parts/ {print $2}' <<<"$ids") join=$(awk '/^join/ {print $2}' <<<"$ids")
state=$(wait_job "$join")
farmTime=$(seconds "$start" "$(now)")
[ "$state" = "COMPLETED " ] || fail "the join job ended $state: $(cat farm.join.log farm.part-*.log 2>/dev/null | tail -5)"
longest=0
for log in farm.part-*.log; do
    t=$(grep -o 'recorded in [0-9.]*' "$log" | awk '{print $3}')
    longest=$(awk -v a="$longest" -v b="${t:-0}" 'BEGIN { print (b > a ? b : a) }')
done

start=$(now)
"$VOMARK" record scene.json --plugins "$PLUGINS" >/dev/null 2>whole.err || fail "the whole recording failed: $(cat whole.err)"
wholeTime=$(seconds "$start" "$(now)")
if cmp -s farm.sel whole.sel; then echo "test-farm: the joined file is the whole recording's bytes ($(stat -c %s whole.sel) bytes)"; else
    fail "the joined file differs from the whole recording: $(cmp farm.sel whole.sel 2>&1)"; fi
start=$(now)
"$TESSARIN" join farm.part-{0,1,2,3}.sel --out again.sel >/dev/null 2>&1 || fail "join by hand"
joinTime=$(seconds "$start" "$(now)")
start=$(now) # the join flushes its file to the disk before it renames it into place: so does this copy
cp whole.sel copy.sel && sync copy.sel
copyTime=$(seconds "$start" "$(now)")
rm -f again.sel copy.sel

# scancel: part 1 again, cancelled while it records
rm -f farm.sel farm.part-1.sel farm.part-1.sel.part
ids=$(submit --only 1) || fail "submit-slurm --only 1 failed"
parts=$(awk '/^parts/ {print $2}' <<<"$ids") join=$(awk '/^join/ {print $2}' <<<"$ids")
# the recording grows beside its target until it ends (then it is renamed into place)
for _ in $(seq 600); do
    [ "$(stat -c %s farm.part-1.sel.tmp-* 2>/dev/null | head -n 1)" -gt 100000000 ] 2>/dev/null && break
    sleep 0.1
done
scancel "$parts"
wait_job "$parts" >/dev/null
wait_job "$join" >/dev/null
if "$TESSARIN" verify farm.part-1.sel >/dev/null && [ -e farm.part-1.sel.part ] && [ ! -e farm.sel ]; then
    echo "test-farm: the cancelled part is valid: $("$TESSARIN" verify farm.part-1.sel)"; else
    fail "the cancelled part: $("$TESSARIN" verify farm.part-1.sel 2>&1); log: $(tail -3 farm.part-1.log)"; fi
err=$("$TESSARIN" join farm.part-{0,1,2,3}.sel --out farm.sel 2>&1 >/dev/null); code=$?
if [ "$code" = 1 ] && grep -q "^farm.part-1.sel: holds .*, it should hold frames 50-99 " <<<"$err" && [ ! -e farm.sel ]; then
    echo "test-farm: the join refuses: $err"; else fail "the join after scancel: exit $code: $err"; fi
ids=$(submit --only 1) || fail "submit-slurm --only 1 failed"
join=$(awk '/^join/ {print $2}' <<<"$ids")
state=$(wait_job "$join")
[ "$state" = "COMPLETED " ] && cmp -s farm.sel whole.sel || fail "after the part was submitted again: join $state, $(cmp farm.sel whole.sel 2>&1)"

echo "test-farm: whole recording ${wholeTime} s; on the farm ${farmTime} s from submit to joined (longest part ${longest} s);" \
    "join ${joinTime} s, copy of the same bytes (flushed to the disk too) ${copyTime} s"
[ "$failed" = 0 ] && echo "test-farm: passed" || echo "test-farm: $failed failed"
[ "$failed" = 0 ]
