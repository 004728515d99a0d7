#!/usr/bin/env bash
# Runs the vomark command as people do and checks what it prints and writes.
# usage: cli_tests.sh VOMARK PLUGIN_DIR DATA_DIR [nopictures]
source "$(dirname "$0")/cli_common.sh" "$@"

sed "s#OUT/#$work/#" "$data/keys.json" >"$work/keys.json"
V() { "$vomark" "$@" --plugins "$plugins"; }

check "plugins lists the module" bash -c "$(declare -f V); vomark='$vomark' plugins='$plugins'; V plugins | grep -q 'Disk Cache Modifier (Quorrel)' && V plugins | grep -q 'class id: (0x21d07ae1, 0x48d30bff)' && V plugins | grep -q 'super-class id: 0x00000810'"
check "eval prints the keyed selection" bash -c "'$vomark' eval '$work/keys.json' --plugins '$plugins' --tick -5 --frame 0 --tick=200 2>/dev/null | diff - '$data/keys_eval.csv'"
check "eval refuses an unknown node" exits_with 2 'no node named "Nope"' V eval "$work/keys.json" --node Nope --frame 0
check "eval refuses an unknown class" exits_with 1 'unknown modifier class "Tessarin"' "$vomark" eval "$work/keys.json" --plugins /nonexistent --frame 0 --format csv
check "eval refuses a bad option" exits_with 2 '--bogus' V eval "$work/keys.json" --bogus
check "--version prints the version and the build" bash -c "'$vomark' --version | grep -qE '^vomark [0-9]+[.][0-9]+[.][0-9]+ [(].+[)]\$'"
check "an unknown verb is named" exits_with 2 'unknown verb "bogus"; the verbs are plugins, eval, record' "$vomark" bogus
check "no verb at all lists the verbs, in our words" exits_with 2 'vomark: a verb is required: plugins, eval, record' "$vomark"
check "an option value that does not convert names the option and what it takes" exits_with 2 'vomark: --frame: "abc" is not a value it takes; it takes a number' V eval "$work/keys.json" --frame abc
check "an argument too many is named" exits_with 2 'vomark: "extra" is not an option or argument this verb takes' V eval "$work/keys.json" extra --frame 0
pictures && check "a file where a folder is wanted is said in our words" exits_with 2 "vomark: --out: $work/keys.json is a file; give a folder" V view "$work/keys.json" --out "$work/keys.json"
check "a usage error is one line" bash -c "'$vomark' eval '$work/keys.json' --bogus 2>&1 >/dev/null | wc -l | grep -qx 1"
check "eval refuses a scene it cannot read" exits_with 1 "cannot read scene $work/none.json: no such file" V eval "$work/none.json" --frame 0
check "eval refuses a folder as its scene" exits_with 1 "cannot read scene $work: is a folder" V eval "$work" --frame 0
check "run refuses a folder as its script" exits_with 1 "cannot read script $work: is a folder" V run "$work/keys.json" "$work"
if pictures; then # the Linux build: FIFOs are POSIX's
mkfifo "$work/fifo.script"
check "run refuses a FIFO as its script without waiting on it" exits_with 1 "cannot read script $work/fifo.script: not a plain file" timeout -k 5 20 "$vomark" run "$work/keys.json" "$work/fifo.script" --plugins "$plugins"
sed "s#keys.sel#fifo.sel#" "$work/keys.json" >"$work/fifocache.json" && mkfifo "$work/fifo.sel"
check "a FIFO named as a cache file is said so without waiting on it" exits_with 1 "cache $work/fifo.sel: not a plain file" timeout -k 5 20 "$vomark" eval "$work/fifocache.json" --frame 0 --plugins "$plugins"
check "a part of a scene whose cache is a FIFO is refused before recording" bash -c "$(declare -f exits_with); vomark='$vomark'
    exits_with 1 'vomark: $work/fifo.sel: the cache file is no plain file (a device or FIFO), and a part is recorded beside it: give the part' \
        timeout -k 5 20 '$vomark' record '$work/fifocache.json' --frames 0:1 --plugins '$plugins' && ! compgen -G '$work/fifo.frames*'"
fi
check "plugins with no module to list is bad input" exits_with 1 'no plug-in module (*.dlm) loaded from /nonexistent (no such folder)' "$vomark" plugins --plugins /nonexistent
plugins_found_however_vomark_is_started() {
    mkdir -p "$work/bin" && ln -sf "$vomark" "$work/bin/vm" || return 1
    (cd / && env -u VOMARK_PLUGINS PATH="$(dirname "$vomark"):$PATH" vomark plugins | grep -q 'Tessarin.dlm') ||
        { echo "by its bare name from PATH"; return 1; }
    (cd "$work" && env -u VOMARK_PLUGINS "$work/bin/vm" plugins | grep -q 'Tessarin.dlm') || { echo "by a symbolic link"; return 1; }
    (cd "$(dirname "$vomark")" && env -u VOMARK_PLUGINS ./"$(basename "$vomark")" plugins | grep -q 'Tessarin.dlm') ||
        { echo "by a relative path"; return 1; }
}
check "vomark finds its plug-ins from PATH, a symbolic link and another folder" plugins_found_however_vomark_is_started
if [ "$(id -u)" != 0 ]; then # root reads every file
    printf '{}' >"$work/locked.json" && chmod 000 "$work/locked.json"
    check "an unreadable scene gives the system's reason" exits_with 1 "cannot read scene $work/locked.json: Permission denied" V eval "$work/locked.json" --frame 0
    sed "s#keys.sel#locked.sel#" "$work/keys.json" >"$work/lockedcache.json" && : >"$work/locked.sel" && chmod 000 "$work/locked.sel"
    check "an unreadable cache gives the system's reason" exits_with 1 "cache $work/locked.sel: cannot be read: Permission denied" V eval "$work/lockedcache.json" --frame 0
fi
check "save refuses a folder as its target, --force or not" bash -c "$(declare -f exits_with V); vomark='$vomark' plugins='$plugins'
    exits_with 1 '$work: is a folder; give the name' V save '$work/keys.json' '$work' && exits_with 1 '$work: is a folder; give the name' V save '$work/keys.json' '$work' --force"
# messages in plain words: where the JSON breaks, what a binary file is, no half-printed output
printf '{"nodes": [\n  {x' >"$work/broken.json"
check "a JSON error gives line, column and reason, without the library's tags" bash -c "$(declare -f exits_with V); vomark='$vomark' plugins='$plugins'
    exits_with 1 '$work/broken.json: line 2, column 4: not valid JSON: syntax error' V eval '$work/broken.json' --frame 0 && ! V eval '$work/broken.json' --frame 0 2>&1 | grep -q 'json.exception'"
cache_as_scene() {
    printf '\x9c\xff\xff\xff\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x3f\x01\x00\x00\x00' >"$work/renamed.bin"
    local err; err=$(V eval "$work/renamed.bin" --frame 0 2>&1 >/dev/null)
    grep -qx "vomark: $work/renamed.bin: looks like a cache file (.sel), not a scene; give a scene description (JSON) or a .vms scene file" <<<"$err" &&
        ! LC_ALL=C grep -q '[^ -~]' <<<"$err"
}
check "a cache file given as a scene is named as one, in plain text" cache_as_scene
check "a frame outside the tick range prints nothing before its usage error" bash -c "$(declare -f V); vomark='$vomark' plugins='$plugins'
    out=\$(V eval '$work/keys.json' --frame 0 --frame 1e9 2>'$work/e1'); test \$? = 2 && test -z \"\$out\" && grep -q -- '--frame 1e+09: outside the range of tick times' '$work/e1'"
echo '{"nodes": [{"name": "A", "mesh": {"vertices": [[0, 0, 0]]}, "modifiers": [{"class": "SelectKeys", "keys": [{"frame": 0, "selected": "all"}]}]}]}' >"$work/badtype.json"
echo '{"nodes": [], "tickPerFrame": 160}' >"$work/badkey.json"
echo '{"nodes": []}' >"$work/nonodes.json"
echo '{"nodes": [{"name": "A", "mesh": {"obj": "missing.obj"}}]}' >"$work/noobj.json"
check "a scene of no nodes is bad input, said so" exits_with 1 'the scene has no nodes' V eval "$work/nonodes.json" --frame 0
check "a missing OBJ file is said to be missing" exits_with 1 'nodes[0].mesh.obj: cannot read missing.obj: no such file' V eval "$work/noobj.json" --frame 0
check "a frame that is not a number is said so" exits_with 2 '--frame nan: not a frame number' V eval "$work/keys.json" --frame nan
if pictures; then
    check "a picture that cannot be written is said before any row" bash -c "$(declare -f exits_with V); vomark='$vomark' plugins='$plugins'
        out=\$(V eval '$work/keys.json' --frame 0 --png /nonexistent/p.png 2>'$work/e2'); test \$? = 1 && test -z \"\$out\" && grep -q 'p.png: its folder /nonexistent does not exist' '$work/e2'"
fi
check "a wrong type names the key" exits_with 1 'nodes[0].modifiers[0].keys[0].selected: must be a list of vertex ids' V eval "$work/badtype.json" --frame 0
check "an unknown key names the key" exits_with 1 'scene.tickPerFrame: unknown key' V eval "$work/badkey.json" --frame 0
check "json output holds selection level and display flags" bash -c "'$vomark' eval '$work/keys.json' --plugins '$plugins' --frame 0 --format json | grep -q '\"displayFlags\": 1025'"
check "summary gives one line per evaluation" bash -c "'$vomark' eval '$work/keys.json' --plugins '$plugins' --tick -5 --frame 0 --format summary | sed -E 's/,[0-9]+[.][0-9]\$/,T/' | diff - <(printf 'tick,selected,weight_sum,microseconds\\n-5,0,0,T\\n0,1,1.7,T\\n')"
check "record writes the 180-byte file" bash -c "'$vomark' record '$work/keys.json' --plugins '$plugins' 2>/dev/null && test \$(stat -c %s '$work/keys.sel') = 180 && xxd -p -l 12 '$work/keys.sel' | grep -qx '9cffffff0200000006000000'"
check "record ends with what it wrote" bash -c "'$vomark' record '$work/keys.json' --plugins '$plugins' 2>/dev/null | grep -qx 'wrote $work/keys.sel: 6 samples, 180 bytes'"
check "record says when --set is clamped" exits_with 0 'vomark: warning: --set samples=1000: outside 1 to 10, clamped to 10' V record "$work/keys.json" --set samples=1000
sed 's#"samples": 2#"samples": 0#' "$work/keys.json" >"$work/clamped.json"
check "a description's value out of range is said as --set says it" exits_with 0 "vomark: warning: $work/clamped.json: nodes[0].modifiers[1].params.samples = 0: outside 1 to 10, clamped to 1" V eval "$work/clamped.json" --frame 0
printf '%s\n' '$.modifiers[#Tessarin].samples = 1000' >"$work/clamp.script"
check "a script's value out of range is said with its line" exits_with 0 "vomark: warning: $work/clamp.script:1: samples = 1000: outside 1 to 10, clamped to 10" V run "$work/keys.json" "$work/clamp.script"
sed 's#"samples": 2#"strength": [{"frame": 0, "value": -1e38}], "samples": 2#' "$work/keys.json" >"$work/bigkeys.json"
check "a keyed value past a float's range is clamped and said" exits_with 0 "vomark: warning: $work/bigkeys.json: nodes[0].modifiers[1].params.strength = [{\"frame\":0,\"value\":-1e+38}]: outside -10 to 10, clamped to -10" V eval "$work/bigkeys.json" --frame 0
printf '%s\n' '$.modifiers[#Tessarin].start_time = 1e39' '$.modifiers[#Tessarin].strength = -1e39' >"$work/huge.script"
check "a script's value past a float's range is clamped to the range" exits_with 0 "vomark: warning: $work/huge.script:1: start_time = 1e39: outside -9999999 to 9999999, clamped to 9999999" V run "$work/keys.json" "$work/huge.script"
check "a script's huge strength is clamped, not converted as it stands" exits_with 0 "vomark: warning: $work/huge.script:2: strength = -1e39: outside -10 to 10, clamped to -10" V run "$work/keys.json" "$work/huge.script"
printf '%s\n' '$.modifiers[#Tessarin].strength = NaN' >"$work/nan.script"
check "a script's NaN is refused" exits_with 1 "$work/nan.script:1: strength takes a number, not \"NaN\"" V run "$work/keys.json" "$work/nan.script"
check "a backward recording counts its frames once each" bash -c "'$vomark' record '$work/keys.json' --plugins '$plugins' --set start_time=6 --set end_time=0 2>&1 >/dev/null | grep -c 'recording frame 7 of 7' | grep -qx 1"
# frames counted as the recorder records them (two samples each), also from a start between frames
counts_frames_as_recorded() {
    local start=$1 end=$2 frames=$3 err
    err=$(V record "$work/keys.json" --set start_time="$start" --set end_time="$end" 2>&1 >/dev/null) || return 1
    [ "$(grep -c '^recording frame' <<<"$err")" = 2 ] && grep -qx "recording frame 1 of $frames" <<<"$err" &&
        grep -qx "recording frame $frames of $frames" <<<"$err" || { echo "$err"; return 1; }
    xxd -p -s 8 -l 4 "$work/keys.sel" | grep -qx "$(printf '%02x000000' $((frames * 2)))"
}
for range in "0.5 5.5 6" "0.001 5.0005 6" "0.3 5.2 5" "5.2 0.3 5" "2 2 2"; do
    check "progress counts the recorded frames of $range" counts_frames_as_recorded $range
done
check "a script's recording shows its progress" bash -c "printf '%s\n' '\$.modifiers[#Tessarin].Record' >'$work/rec.script' && '$vomark' run '$work/keys.json' '$work/rec.script' --plugins '$plugins' 2>&1 >/dev/null | grep -qx 'recording frame 3 of 3'"
check "playback of the recording" bash -c "'$vomark' eval '$work/keys.json' --plugins '$plugins' --tick 80 --tick 240 --format csv | grep -qx '80,0,0,0.300000012,0.300000012' && '$vomark' eval '$work/keys.json' --plugins '$plugins' --tick 240 | grep -qx '240,1,0,0.800000012,0.800000012'"
escape_keeps_what_was_recorded() {
    exits_with 130 "recording stopped: $work/keys.sel keeps 4 samples (every frame up to the stop); $work/cut.vms was not written" \
        V record "$work/keys.json" --escape-at-poll 2 --save "$work/cut.vms" || return 1
    test "$(stat -c %s "$work/keys.sel")" = $((12 + 4 * 3 * 8 + 4 * 4)) || return 1
    xxd -p -s 8 -l 4 "$work/keys.sel" | grep -qx 04000000 && test ! -e "$work/cut.vms"
}
check "escape keeps the frames recorded so far, says so and exits 130" escape_keeps_what_was_recorded
unplayable_caches_are_named() {
    sed "s#keys.sel#cut.sel#" "$work/keys.json" >"$work/cut.json"
    local line="vomark: node \"Tri\": cache $work/cut.sel"
    # missing, then cut short as a killed recording leaves it: the reason verify gives, once per run
    exits_with 0 "$line: not found; the modifier plays nothing from it" V eval "$work/cut.json" --frame 0 || return 1
    head -c 100 "$work/keys.sel" >"$work/cut.sel"
    exits_with 0 "the records its count table announces do not fit in the file (incomplete); the modifier plays" \
        V eval "$work/cut.json" --frame 0 --frame 1 || return 1
    test "$(V eval "$work/cut.json" --frame 0 --frame 1 2>&1 >/dev/null | wc -l)" = 1 || return 1
    printf 'eval\nsliderTime = 1\neval\n' >"$work/two.script"
    test "$(V run "$work/cut.json" "$work/two.script" 2>&1 >/dev/null | grep -c "$line: byte ")" = 1 || return 1
    # a scene file naming it says the same; a cache that plays says nothing
    cp "$work/keys.sel" "$work/cut.sel"
    V save "$work/cut.json" "$work/cut.vms" >/dev/null 2>&1 || return 1
    head -c 100 "$work/keys.sel" >"$work/cut.sel"
    exits_with 0 "$line: byte " V eval "$work/cut.vms" --frame 0 || return 1
    # a switched-off modifier speaks for nothing, however damaged its cache
    sed 's#"class": "Tessarin", #"class": "Tessarin", "enabled": false, #' "$work/cut.json" >"$work/off.json"
    test -z "$(V eval "$work/off.json" --frame 0 2>&1 >/dev/null)" || return 1
    # a cache recorded from another mesh plays what fits, and is said once
    printf '\x9c\xff\xff\xff\x02\x00\x00\x00\x01\x00\x00\x00' >"$work/four.sel"
    for i in 1 2 3 4; do printf '\x00\x00\x00\x3f\x00\x00\x00\x00' >>"$work/four.sel"; done
    printf '\x04\x00\x00\x00' >>"$work/four.sel"
    sed "s#keys.sel#four.sel#" "$work/keys.json" >"$work/four.json"
    exits_with 0 "vomark: node \"Tri\": cache $work/four.sel has 4 vertices per sample; the mesh has 3" \
        V eval "$work/four.json" --frame 0 --frame 1 || return 1
    test "$(V eval "$work/four.json" --frame 0 --frame 1 2>&1 >/dev/null | wc -l)" = 1 || return 1
    # a cache that plays but that verify calls damaged (a tick out of place) is said, and still plays
    cp "$work/keys.sel" "$work/ticks.sel" && printf '\x07' | dd of="$work/ticks.sel" bs=1 seek=24 conv=notrunc 2>/dev/null
    sed "s#keys.sel#ticks.sel#" "$work/keys.json" >"$work/ticks.json"
    exits_with 0 "vomark: node \"Tri\": cache $work/ticks.sel: byte 24: sample 0, vertex 1: tick 7, but the sample's first record has tick 0 (damaged); the modifier plays it as it stands" \
        V eval "$work/ticks.json" --frame 0 || return 1
    test -z "$(V eval "$work/keys.json" --frame 0 2>&1 >/dev/null)"
}
check "eval and run name a cache that cannot play and say why" unplayable_caches_are_named
# A crowd: 1,100 objects, each playing its own cache, evaluated one by one by a script; on Linux under
# 256 open files, and on Windows past the C runtime's 512 streams. Every object plays its cache.
crowd_plays_every_object() {
    local i nodes="" script="sliderTime = 1.5"$'\n'
    for ((i = 0; i < 1100; i++)); do
        cp "$work/keys.sel" "$work/crowd$i.sel"
        nodes+="${nodes:+,}{\"name\": \"N$i\", \"mesh\": {\"vertices\": [[0, 0, 0], [1, 0, 0], [0, 1, 0]], \"faces\": [[0, 1, 2]]},
            \"modifiers\": [{\"class\": \"Tessarin\", \"params\": {\"cache_file\": \"$work/crowd$i.sel\"}}]}"
        script+="select N$i"$'\n'"eval"$'\n'
    done
    printf '{"animationRange": [0, 2], "nodes": [%s]}' "$nodes" >"$work/crowd.json"
    printf '%s' "$script" >"$work/crowd.script"
    (pictures && ulimit -n 256; V run "$work/crowd.json" "$work/crowd.script" >"$work/crowd.csv" 2>"$work/crowd.err") ||
        { echo "run failed"; cat "$work/crowd.err"; return 1; }
    test ! -s "$work/crowd.err" || { echo "said:"; head -3 "$work/crowd.err"; return 1; }
    test "$(grep -cx '240,1,0,0.800000012,0.800000012' "$work/crowd.csv")" = 1100 || { echo "not every object played"; return 1; }
    # the whole scene at each time in one process: a row per node and vertex, or a line per time
    V eval "$work/crowd.json" --node N7 --node N1099 --tick 240 | diff - <(printf '%s\n' node,tick,vertex,selected,weight,effective \
        N7,240,0,0,0.200000003,0.200000003 N7,240,1,0,0.800000012,0.800000012 N7,240,2,0,0.100000001,0.100000001 \
        N1099,240,0,0,0.200000003,0.200000003 N1099,240,1,0,0.800000012,0.800000012 N1099,240,2,0,0.100000001,0.100000001) || return 1
    V eval "$work/crowd.json" --all --tick 240 --frame 0 --format summary | sed -E 's/,[0-9]+[.][0-9]$/,T/' |
        diff - <(printf 'tick,nodes,selected,weight_sum,microseconds\n240,1100,0,1210.00002,T\n0,1100,1100,1870,T\n') || return 1
    exits_with 2 "--node excludes --all" V eval "$work/crowd.json" --all --node N0 --frame 0 || return 1
    # a cache there but unreadable (a folder) is said once, however many nodes play it, and the verb fails
    sed -E "s#$work/crowd[0-9]+[.]sel#$work#g" "$work/crowd.json" >"$work/unreadable.json"
    exits_with 1 "vomark: node \"N0\" and 1099 other nodes: cache $work: is a folder; the modifier plays nothing from it" \
        V eval "$work/unreadable.json" --all --frame 0 --format summary || return 1
    test "$(V eval "$work/unreadable.json" --all --frame 0 --format summary 2>&1 >/dev/null | wc -l)" = 1 || return 1
    exits_with 1 "is a folder" V run "$work/unreadable.json" "$work/crowd.script"
}
check "a crowd of 1,100 cached objects plays every object, one by one or all at once" crowd_plays_every_object
check "record refuses a --set value that does not fit" exits_with 2 '--set samples: "two" is not a value' V record "$work/keys.json" --set samples=two
check "record refuses a --modifier the scene lacks" exits_with 2 'no modifier with id "m9"' V record "$work/keys.json" --modifier m9
unwritable_target_named_once() {
    exits_with 1 "vomark: recording failed: $work/no/such/dir/x.sel could not be written (its folder $work/no/such/dir does not exist)" \
        V record "$work/keys.json" --set cache_file="$work/no/such/dir/x.sel" || return 1
    # the message box keeps the modifier's own words, shown once
    test "$(V record "$work/keys.json" --set cache_file="$work/no/such/dir/x.sel" 2>&1 | grep -c 'Error writing file')" = 1
}
check "record names an unwritable target once, with the reason" unwritable_target_named_once
check "record asks for a file name when none is set" bash -c "'$vomark' record '$work/keys.json' --plugins '$plugins' --set cache_file= --answer save='$work/asked' 2>/dev/null && test -s '$work/asked.sel'"
# A part and its part record are one unit: a failed re-recording is a row of tests/faults/fault_table.py;
# stopped (SIGTERM, while the recording grows beside the part): the old part and its record stay
printf '%s\n' '{"nodes": [{"name": "P", "mesh": {"grid": {"width": 10, "length": 10, "rows": 40, "cols": 40}},' \
    ' "modifiers": [{"class": "SoftSelect", "center": [{"frame": 0, "at": [-5, 0, 0]}, {"frame": 20, "at": [5, 0, 0]}], "radius": 1},' \
    '  {"class": "Tessarin", "params": {"cache_file": "big.sel", "end_time": 19, "samples": 10, "quality": 100, "accumulateSelection": true}}]}]}' \
    >"$work/big.json"
# starts a slow recording of big.json (ARGS...) in the background once FILE.tmp-* grows beside FILE; sets pid
recording_beside() {
    local file=$1; shift
    "$vomark" record "$work/big.json" --plugins "$plugins" "$@" >/dev/null 2>"$work/stop.err" & pid=$!
    for _ in $(seq 200); do compgen -G "$file.tmp-*" >/dev/null && break; sleep 0.05; done
}
stopped_rerecord_keeps_the_old_part() {
    local part=$work/big.frames-0-19.sel pid code
    V record "$work/big.json" --frames 0:19 --set samples=1 >/dev/null 2>&1 && cp "$part" "$work/old.sel" &&
        cp "$part.part" "$work/old.part" || return 1
    recording_beside "$part" --frames 0:19
    kill -TERM $pid; wait $pid; code=$?
    [ "$code" = 143 ] && grep -qx "vomark: recording stopped: $part and its part record are kept as they were" "$work/stop.err" ||
        { echo "exit $code: $(cat "$work/stop.err")"; return 1; }
    cmp "$part" "$work/old.sel" && cmp "$part.part" "$work/old.part" && ! compgen -G "$part.*tmp*" && [ ! -e "$part.lock" ]
}
# (the Linux build: under Wine a signal to the command does not reach the program the same way, nor
# does a lock on a file)
pictures && check "a recording of a part again that is stopped leaves the old part and its record" stopped_rerecord_keeps_the_old_part
# a whole recording: SIGTERM (no one typed it) keeps the old cache and puts the recording beside it;
# Ctrl-C and Escape put it in the cache's place (the escape case above)
sigterm_keeps_the_old_cache() {
    local cache=$work/big.sel pid code kept
    V record "$work/big.json" --set samples=1 >/dev/null 2>&1 && cp "$cache" "$work/old.sel" || return 1
    recording_beside "$cache"
    kill -TERM $pid; wait $pid; code=$?
    kept=$(sed -nE "s#^vomark: recording stopped: ($work/big[.]stopped-[0-9]+[.]sel) keeps [0-9]+ samples .*; SIGTERM left $cache as it was .*#\1#p" "$work/stop.err")
    [ "$code" = 143 ] && [ -n "$kept" ] || { echo "exit $code: $(cat "$work/stop.err")"; return 1; }
    cmp "$cache" "$work/old.sel" && [ "$(xxd -p -s 8 -l 4 "$kept")" != 00000000 ] && ! compgen -G "$cache.tmp*" && rm "$kept"
}
pictures && check "SIGTERM during a whole recording again keeps the old cache byte for byte and the recording beside it" sigterm_keeps_the_old_cache
# one recording of a part at a time: a second is refused while the first runs; a lock its holder left
# when it was killed is taken over, and every recording removes its lock
one_recording_of_a_part_at_a_time() {
    local part=$work/big.frames-0-19.sel pid code err
    recording_beside "$part" --frames 0:19
    err=$(V record "$work/big.json" --frames 0:19 2>&1 >/dev/null); code=$?
    kill -KILL $pid; wait $pid 2>/dev/null
    [ "$code" = 1 ] && grep -qx "vomark: $part: another recording of it is running (process $pid on .*, $part.lock); wait for it to end" <<<"$err" ||
        { echo "exit $code: $err"; return 1; }
    [ -e "$part.lock" ] && V record "$work/big.json" --frames 0:19 --set samples=1 >/dev/null 2>&1 && [ ! -e "$part.lock" ]
}
pictures && check "two recordings of one part never run at once; a killed one's lock is taken over" one_recording_of_a_part_at_a_time
rm -f "$work"/big.frames-0-19.sel.tmp-*
# what makes parts one recording: the part record's fingerprint changes with every input and with
# nothing else (the part's own name)
printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n' >"$work/m.obj"
printf '%s\n' '{"nodes": [{"name": "M", "mesh": {"obj": "m.obj"}, "modifiers": [' \
    '{"class": "SelectKeys", "keys": [{"frame": 0, "selected": [1], "weights": [0.2, 0.0, 0.5]}]},' \
    '{"class": "Tessarin", "id": "t1", "params": {"cache_file": "m.sel", "end_time": 3}},' \
    '{"class": "Tessarin", "id": "t2", "params": {"cache_file": "m.sel", "end_time": 3}}]}]}' >"$work/m.json"
mkdir -p "$work/plugins2" && cp "$plugins"/*.dlm "$work/plugins2/" && printf '\0' >>"$work/plugins2/Tessarin.dlm"
fingerprint() { # the recording line of part 0:1 recorded with ARGS...
    "$vomark" record "$work/m.json" --frames 0:1 --set cache_file="$work/fp.sel" "$@" >/dev/null 2>&1 &&
        sed -n 's/^recording //p' "$work/fp.sel.part"
}
fingerprint_covers_every_input() {
    local base again
    base=$(fingerprint --plugins "$plugins") && [ -n "$base" ] || { echo "no part recorded"; return 1; }
    again=$("$vomark" record "$work/m.json" --frames 0:1 --set cache_file="$work/fp2.sel" --plugins "$plugins" >/dev/null 2>&1 &&
        sed -n 's/^recording //p' "$work/fp2.sel.part")
    [ "$again" = "$base" ] || { echo "another part name changed it"; return 1; }
    [ "$(fingerprint --plugins "$plugins" --modifier t1)" != "$base" ] && [ "$(fingerprint --plugins "$plugins" --modifier t2)" = "$base" ] || { echo "--modifier"; return 1; }
    [ "$(fingerprint --plugins "$plugins" --set samples=2)" != "$base" ] || { echo "--set"; return 1; }
    [ "$(fingerprint --plugins "$work/plugins2")" != "$base" ] || { echo "another plug-in module"; return 1; }
    printf 'v 0 0 1\n' >>"$work/m.obj"
    [ "$(fingerprint --plugins "$plugins")" != "$base" ] || { echo "the OBJ file changed"; return 1; }
}
check "a part's fingerprint covers the OBJ file, the modifier, --set and the plug-in module" fingerprint_covers_every_input
check_loads_and_records_nothing() {
    local out
    out=$(V record "$work/keys.json" --frames 0:1 --check) && [ "$out" = "$work/keys.json: node \"Tri\" records into $work/keys.frames-0-1.sel (frames 0:1)" ] &&
        [ ! -e "$work/keys.frames-0-1.sel" ] || { echo "$out"; return 1; }
    exits_with 2 "vomark: --frames: 0:9 lies outside the recording's frames 0:2" V record "$work/keys.json" --frames 0:9 --check &&
        exits_with 1 "cannot read scene $work/none.json: no such file" V record "$work/none.json" --check
}
check "record --check loads the scene and checks the options, recording nothing" check_loads_and_records_nothing
mkdir -p "$work/folder.sel"
check "a part that could not be put in place is refused before recording" exits_with 1 "vomark: $work/folder.sel: cannot be written: it is a folder" V record "$work/keys.json" --frames 0:2 --set cache_file="$work/folder.sel"
pictures && check "view refuses a scene it cannot read" exits_with 1 'cannot read scene' V view "$work/none.json" --port 0
pictures && check "view refuses a port outside 0 to 65535" exits_with 2 '--port' V view "$work/keys.json" --port 70000
pictures && check "view says it cannot listen on a port in use" bash -c "'$vomark' view '$work/keys.json' --plugins '$plugins' --port 0 >'$work/url' 2>/dev/null & pid=\$!; for i in \$(seq 100); do [ -s '$work/url' ] && break; sleep 0.1; done; port=\$(sed 's#.*:\\([0-9]*\\)/.*#\\1#' '$work/url'); '$vomark' view '$work/keys.json' --plugins '$plugins' --port \$port 2>'$work/err2'; rc=\$?; kill -INT \$pid; wait \$pid; test \$rc = 1 && grep -q 'cannot listen on 127.0.0.1:[0-9]*: the port is in use; give another --port' '$work/err2'"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
