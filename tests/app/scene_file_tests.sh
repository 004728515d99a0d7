#!/usr/bin/env bash
# Scene files on the command line: record --save, save, assets, loading .vms in every verb, refusals.
# usage: scene_file_tests.sh VOMARK PLUGIN_DIR DATA_DIR [nopictures]
source "$(dirname "$0")/cli_common.sh" "$@"
V() { "$vomark" "$@" --plugins "$plugins"; }
times=(--tick 0 --tick 40 --tick 80 --tick 170 --tick 240 --tick 320 --tick 400)

sed "s#OUT/#$work/#" "$data/keys.json" >"$work/keys.json"
check "record --save keeps the scene" bash -c "$(declare -f V); vomark='$vomark' plugins='$plugins'; V record '$work/keys.json' --save '$work/keys.vms' 2>/dev/null | grep -qx 'saved $work/keys.vms: 1 node, [0-9]* bytes' && head -c 4 '$work/keys.vms' | grep -qx VMSC"
V eval "$work/keys.json" "${times[@]}" >"$work/json.csv" 2>/dev/null
check "a loaded scene plays back the weights it played before" bash -c "'$vomark' eval '$work/keys.vms' --plugins '$plugins' ${times[*]} | diff '$work/json.csv' -"
check "loading and saving again gives the same bytes" bash -c "'$vomark' save '$work/keys.vms' '$work/again.vms' --plugins '$plugins' >/dev/null && cmp '$work/keys.vms' '$work/again.vms'"
check "a JSON scene saves to the same bytes" bash -c "'$vomark' save '$work/keys.json' '$work/fromjson.vms' --plugins '$plugins' >/dev/null && cmp '$work/keys.vms' '$work/fromjson.vms'"
check "save refuses to replace a file" exits_with 1 "$work/again.vms: exists already; give --force to replace it" V save "$work/keys.vms" "$work/again.vms"
check "save --force replaces it" V save "$work/keys.vms" "$work/again.vms" --force
check "record --save refuses to replace a file before recording" exits_with 1 "exists already" V record "$work/keys.json" --save "$work/again.vms"
check "a failed save leaves no file" bash -c "! '$vomark' save '$work/keys.vms' '$work/no/dir/x.vms' --plugins '$plugins' 2>'$work/e' && grep -q '$work/no/dir/x.vms: cannot be written: ' '$work/e' && test ! -e '$work/no'"
head -c 100 "$work/keys.vms" >"$work/cut.vms"
check "a truncated scene is refused with the place" exits_with 1 "vomark: $work/cut.vms: byte 8: chunk 0x0100 claims" V eval "$work/cut.vms" --frame 0
cp "$work/keys.json" "$work/foreign.vms"
check "a foreign file is refused" exits_with 1 "foreign.vms: byte 0: not a scene file" V eval "$work/foreign.vms" --frame 0
check "assets lists the existing cache file" bash -c "'$vomark' assets '$work/keys.vms' --plugins '$plugins' 2>/dev/null | diff <(echo '$work/keys.sel') - && test -z \"\$('$vomark' assets '$work/keys.vms' --missing --plugins '$plugins')\""
mv "$work/keys.sel" "$work/moved.sel"
check "assets --missing lists the missing one" bash -c "'$vomark' assets '$work/keys.vms' --missing --plugins '$plugins' 2>/dev/null | diff <(echo '$work/keys.sel') - && test -z \"\$('$vomark' assets '$work/keys.json' --plugins '$plugins' 2>/dev/null)\""
check "assets --missing exits 1 when it lists a file" exits_with 1 "" V assets "$work/keys.vms" --missing
check "the missing-file warning as a message box line" bash -c "'$vomark' eval '$work/keys.vms' --plugins '$plugins' --frame 0 2>&1 >/dev/null | grep -cx 'message: Warning: Cache file not found  $work/keys.sel' | grep -qx 1"
check "the missing-file warning in quiet mode as a log line" bash -c "'$vomark' eval '$work/keys.vms' --plugins '$plugins' --frame 0 --quiet 2>&1 >/dev/null | diff <(echo 'error: Warning: Cache file not found : $work/keys.sel'; echo 'vomark: node \"Tri\": cache $work/keys.sel: not found; the modifier plays nothing from it') -"
mv "$work/moved.sel" "$work/keys.sel"
check "assets --missing exits 0 when nothing is missing" V assets "$work/keys.json" --missing
check "without the module the modifier is kept and saved back unchanged" bash -c "'$vomark' save '$work/keys.vms' '$work/bare.vms' --plugins /nonexistent 2>'$work/w' >/dev/null && cmp '$work/keys.vms' '$work/bare.vms' && grep -qx 'warning: $work/keys.vms: no loaded module provides class id (0x21d07ae1, 0x48d30bff); its modifier is kept unchanged and passes its input through' '$work/w'"
check "record runs from a scene file" bash -c "rm '$work/keys.sel' && '$vomark' record '$work/keys.vms' --plugins '$plugins' 2>/dev/null && test \$(stat -c %s '$work/keys.sel') = 180"
printf '%s\n' 'save "saved.vms"' '$.modifiers[#Tessarin].selectionType = 1' 'sliderTime = 1.5' 'eval' 'load saved.vms' 'sliderTime = 1.5' 'eval' >"$work/saveload.script"
check "a script saves and loads the scene" bash -c "'$vomark' run '$work/keys.json' '$work/saveload.script' --plugins '$plugins' >'$work/sl.csv' && '$vomark' eval '$work/keys.json' --plugins '$plugins' --frame 1.5 | diff - <(sed -n '1p;5,7p' '$work/sl.csv') && ! diff -q <(sed -n '2,4p' '$work/sl.csv') <(sed -n '5,7p' '$work/sl.csv') >/dev/null && cmp '$work/saved.vms' '$work/keys.vms'"
printf '%s\n' 'eval' 'load "cut.vms"' 'eval' >"$work/badload.script"
check "a script stops at a damaged scene file" exits_with 1 "badload.script:2: $work/cut.vms: byte 8: chunk 0x0100 claims" V run "$work/keys.json" "$work/badload.script"
sed 's#"cache_file": "[^"]*"#"cache_file": ""#' "$work/keys.json" >"$work/unnamed.json"
check "an empty cache_file is no file: no warning, no asset" bash -c "'$vomark' save '$work/unnamed.json' '$work/unnamed.vms' --plugins '$plugins' >/dev/null && test -z \"\$('$vomark' assets '$work/unnamed.vms' --missing --plugins '$plugins')\" && '$vomark' eval '$work/unnamed.vms' --plugins '$plugins' --frame 0 2>&1 >/dev/null | grep -c . | grep -qx 0"
mkdir -p "$work/here" "$work/there"
check "a name given to the save dialog is kept as a full path" bash -c "cd '$work/here' && '$vomark' record ../keys.json --plugins '$plugins' --set cache_file= --answer save=take3 --save out.vms >/dev/null 2>&1 && cd '$work/there' && test -z \"\$('$vomark' assets ../here/out.vms --missing --plugins '$plugins')\" && '$vomark' assets ../here/out.vms --plugins '$plugins' | diff <(echo '$work/here/take3.sel') -"
# Every verb that writes refuses to write over a file it reads, however the name is spelled:
# another spelling, a symbolic link, a hard link. Each case checks the input is left as it was.
unchanged_after() { # file, then the command that must refuse with status 1
    local file=$1; shift
    local before; before=$(sha1sum <"$file")
    exits_with 1 "; write to another name" "$@" || return 1
    test "$(sha1sum <"$file")" = "$before" || { echo "$file changed"; return 1; }
}
( cd "$work" && ln -sf keys.sel link.sel && ln -f keys.sel hard.sel && ln -sf keys.vms link.vms )
printf 'save "%s"\n' "$work/./refuse.script" >"$work/refuse.script"
pictures && check "eval --png refuses the scene, named another way" unchanged_after "$work/keys.json" bash -c "cd '$work' && '$vomark' eval ./keys.json --plugins '$plugins' --frame 0 --png ../$(basename "$work")/keys.json"
pictures && check "eval --png refuses the cache file through a symbolic link" unchanged_after "$work/keys.sel" V eval "$work/keys.json" --frame 0 --png "$work/link.sel"
pictures && check "panel --png refuses the cache file through a hard link" unchanged_after "$work/keys.sel" V panel "$work/keys.json" --png "$work/hard.sel"
check "save refuses the scene through a symbolic link, even with --force" unchanged_after "$work/keys.vms" V save "$work/keys.vms" "$work/link.vms" --force
check "save refuses the cache file it names" unchanged_after "$work/keys.sel" V save "$work/keys.json" "$work/hard.sel" --force
check "record --save refuses the cache file" unchanged_after "$work/keys.sel" V record "$work/keys.json" --save "$work/link.sel" --force
check "record refuses a cache file that is the scene" unchanged_after "$work/keys.json" V record "$work/keys.json" --set cache_file="$work/./keys.json" --answer yesno=yes
check "a script's save refuses the script" unchanged_after "$work/refuse.script" V run "$work/keys.json" "$work/refuse.script"
printf 'load "keys.vms"\nsave "link.sel"\n' >"$work/refuse2.script"
check "a script's save refuses the cache file of a scene it loaded" unchanged_after "$work/keys.sel" V run "$work/keys.json" "$work/refuse2.script"
# Every output is written one way: through a symbolic link the file it leads to is replaced (the
# link stays, and so do the file's permissions), and a FIFO is written into, never replaced.
writes_through_links_and_fifos() { # the command, with OUT for the output
    rm -rf "$work/o" && mkdir "$work/o" && echo old >"$work/o/target" && chmod 600 "$work/o/target" &&
        ln -s target "$work/o/link" || return 1
    "${@/OUT/$work/o/link}" >/dev/null || return 1
    [ "$(readlink "$work/o/link")" = target ] && [ "$(stat -c %a "$work/o/target")" = 600 ] &&
        ! grep -qx old "$work/o/target" && [ "$(ls -A "$work/o" | tr '\n' ' ')" = "link target " ] ||
        { ls -lA "$work/o"; return 1; }
    mkfifo "$work/o/fifo" && { timeout 20 cat "$work/o/fifo" >"$work/o/read" & }
    timeout 20 "${@/OUT/$work/o/fifo}" >/dev/null; local code=$?
    wait
    [ "$code" = 0 ] && [ -p "$work/o/fifo" ] && cmp "$work/o/read" "$work/o/target"
}
# (the Linux build: Wine shows a link as the file it leads to, and has no FIFOs)
pictures && check "save writes through a link and into a FIFO" writes_through_links_and_fifos "$vomark" save "$work/keys.json" OUT --force --plugins "$plugins"
pictures && check "eval --png writes through a link and into a FIFO" writes_through_links_and_fifos "$vomark" eval "$work/keys.json" --frame 0 --png OUT --plugins "$plugins"
check "save and assets have help" bash -c "'$vomark' save --help | grep -q -- --force && '$vomark' assets --help | grep -q -- --missing"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
