#!/usr/bin/env bash
# On a real (one-node) Slurm cluster started here: a 200-frame recording of a 1,000,000-vertex scene
# in 4 parts, joined, must be the bytes of the whole recording. Then what a farm's cancel and a
# failed part must not cost: a whole recording again cancelled with scancel keeps the old cache byte
# for byte; a part recorded again and cancelled keeps the old part and its record; a part that fails
# makes its task fail and `submit-slurm status` names it; a part cancelled where none stood is a valid
# shorter part that the join refuses by name, and submitting that part again lets the join succeed.
# Nothing is trusted before the cancelled task's processes have ended. A submission with a scene that
# is not there fails before anything is queued. Stops every daemon it started, also on failure.
# Prints the timings docs/farm.md quotes.
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
# waits until a job's processes have ended, not merely until Slurm calls it cancelled (it does so
# when it sends the signal): the job has left the queue's live states and no recording holds the lock
# of PART (when given); false after 10 minutes
wait_gone() {
    local job=$1 part=${2:-}
    for _ in $(seq 1200); do
        if [ -z "$(squeue -h -j "$job" -t PENDING,RUNNING,CONFIGURING,COMPLETING,SUSPENDED 2>/dev/null)" ] &&
            { [ -z "$part" ] || [ ! -e "$part.lock" ] || flock -n "$part.lock" true; }; then return 0; fi
        sleep 0.5
    done
    return 1
}
# waits until a file beside FILE (the recording growing before it takes FILE's place) passes 100 MB
grown() {
    for _ in $(seq 1200); do
        [ "$(stat -c %s "$1".tmp-* 2>/dev/null | sort -n | tail -n 1)" -gt 100000000 ] 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
submit() { "$farm/submit-slurm" scene.json --frames 0:199 --parts 4 --out "$work/farm.sel" "$@"; }
ids() { parts=$(awk '/^parts/ {print $2}' <<<"$1") join=$(awk '/^join/ {print $2}' <<<"$1"); }

# a misspelt scene, frames the scene does not record: one line, exit non-zero, nothing queued
for wrong in "shot.json --frames 0:199" "scene.json --frames 0:299"; do
    # shellcheck disable=SC2086
    err=$("$farm/submit-slurm" $wrong --parts 4 --out "$work/farm.sel" 2>&1 >/dev/null) && fail "submit-slurm $wrong succeeded"
    [ "$(wc -l <<<"$err")" = 1 ] && [ -z "$(squeue -h)" ] || fail "submit-slurm $wrong: $err; queued: $(squeue -h)"
done
echo "test-farm: a wrong submission is refused before anything is queued: $err"

start=$(now)
ids "$(submit)" || { fail "submit-slurm failed"; exit 1; }
state=$(wait_job "$join")
farmTime=$(seconds "$start" "$(now)")
[ "$state" = "COMPLETED " ] || fail "the join job ended $state: $(cat farm.join.log farm.part-*.log 2>/dev/null | tail -5)"
longest=0
for log in farm.part-*.log; do
    t=$(grep -o 'recorded in [0-9.]*' "$log" | awk '{print $3}')
    longest=$(awk -v a="$longest" -v b="${t:-0}" 'BEGIN { print (b > a ? b : a) }')
done
"$farm/submit-slurm" status farm.sel >status.out || fail "status after the join: $(cat status.out)"

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

# the whole recording again, cancelled: the old cache stays byte for byte, the recording beside it
old=$(md5sum <whole.sel)
job=$(sbatch --parsable --output="$work/again.log" --wrap "exec $VOMARK record $work/scene.json --plugins $PLUGINS")
grown whole.sel && scancel "${job%%;*}" && wait_gone "${job%%;*}" || fail "the whole recording again was not cancelled while it ran"
kept=$(sed -nE 's#^vomark: recording stopped: (.*[.]stopped-[0-9]+[.]sel) keeps .* SIGTERM left .*#\1#p' again.log)
if [ "$(md5sum <whole.sel)" = "$old" ] && [ -n "$kept" ] && "$TESSARIN" verify "$kept" >/dev/null; then
    echo "test-farm: a cancelled whole recording keeps the old cache: $(grep '^vomark' again.log)"; else
    fail "the cancelled whole recording: $(tail -3 again.log)"; fi
rm -f "$kept"

# part 1 again, cancelled while it records: the old part and its record stay as they were
oldPart=$(md5sum <farm.part-1.sel) oldRecord=$(md5sum <farm.part-1.sel.part)
ids "$(submit --only 1)" || fail "submit-slurm --only 1 failed"
grown farm.part-1.sel && scancel "$parts" && wait_gone "$parts" farm.part-1.sel || fail "part 1 again was not cancelled while it ran"
if [ "$(md5sum <farm.part-1.sel)" = "$oldPart" ] && [ "$(md5sum <farm.part-1.sel.part)" = "$oldRecord" ] &&
    ! compgen -G "farm.part-1.sel.*tmp*" >/dev/null && [ ! -e farm.part-1.sel.lock ]; then
    echo "test-farm: a cancelled part recorded again keeps the old part and its record: $(grep '^vomark' farm.part-1.log)"; else
    fail "the cancelled part recorded again: $(tail -3 farm.part-1.log)"; fi
wait_job "$join" >/dev/null

# a part that fails (here: its lock is a folder) fails its task; the join never runs, and status
# names the part, its log's line and the command that submits it again, which then joins
rm -f farm.sel farm.part-2.sel farm.part-2.sel.part
mkdir farm.part-2.sel.lock
ids "$(submit --only 2)" || fail "submit-slurm --only 2 failed"
state=$(wait_job "$join")
"$farm/submit-slurm" status farm.sel >status.out && fail "status exits 0 while a part failed"
rmdir farm.part-2.sel.lock
if [ "$state" = "CANCELLED " ] && grep -q "^part 2 (frames 100:149): FAILED.*farm.part-2.sel.lock: cannot be created: not a plain file.*--only 2" status.out &&
    grep -q "^part 1 (frames 50:99): recorded before: .*kept as they were" status.out; then
    echo "test-farm: status names the failed part: $(grep '^part 2' status.out)"; else
    fail "a failed part: join $state; status: $(cat status.out)"; fi
ids "$(submit --only 2)" || fail "submit-slurm --only 2 failed"
state=$(wait_job "$join")
[ "$state" = "COMPLETED " ] && cmp -s farm.sel whole.sel || fail "after the failed part was submitted again: join $state, $(cmp farm.sel whole.sel 2>&1)"

# scancel: part 1 again where none stood, cancelled while it records
rm -f farm.sel farm.part-1.sel farm.part-1.sel.part
ids "$(submit --only 1)" || fail "submit-slurm --only 1 failed"
grown farm.part-1.sel && scancel "$parts" && wait_gone "$parts" farm.part-1.sel || fail "part 1 was not cancelled while it ran"
wait_job "$join" >/dev/null
if "$TESSARIN" verify farm.part-1.sel >/dev/null && [ -e farm.part-1.sel.part ] && [ ! -e farm.sel ]; then
    echo "test-farm: the cancelled part is valid: $("$TESSARIN" verify farm.part-1.sel)"; else
    fail "the cancelled part: $("$TESSARIN" verify farm.part-1.sel 2>&1); log: $(tail -3 farm.part-1.log)"; fi
err=$("$TESSARIN" join farm.part-{0,1,2,3}.sel --out farm.sel 2>&1 >/dev/null); code=$?
if [ "$code" = 1 ] && grep -q "^farm.part-1.sel: holds .*, it should hold frames 50-99 " <<<"$err" && [ ! -e farm.sel ]; then
    echo "test-farm: the join refuses: $(grep -v "^join: checking" <<<"$err")"; else fail "the join after scancel: exit $code: $err"; fi
ids "$(submit --only 1)" || fail "submit-slurm --only 1 failed"
state=$(wait_job "$join")
[ "$state" = "COMPLETED " ] && cmp -s farm.sel whole.sel || fail "after the part was submitted again: join $state, $(cmp farm.sel whole.sel 2>&1)"
"$farm/submit-slurm" status farm.sel >status.out || fail "status after the part was submitted again: $(cat status.out)"

echo "test-farm: whole recording ${wholeTime} s; on the farm ${farmTime} s from submit to joined (longest part ${longest} s);" \
    "join ${joinTime} s, copy of the same bytes (flushed to the disk too) ${copyTime} s"
[ "$failed" = 0 ] && echo "test-farm: passed" || echo "test-farm: $failed failed"
[ "$failed" = 0 ]
