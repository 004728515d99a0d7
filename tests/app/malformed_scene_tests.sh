#!/usr/bin/env bash
# Malformed scene descriptions, from the command line: each ends with status 1 (bad input; 2 is kept
# for a wrong command line) and one line on stderr, never a signal, a sanitizer report, a hang or an allocation the input does not justify.
# usage: malformed_scene_tests.sh VOMARK PLUGIN_DIR DATA_DIR
source "$(dirname "$0")/cli_common.sh" "$@"
# an allocation past 256 MiB is a sanitizer report, so it fails the one-line check
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_allocation_size_mb=256:allocator_may_return_null=0"

refused() { # exit status, scene file; extra arguments go to vomark eval
    local want=$1 file=$2; shift 2
    local rc lines
    timeout 60 "$vomark" eval "$file" --plugins "$plugins" --frame 0 "$@" >/dev/null 2>"$work/err"
    rc=$?
    lines=$(wc -l <"$work/err")
    if [ $rc != "$want" ]; then echo "exit $rc, wanted $want"; cat "$work/err"; return 1; fi
    if [ "$lines" != 1 ]; then echo "$lines lines on stderr"; head -5 "$work/err"; return 1; fi
    if grep -qE 'Sanitizer|runtime error' "$work/err"; then cat "$work/err"; return 1; fi
}

node() { # a node named A with the given mesh and modifiers
    printf '{"nodes": [{"name": "A", "mesh": %s, "modifiers": [%s]}]}' "$1" "${2:-}"
}
tri='{"vertices": [[0, 0, 0], [1, 0, 0], [0, 1, 0]], "faces": [[0, 1, 2]]}'
cases=(
    "empty file|"
    "cut short|$(node "$tri" | head -c 40)"
    "cut inside a string|{\"nodes\": [{\"name\": \"A"
    "not an object|[1, 2, 3]"
    "a number|42"
    "invalid UTF-8|{\"nodes\": [{\"name\": \"\xff\xfe\"}]}"
    "a NUL byte|{\"nodes\": \x01[]}"
    "unknown key with a line break|{\"tick\\nsPerFrame\": 160}"
    "ticksPerFrame as text|{\"ticksPerFrame\": \"160\"}"
    "ticksPerFrame 2^40|{\"ticksPerFrame\": 1099511627776}"
    "ticksPerFrame negative|{\"ticksPerFrame\": -160}"
    "ticksPerFrame above 64 bits|{\"ticksPerFrame\": 18446744073709551616}"
    "current frame 1e308|{\"currentFrame\": 1e308}"
    "current tick 2^64-1|{\"currentTick\": 18446744073709551615}"
    "animation range 1e300 frames|{\"animationRange\": [0, 1e300]}"
    "animation range of one number|{\"animationRange\": [0]}"
    "nodes as an object|{\"nodes\": {}}"
    "node name a number|{\"nodes\": [{\"name\": 5, \"mesh\": $tri}]}"
    "node without a mesh|{\"nodes\": [{\"name\": \"A\"}]}"
    "two nodes of one name|{\"nodes\": [{\"name\": \"A\", \"mesh\": $tri}, {\"name\": \"A\", \"mesh\": $tri}]}"
    "vertex as text|$(node '{"vertices": [[0, 0, "x"]]}')"
    "vertex of two numbers|$(node '{"vertices": [[0, 0]]}')"
    "face of a vertex 2^40|$(node '{"vertices": [[0, 0, 0]], "faces": [[0, 0, 1099511627776]]}')"
    "face of a negative vertex|$(node '{"vertices": [[0, 0, 0]], "faces": [[0, 0, -1]]}')"
    "grid of 10^9 rows|$(node '{"grid": {"width": 1, "length": 1, "rows": 1000000000, "cols": 1}}')"
    "grid of 2^40 cols|$(node '{"grid": {"width": 1, "length": 1, "rows": 1, "cols": 1099511627776}}')"
    "grid of 4096 by 4096|$(node '{"grid": {"width": 1, "length": 1, "rows": 4096, "cols": 4096}}')"
    "grid of negative rows|$(node '{"grid": {"width": 1, "length": 1, "rows": -3, "cols": 2}}')"
    "grid rows fractional|$(node '{"grid": {"width": 1, "length": 1, "rows": 1.5, "cols": 2}}')"
    "mesh from a device|$(node '{"obj": "/dev/zero"}')"
    "mesh from a folder|$(node '{"obj": "."}')"
    "selection of a vertex the mesh lacks|{\"nodes\": [{\"name\": \"A\", \"mesh\": $tri, \"selection\": {\"selected\": [7]}}]}"
    "selection of a negative vertex|{\"nodes\": [{\"name\": \"A\", \"mesh\": $tri, \"selection\": {\"selected\": [-1]}}]}"
    "weights one short|{\"nodes\": [{\"name\": \"A\", \"mesh\": $tri, \"selection\": {\"weights\": [0, 1]}}]}"
    "unknown class|$(node "$tri" '{"class": "Bend"}')"
    "class a number|$(node "$tri" '{"class": 7}')"
    "instance of no id|$(node "$tri" '{"instance": "t9"}')"
    "key at frame 1e10|$(node "$tri" '{"class": "SelectKeys", "keys": [{"frame": 1e10, "selected": [0]}]}')"
    "key with frame and tick|$(node "$tri" '{"class": "SelectKeys", "keys": [{"frame": 0, "tick": 0}]}')"
    "trim count 2^40|$(node "$tri" '{"class": "Trim", "keys": [{"frame": 0, "count": 1099511627776}]}')"
    "parameter unknown|$(node "$tri" '{"class": "Tessarin", "params": {"bogus": 1}}')"
    "samples as text|$(node "$tri" '{"class": "Tessarin", "params": {"samples": "two"}}')"
    "samples 2^40|$(node "$tri" '{"class": "Tessarin", "params": {"samples": 1099511627776}}')"
    "samples animated|$(node "$tri" '{"class": "Tessarin", "params": {"samples": [{"frame": 0, "value": 1}]}}')"
    "strength key at 1e300|$(node "$tri" '{"class": "Tessarin", "params": {"strength": [{"frame": 1e300, "value": 1}]}}')"
    "cache_file a number|$(node "$tri" '{"class": "Tessarin", "params": {"cache_file": 5}}')"
    "enabled as text|$(node "$tri" '{"class": "Trim", "keys": [], "enabled": "no"}')"
    "directory index too large|{\"directories\": {\"99999999999\": \"x\"}}"
)
for entry in "${cases[@]}"; do
    name=${entry%%|*}
    printf '%b' "${entry#*|}" >"$work/scene.json"
    check "$name" refused 1 "$work/scene.json"
done

# an object-space plug-in modifier in the world-space stack, new or an instance: refused at its place
world_case() { # scene text, the place the message must name
    printf '%s' "$1" >"$work/world.json"
    refused 1 "$work/world.json" || return 1
    grep -qF "$2: an object-space modifier cannot sit in the world-space stack" "$work/err" || { cat "$work/err"; return 1; }
}
check "Tessarin in worldModifiers" world_case \
    "{\"nodes\": [{\"name\": \"A\", \"mesh\": $tri, \"worldModifiers\": [{\"class\": \"SelectKeys\", \"keys\": []}, {\"class\": \"Tessarin\"}]}]}" \
    'nodes[0].worldModifiers[1].class'
check "an instance of Tessarin in worldModifiers" world_case \
    "{\"nodes\": [{\"name\": \"A\", \"mesh\": $tri, \"modifiers\": [{\"class\": \"Tessarin\", \"id\": \"t\"}], \"worldModifiers\": [{\"instance\": \"t\"}]}]}" \
    'nodes[0].worldModifiers[0].instance'

# nesting and size that only a generator writes
python3 -c 'print("[" * 200000 + "]" * 200000)' >"$work/deep.json"
check "200000 nested lists" refused 1 "$work/deep.json"
python3 -c 'print("{\"nodes\": " + "[" * 200000)' >"$work/deep_cut.json"
check "200000 open lists" refused 1 "$work/deep_cut.json"
python3 -c 'print("{\"a\":" * 100000 + "1" + "}" * 100000)' >"$work/deep_objects.json"
check "100000 nested objects" refused 1 "$work/deep_objects.json"
check "a scene that is a device" refused 1 /dev/zero
check "a scene that is a folder" refused 1 "$work"
mkfifo "$work/fifo.json"
check "a scene that is a FIFO is refused before it is opened" refused 1 "$work/fifo.json"
printf '\xef\xbb\xbf{"nodes": [{"name": "A",\r\n "mesh": {"vertices": [[0, 0, 0]]}}]}\r\n' >"$work/bom.json"
check "a description with a byte-order mark and CRLF line ends is read" "$vomark" eval "$work/bom.json" --plugins "$plugins" --frame 0
check "a frame past the tick range" refused 2 "$data/keys.json" --frame 1e300

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
