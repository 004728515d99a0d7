#!/usr/bin/env bash
# Runs fuzz targets one after another, each for SECONDS, from a copy of its seeds in the build folder
# (fuzz/corpus/NAME/, with tests/data/regressions/NAME/ read too) and with fuzz/NAME.dict when there
# is one; ends with one line per target. A crash, leak or timeout stops the run with exit 1 and says
# where the input was written. usage: fuzz/run.sh BUILD_DIR SECONDS [NAME...]
# (no NAME: every target listed in BUILD_DIR/fuzz_targets.txt)
set -uo pipefail
build=$(cd "$1" && pwd) seconds=$2
shift 2
src=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 0 ]; then names=("$@"); else mapfile -t names <"$build/fuzz_targets.txt"; fi
# fontconfig keeps its caches for the life of the process (the plot verb draws text)
export LSAN_OPTIONS="suppressions=$src/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
summary=()
for name in "${names[@]}"; do
    bin=$build/bin/fuzz_$name
    [ -x "$bin" ] || { echo "fuzz: no target $name (expected $bin)" >&2; exit 2; }
    corpus=$build/corpus/$name artifacts=$build/artifacts/$name/ log=$build/logs/$name.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    [ -d "$src/fuzz/corpus/$name" ] && cp -n "$src/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix="$artifacts")
    [ -f "$src/fuzz/$name.dict" ] && args+=(-dict="$src/fuzz/$name.dict")
    dirs=("$corpus")
    [ -d "$src/tests/data/regressions/$name" ] && dirs+=("$src/tests/data/regressions/$name")
    echo "fuzz_$name: ${seconds}s"
    "$bin" "${args[@]}" "${dirs[@]}" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
    if [ $rc -ne 0 ]; then
        input=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
        grep -m1 -E '^==[0-9]+==ERROR|runtime error|deadly signal|ALARM|out-of-memory|broken:' "$log"
        echo "fuzz_$name: FAILED (exit $rc) after ${runs:-?} executions; input written to ${input:-?}; log $log"
        exit 1
    fi
    summary+=("$(printf 'fuzz_%-18s %10s executions  0 crashes  peak rss %s MB' "$name" "${runs:-?}" "${rss:-?}")")
done
printf '%s\n' "${summary[@]}"
