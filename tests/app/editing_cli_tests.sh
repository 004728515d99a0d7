#!/usr/bin/env bash
# vomark panel and vomark run, as people use them: panel clicks, recorded macros replayed, and
# scripts with bad lines.
# usage: editing_cli_tests.sh VOMARK PLUGIN_DIR DATA_DIR
source "$(dirname "$0")/cli_common.sh" "$@"
V() { "$vomark" "$@" --plugins "$plugins"; }
export -f V
export vomark plugins work

# the keyed scene with no cache file set
sed -e "s#OUT/#$work/#" -e 's#"cache_file": "[^"]*", ##' "$data/keys.json" >"$work/scene.json"
sed "s#OUT/#$work/#" "$data/keys.json" >"$work/keys.json"

macro_replays_to_the_same_bytes() {
    V panel "$work/scene.json" --click record --answer save="$work/clicked" --format json >"$work/panel.json" 2>/dev/null || return 1
    jq -r '.macro[]' "$work/panel.json" >"$work/macro.script"
    printf '%s\n' '$.modifiers[#Tessarin].SetCache' '$.modifiers[#Tessarin].Record' | diff - "$work/macro.script" || return 1
    V run "$work/scene.json" "$work/macro.script" --answer save="$work/replayed" 2>/dev/null || return 1
    test -s "$work/clicked.sel" && cmp "$work/clicked.sel" "$work/replayed.sel"
}
check "a macro recorded from panel clicks replays to the same bytes" macro_replays_to_the_same_bytes

# the scripting guide's example, as written, on the example scene (which names a cache file)
docs_example_replays() {
    mkdir -p "$work/ex" && cp "$data/../../docs/examples/demo.json" "$work/ex/demo.json" && cd "$work/ex" || return 1
    V panel demo.json --set cache_file= --click record --answer save=take1.sel --format json 2>/dev/null |
        jq -r '.macro[]' >take.script
    (echo '$.modifiers[#Tessarin].cache_file = ""'; cat take.script) >replay.script
    V run demo.json replay.script --answer save=take2.sel 2>"$work/ex/err" || return 1
    test -s take1.sel && cmp take1.sel take2.sel && test ! -e demo.sel && ! grep -q 'not used' "$work/ex/err" &&
        grep -qx "wrote $work/ex/take2.sel: [0-9]* samples, [0-9]* bytes" "$work/ex/err"
}
check "the scripting guide's panel, macro and run example works on the example scene" docs_example_replays
# a Record that records nothing fails the script at its line: the replace question answered no
# leaves no cache file, and the Record's own dialog has no answer left
record_nothing_fails_the_script() {
    cd "$work/ex" && cp take2.sel take2.keep || return 1
    exits_with 1 "replay.script:3: nothing was recorded: no cache file was chosen" \
        V run demo.json replay.script --answer save=take2.sel || return 1
    cmp take2.sel take2.keep && test "$(V run demo.json replay.script --answer save=take2.sel 2>&1 | grep -c 'exists already\|replace')" -le 1
}
check "a Record that records nothing fails the script, naming the line" record_nothing_fails_the_script
check "record with the save dialog cancelled records nothing and says so" exits_with 1 'vomark: nothing was recorded: no cache file was chosen' \
    V record "$work/keys.json" --set cache_file= --answer save=cancel
check "record with no answer to the save dialog says so too" exits_with 1 'vomark: nothing was recorded: no cache file was chosen' \
    V record "$work/keys.json" --set cache_file=
check "an answer no dialog asked for is a warning" exits_with 0 'vomark: warning: 1 answer was not used: --answer save=take1.sel' \
    V panel "$work/keys.json" --click record --answer save=take1.sel

cache_alone_drives_after_disable() {
    V record "$work/keys.json" 2>/dev/null || return 1
    printf '%s\n' '$.modifiers[#Tessarin].cache_file = "keys.sel"' 'sliderTime = 1' eval \
        '$.modifiers[#Tessarin].DisableMods' eval >"$work/disable.script"
    V run "$work/scene.json" "$work/disable.script" >"$work/evals.csv" || return 1
    test "$(wc -l <"$work/evals.csv")" = 7 || return 1
    diff <(sed -n 2,4p "$work/evals.csv") <(sed -n 5,7p "$work/evals.csv") || return 1
    V eval "$work/keys.json" --frame 1 | diff - <(sed -n 1,4p "$work/evals.csv") || return 1
    # without a cache the switched-off keys leave nothing selected: DisableMods took effect
    printf '%s\n' '$.modifiers[#Tessarin].DisableMods' 'sliderTime = 1' eval >"$work/off.script"
    V run "$work/scene.json" "$work/off.script" | diff - <(printf 'tick,vertex,selected,weight,effective\n'; printf '160,%s,0,,0\n' 0 1 2)
}
check "set cache, eval, DisableMods, eval: the same selection" cache_alone_drives_after_disable

effective_agrees_where_the_channel_differs() {
    # at frame 2 vertex 0 is selected live with 0.2 in its channel; playback sets the bit for the
    # recorded 1.0 and leaves the channel as it comes (0 with the keys switched off)
    printf '%s\n' '$.modifiers[#Tessarin].cache_file = "eff.sel"' '$.modifiers[#Tessarin].Record' \
        'sliderTime = 2' eval '$.modifiers[#Tessarin].DisableMods' eval >"$work/eff.script"
    V run "$work/scene.json" "$work/eff.script" >"$work/eff.csv" 2>/dev/null || return 1
    grep -qx '320,0,1,0.200000003,1' "$work/eff.csv" && grep -qx '320,0,1,0,1' "$work/eff.csv" || { cat "$work/eff.csv"; return 1; }
    diff <(sed -n 2,4p "$work/eff.csv" | cut -d, -f1-3,5) <(sed -n 5,7p "$work/eff.csv" | cut -d, -f1-3,5)
}
check "live and played back agree on effective where the raw channel differs" effective_agrees_where_the_channel_differs

set_cache_by_dialog() {
    printf '%s\n' '$.modifiers[#Tessarin].SetCache' 'sliderTime = 2' eval >"$work/setcache.script"
    V run "$work/scene.json" "$work/setcache.script" --answer open="$work/keys.sel" |
        diff - <(V eval "$work/keys.json" --frame 2)
}
check "SetCache takes the open dialog's answer" set_cache_by_dialog
check "SetCache of a missing file says so as eval does" exits_with 0 "vomark: node \"Tri\": cache $work/none.sel: not found; the modifier plays nothing from it" \
    V panel "$work/scene.json" --click setcache --answer open="$work/none.sel"
set_cache_of_a_cut_file() {
    head -c 50 "$work/keys.sel" >"$work/cut50.sel"
    exits_with 0 "cache $work/cut50.sel: byte " V panel "$work/scene.json" --click setcache --answer open="$work/cut50.sel"
}
check "SetCache of an incomplete file gives verify's reason" set_cache_of_a_cut_file

escape_stops_the_script() {
    printf '%s\n' '$.modifiers[#Tessarin].Record' eval >"$work/stop.script"
    local out rc
    out=$(V run "$work/keys.json" "$work/stop.script" --escape-at-poll 2 2>"$work/stop.err")
    rc=$?
    [ $rc = 130 ] && [ -z "$out" ] || { echo "exit $rc, printed: $out"; return 1; }
    printf '%s\n' "vomark: recording stopped: $work/keys.sel keeps 4 samples (every frame up to the stop)" \
        "$work/stop.script:1: stopped by the user during this line; 1 line ran, none after it" |
        diff - <(grep -v '^recording' "$work/stop.err")
}
check "escape during a recording line stops the script after it" escape_stops_the_script

bad_line() { # script text, expected stderr line
    printf '%s\nsliderTime = 1\n%s\neval\n' '# a comment' "$1" >"$work/bad.script"
    local out err rc
    out=$(V run "$work/scene.json" "$work/bad.script" 2>"$work/bad.err")
    rc=$?
    err=$(cat "$work/bad.err")
    [ $rc = 1 ] || { echo "exit $rc"; return 1; }
    [ -z "$out" ] || { echo "ran on after the bad line: $out"; return 1; }
    [ "$err" = "$work/bad.script:3: $2" ] || { echo "stderr: $err"; return 1; }
}
check "unknown command" bad_line 'play' 'unknown command "play"'
check "unknown parameter" bad_line '$.modifiers[#Tessarin].speed = 2' '#Tessarin has no parameter "speed"'
check "unknown function" bad_line '$.modifiers[#Tessarin].Explode' '#Tessarin has no function "Explode"'
check "wrong value type" bad_line '$.modifiers[#Tessarin].samples = "two"' 'samples takes a number, not a string'
check "not a whole number" bad_line '$.modifiers[#Tessarin].samples = 2.5' 'samples takes a whole number'
check "a string where a path goes" bad_line '$.modifiers[#Tessarin].cache_file = 3' 'cache_file takes a string in double quotes'
check "unterminated string" bad_line '$.modifiers[#Tessarin].cache_file = "walk.sel' 'unterminated string'
check "a node that does not exist" bad_line 'select Nope' 'no node named "Nope"'
check "a modifier that does not exist" bad_line '$.modifiers[#Bend].Record' 'node "Tri" has no modifier #Bend'
check "trailing text" bad_line 'eval now' 'unexpected "now" at the end of the line'
check "a frame out of range" bad_line 'sliderTime = 1e30' 'frame 1e30 is out of range'
check "control bytes stay on one line" bad_line "$(printf 'x\001y')" 'unknown command "x"'
check "a script and a scene description with a byte-order mark and CRLF line ends" bash -c 'printf "\xef\xbb\xbfsliderTime = 1\r\neval\r\n" >"$work/bom.script" && { printf "\xef\xbb\xbf"; sed "s/\$/\r/" "$work/keys.json"; } >"$work/bom.json" && V run "$work/bom.json" "$work/bom.script" | grep -q "^160,0,"'
# a save goes through a temporary name beside its target: one that fails leaves nothing behind
failed_save_leaves_nothing() {
    mkdir -p "$work/saves/full" && echo keep >"$work/saves/full/x" || return 1
    printf 'save %s\n' "$work/saves/full" >"$work/savedir.script"
    exits_with 1 "savedir.script:1: $work/saves/full: is a folder" V run "$work/keys.json" "$work/savedir.script" || return 1
    [ "$(ls -A "$work/saves")" = full ] && [ "$(cat "$work/saves/full/x")" = keep ] || { ls -la "$work/saves"; return 1; }
    # one that works, twice over the same name, leaves the file alone beside it
    printf 'save %s\n' "$work/saves/s.vms" "$work/saves/s.vms" >"$work/save2.script"
    V run "$work/keys.json" "$work/save2.script" && [ "$(ls -A "$work/saves" | sort | tr '\n' ' ')" = "full s.vms " ]
}
check "a failed save leaves no temporary file and the target as it was" failed_save_leaves_nothing
check "a script that cannot be read" bash -c 'V run "$work/scene.json" "$work/none.script"; [ $? = 1 ]'

check "names resolve without case, as recorded" bash -c 'printf "%s\n" "\$.modifiers[#tessarin].disablemods" "SELECT Tri" EVAL >"$work/case.script" && V run "$work/keys.json" "$work/case.script" | grep -qx "0,0,0,0.200000003,0.200000003"'

panel_json() {
    V panel "$work/keys.json" --format json >"$work/p.json" || return 1
    test "$(jq '.controls | length' "$work/p.json")" = 30 || return 1
    test "$(jq -c '[.controls[] | select(.visible == false) | .id]' "$work/p.json")" = '[1005,1494,1500,1012]' || return 1
    test "$(jq -r '.controls[] | select(.id == 1010) | .text' "$work/p.json")" = keys.sel || return 1
    test "$(jq -c '.macro' "$work/p.json")" = '[]'
}
check "panel json lists every control" panel_json
check "panel text: stack buttons record their lines after acting" bash -c 'V panel "$work/keys.json" --click disable --click enable --click 1006 | tail -2 | diff - <(printf "%s\n" "\$.modifiers[#Tessarin].DisableMods" "\$.modifiers[#Tessarin].EnableMods")'
check "panel text: a control a line" bash -c 'V panel "$work/keys.json" | grep -qx "1010 Static \"keys.sel\" visible enabled"'
# panel's exit status on each kind of failure: 1 for what the scene or the panel refuses, 2 for the
# command line; and the clicks before a refused one are not taken for success
check "panel refuses a missing control" exits_with 1 '--click 4242: the panel has no enabled control 4242' V panel "$work/keys.json" --click 4242
check "panel refuses a disabled control" exits_with 1 '--click 1005: the panel has no enabled control 1005' V panel "$work/keys.json" --click 1005
check "panel refuses a control after clicks that worked" exits_with 1 'no enabled control 4242' V panel "$work/keys.json" --click disable --click 4242
check "panel refuses an unknown click name" exits_with 2 '--click explode: expected record, setcache, enable, disable or a control id' V panel "$work/keys.json" --click explode
check "panel refuses a --modifier the scene lacks" exits_with 2 'no modifier with id "m9"' V panel "$work/keys.json" --modifier m9
sed 's#{"class": "Tessarin"[^}]*}}#{"class": "SoftSelect", "radius": 1, "falloff": 1, "center": [{"frame": 0, "at": [0, 0, 0]}]}#' "$work/keys.json" >"$work/plain.json"
check "panel refuses a node without a Tessarin" exits_with 1 'node "Tri" has no Tessarin modifier' V panel "$work/plain.json"
failed_record_click() {
    local out rc
    out=$(V panel "$work/keys.json" --set cache_file="$work/no/dir/x.sel" --click record 2>"$work/pe")
    rc=$?
    [ $rc = 1 ] || { echo "exit $rc"; return 1; }
    grep -q '^1003 CustButton "Record"' <<<"$out" || { echo "the panel was not printed: $out"; return 1; }
    grep -qx "vomark: recording failed: $work/no/dir/x.sel could not be written (its folder $work/no/dir does not exist)" "$work/pe"
}
check "panel exits 1 after printing when a button's recording fails" failed_record_click
# a click on a check box turns it over, as the view's check does, and changes its parameter
toggles() {
    V panel "$work/keys.json" | grep -qx '1014 Button "Accumlate Selection" visible enabled unchecked' || return 1
    V panel "$work/keys.json" --click 1014 | grep -qx '1014 Button "Accumlate Selection" visible enabled checked' || return 1
    V panel "$work/keys.json" --click 1014 --click 1014 | grep -qx '1014 Button "Accumlate Selection" visible enabled unchecked' || return 1
    V panel "$work/keys.json" --click 1014 --format json | jq -e '.controls[] | select(.id == 1014) | .checked == true' >/dev/null
}
check "panel --click on a check box toggles it" toggles
check "panel and run have help" bash -c 'V panel --help | grep -q -- --click && V run --help | grep -q script'
check "replacing an existing file is no failure" bash -c 'V record "$work/scene.json" --answer save="$work/keys.sel" --answer yesno=yes 2>/dev/null'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
