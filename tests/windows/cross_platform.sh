#!/usr/bin/env bash
# The Windows build beside the Linux build on the same scenes: recordings byte for byte, scene files
# read by the other, non-ASCII names, Windows paths, and the verbs the Windows build leaves out.
# usage: cross_platform.sh LINUX_VOMARK WINDOWS_VOMARK DATA_DIR
# (WINDOWS_VOMARK runs vomark.exe under Wine; both find their Tessarin.dlm beside their own build.)
set -u
lin=$1 win=$2 data=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
passed=0 failed=0
check() { # name, then a command that must succeed
    local name=$1; shift
    if "$@" >"$work/out" 2>"$work/err"; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAIL: $name"; sed 's/^/  /' "$work/out" "$work/err" | head -20; fi
}
exits_with() { # exit status, expected text on stderr, then the command
    local status=$1 text=$2; shift 2
    local out rc
    out=$("$@" 2>&1 >/dev/null); rc=$?
    [ "$rc" = "$status" ] || { echo "exit $rc, wanted $status: $out"; return 1; }
    grep -qF -- "$text" <<<"$out" || { echo "stderr: $out"; return 1; }
}
# each platform works in a folder of its own on copies of the same scenes
for p in lin win; do
    mkdir -p "$p/out"
    cp "$data/../../docs/examples/demo.json" "$p/demo.json"
    sed 's#OUT/keys.sel#out/keys.sel#' "$data/keys.json" >"$p/keys.json"
done
in_dir() { local d=$1; shift; (cd "$d" && "$@"); }

# Recording: the same scene gives the same bytes on both platforms.
same_recording() { # scene, cache file it names
    in_dir lin "$lin" record "$1" >/dev/null && in_dir win "$win" record "$1" >/dev/null &&
        cmp "lin/$2" "win/$2"
}
check "demo.json records the same bytes" same_recording demo.json demo.sel
check "keys.json records the same bytes" same_recording keys.json out/keys.sel

# Scene files: one saved on Linux plays the same weights on Windows (Wine sees Linux's / as Z:\).
vms_plays_on_windows() {
    in_dir lin "$lin" record demo.json --save demo.vms >/dev/null &&
        in_dir lin "$lin" eval demo.vms --frame 0 --frame 3.5 --frame 12.25 --frame 24 >lin.csv &&
        in_dir lin "$win" eval demo.vms --frame 0 --frame 3.5 --frame 12.25 --frame 24 >win.csv &&
        [ "$(wc -l <lin.csv)" -gt 60 ] && cmp lin.csv win.csv
}
check "a .vms saved on Linux plays the same weights on Windows" vms_plays_on_windows
# And one saved on Windows plays on Linux when its names start at a root ("/tmp/x/demo.sel" is
# Z:\tmp\x\demo.sel there): the scene description keeps such names as they are.
vms_plays_on_linux() {
    local here; here=$(pwd)
    sed "s#\"demo.sel\"#\"$here/win/rooted.sel\"#" win/demo.json >win/rooted.json &&
        in_dir win "$win" record rooted.json --save rooted.vms >/dev/null 2>&1 &&
        strings win/rooted.vms | grep -qx "$here/win/rooted.sel" &&
        "$lin" eval win/rooted.vms --frame 0 --frame 3.5 --frame 24 >lin.r.csv &&
        "$win" eval win/rooted.vms --frame 0 --frame 3.5 --frame 24 >win.r.csv &&
        [ "$(wc -l <lin.r.csv)" -gt 40 ] && cmp lin.r.csv win.r.csv && cmp win/rooted.sel lin/demo.sel
}
check "a .vms saved on Windows plays the same weights on Linux" vms_plays_on_linux
# A scene file holds no other platform-specific bytes: without file names, the two are the same, and
# each reads the other's file to the same weights.
no_paths() {
    sed 's#"cache_file": "demo.sel", ##' demo.json >nopath.json
}
vms_bytes_and_weights() {
    for p in lin win; do in_dir $p no_paths || return 1; done
    in_dir lin "$lin" save nopath.json nopath.vms >/dev/null &&
        in_dir win "$win" save nopath.json nopath.vms >/dev/null &&
        cmp lin/nopath.vms win/nopath.vms &&
        "$lin" eval win/nopath.vms --frame 7.5 >a.csv && "$win" eval lin/nopath.vms --frame 7.5 >b.csv &&
        [ "$(wc -l <a.csv)" -gt 10 ] && cmp a.csv b.csv
}
check "a .vms without file names: the same bytes, read by the other" vms_bytes_and_weights

# Non-ASCII names: record into Szene-Ü/caché.sel, save the scene there, reload it and play.
non_ascii() { # platform folder, its vomark
    local d=$1 vm=$2
    mkdir -p "$d/Szene-Ü" &&
        in_dir "$d" "$vm" record demo.json --set "cache_file=Szene-Ü/caché.sel" --save "Szene-Ü/szene.vms" \
            >/dev/null 2>&1 &&
        [ -s "$d/Szene-Ü/caché.sel" ] && [ -s "$d/Szene-Ü/szene.vms" ] &&
        in_dir "$d" "$vm" assets "Szene-Ü/szene.vms" | grep -q "caché.sel" &&
        in_dir "$d" "$vm" eval "Szene-Ü/szene.vms" --frame 3.5 --frame 20 >"$d.u.csv"
}
check "Szene-Ü/caché.sel on Linux" non_ascii lin "$lin"
check "Szene-Ü/caché.sel on Windows" non_ascii win "$win"
check "the non-ASCII recordings and their playback agree" \
    bash -c 'cmp lin/Szene-Ü/caché.sel win/Szene-Ü/caché.sel && cmp lin.u.csv win.u.csv'
# an OBJ mesh by a non-ASCII name: both read the same quad
obj_mesh() {
    printf 'v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n' >"lin/Szene-Ü/quad.obj" &&
        cp "lin/Szene-Ü/quad.obj" "win/Szene-Ü/quad.obj" &&
        for p in lin win; do
            sed 's#"grid": {[^}]*}#"obj": "Szene-Ü/quad.obj"#; s#"cache_file": "demo.sel", ##' $p/demo.json >$p/obj.json || return 1
        done &&
        in_dir lin "$lin" eval obj.json --frame 12 >lin.o.csv && in_dir win "$win" eval obj.json --frame 12 >win.o.csv &&
        [ "$(wc -l <lin.o.csv)" = 5 ] && cmp lin.o.csv win.o.csv
}
check "an OBJ mesh by a non-ASCII name on both" obj_mesh

# Windows paths: backslashes in cache_file, a drive letter in a dialog's answer, and the fallback
# to the file's name in host directory 2.
windows_paths() {
    local here; here=$(cd win && pwd)
    mkdir -p win/sub win/caches &&
        in_dir win "$win" record demo.json --set 'cache_file=sub\back.sel' >/dev/null &&
        cmp win/sub/back.sel win/demo.sel &&
        in_dir win "$win" record demo.json --set cache_file= --answer "save=Z:${here//\//\\}\\caches\\drive.sel" \
            >/dev/null &&
        cmp win/caches/drive.sel win/demo.sel &&
        sed 's#"ticksPerFrame"#"directories": {"2": "caches"}, "ticksPerFrame"#; s#"demo.sel"#"gone\\\\drive.sel"#' \
            win/demo.json >win/fallback.json &&
        in_dir win "$win" eval fallback.json --frame 3.5 >fallback.csv &&
        in_dir win "$win" eval demo.json --frame 3.5 >direct.csv && cmp fallback.csv direct.csv
}
check "backslashes, drive letters and directory 2 on Windows" windows_paths

# Ctrl-C reaches a recording through the console's handler: Escape to the recorder, exit 130.
ctrl_c_stops_recording() {
    sed 's#"animationRange": \[0, 24\]#"animationRange": [0, 1000000]#; s#"demo.sel", #"long.sel", "end_time": 1000000, #' \
        win/demo.json >win/long-ctrl-c.json &&
        (cd win && exec "$win" record long-ctrl-c.json >/dev/null 2>../ctrl-c.err) &
    local job=$! i
    for i in $(seq 600); do grep -q 'recording frame 1 of' ctrl-c.err 2>/dev/null && break; sleep 0.1; done
    pkill -INT -f 'vomark.exe record long-ctrl-c.json'
    wait $job
    local rc=$?
    [ "$rc" = 130 ] || { echo "exit $rc"; cat ctrl-c.err; return 1; }
    grep -q 'recording stopped: .*long.sel keeps [0-9]* samples' ctrl-c.err
}
check "Ctrl-C stops a recording on Windows, which keeps what it recorded" ctrl_c_stops_recording

# What the Windows build leaves out says so, as a usage error.
check "demo is not in this build" exits_with 2 "not in this build" "$win" demo
check "view is not in this build" exits_with 2 "not in this build" "$win" view demo.json
check "eval --png is not in this build" exits_with 2 "not in this build" "$win" eval win/demo.json --frame 1 --png x.png
check "panel --png is not in this build" exits_with 2 "not in this build" "$win" panel win/demo.json --png x.png

echo "cross_platform: $passed passed, $failed failed"
[ "$failed" = 0 ]
