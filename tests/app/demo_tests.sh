#!/usr/bin/env bash
# vomark demo at a small size: its summary, a cache the tool verifies, and pictures of the sizes the
# layout gives; eval --png and panel --png for a scene of one's own.
# usage: demo_tests.sh VOMARK PLUGIN_DIR DATA_DIR TESSARIN
source "$(dirname "$0")/cli_common.sh" "$1" "$2" "$3"
tessarin=$4
V() { "$vomark" "$@" --plugins "$plugins"; }
# the width and height a PNG's header gives, as "W H"
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'; }
size_is() { [ "$(png_size "$1")" = "$2" ] || { echo "$1 is $(png_size "$1"), not $2"; return 1; }; }

V demo --out "$work/d" --size 400 --frames 0:10 --samples 2 >"$work/summary" 2>"$work/progress"
rc=$?
check "demo finishes" test "$rc" = 0
check "the summary counts vertices and samples" bash -c "grep -qx 'vertices: 400' '$work/summary' && grep -q '^samples: 22 (frames 0 to 10, 2 per frame)' '$work/summary'"
check "played back equals live at every sample time" grep -qx 'largest difference at sample times: 0 (exact)' "$work/summary"
check "the blend's own error is reported" grep -q '^largest difference between samples: [0-9.e-]* (' "$work/summary"
check "the summary names what it wrote" grep -q "^wrote $work/d/demo.sel, .*frames.png, .*heatmap.png, .*panel.png, .*demo.vms\$" "$work/summary"
check "progress goes to stderr as plain lines off a terminal, with the total" bash -c "grep -qx 'recording frame 1 of 11' '$work/progress' && grep -qx 'recording frame 11 of 11' '$work/progress'"
check "the cache verifies" "$tessarin" verify "$work/d/demo.sel"
check "the file holds the samples the summary counts" bash -c "'$tessarin' info '$work/d/demo.sel' | grep -qE '^samples +22\$'"
check "frames.png: four rows of live beside played back" size_is "$work/d/frames.png" "810 1424"
check "heatmap.png: as tessarin plot draws it" size_is "$work/d/heatmap.png" "1000 600"
check "panel.png: dialog 102 at 2.5 pixels a unit" size_is "$work/d/panel.png" "290 828"
check "the saved scene plays the cache back" bash -c "'$vomark' eval '$work/d/demo.vms' --plugins '$plugins' --frame 5 --format summary | grep -q '^800,'"
check "a second run replaces its own output" V demo --out "$work/d" --size 100 --frames 0:2
# a recording of the user's own in the folder is no demo's: refused, kept, then replaced only with --force
cp "$data/../../docs/examples/demo.json" "$work/d/walk.json" && rm "$work/d/demo.sel"
V record "$work/d/walk.json" >/dev/null 2>&1 && cp "$work/d/demo.sel" "$work/theirs.sel"
check "a demo refuses a file of its names that it did not write" exits_with 1 "holds a demo.sel that no earlier demo wrote; give --force" V demo --out "$work/d" --size 100 --frames 0:2
check "the refused file is kept as it was" cmp "$work/d/demo.sel" "$work/theirs.sel"
check "a stranger's picture is refused as well" bash -c "mkdir -p '$work/p' && echo x >'$work/p/frames.png' && ! '$vomark' demo --out '$work/p' --plugins '$plugins' --size 100 --frames 0:2 2>/dev/null && [ \"\$(cat '$work/p/frames.png')\" = x ]"
check "--force replaces it" V demo --out "$work/d" --size 100 --frames 0:2 --force
check "--out naming a file is said in words" exits_with 2 "--out $work/summary: is not a folder" V demo --out "$work/summary"
check "a size beyond what the comparison keeps states the real limit" exits_with 2 '--size 150000: the comparison keeps the live weights of 404 evaluations (2 x frames x samples), at most 50000000 weights in all: at most 123762 vertices for --frames 0:100 at --samples 2' V demo --out "$work/big" --size 150000
check "demo --help states the limit" bash -c "'$vomark' demo --help | grep -q '123762 for 0:100'"
check "escape stops the demo and says what the file kept" exits_with 130 'recording stopped: ' V demo --out "$work/s" --size 100 --frames 0:10 --escape-at-poll 3
check "samples that miss a tick are refused" exits_with 2 '--samples 3: must divide 160' V demo --out "$work/e" --samples 3
check "a backward range is refused" exits_with 2 '--frames 5:1: expected A:B' V demo --out "$work/e" --frames 5:1

cp "$data/../../docs/examples/demo.json" "$work/scene.json"
check "eval --png draws one panel per time" bash -c "'$vomark' eval '$work/scene.json' --plugins '$plugins' --frame 0 --frame 12 --format summary --png '$work/eval.png' >/dev/null"
check "eval --png picture size" size_is "$work/eval.png" "810 392"
check "panel --png draws the panel after the clicks" V panel "$work/scene.json" --click disable --png "$work/panel.png"
check "panel --png picture size" size_is "$work/panel.png" "290 828"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
