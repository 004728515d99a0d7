#!/usr/bin/env bash
# scripts/wine-session and scripts/wine-run in a Wine prefix of their own (the test run's own server
# must not be touched): one server for a whole run, nothing left holding the caller's output, the
# command's exit status kept, Ctrl-C and a server left by a killed run handled.
# usage: wine_session.sh DIR   (the prefix DIR/wine and its log; made by the test, removed afterwards)
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
dir=$1
export WINEPREFIX=$dir/wine
rm -rf "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work" "$dir"' EXIT
source "$scripts/wine-env"
passed=0 failed=0
check() { # name, then a command that must succeed
    local name=$1; shift
    if "$@" >"$work/out" 2>"$work/err"; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAIL: $name"; sed 's/^/  /' "$work/out" "$work/err" | head -20; fi
}
# a session whose server or services kept its output open would never end; fail instead of waiting
session() { timeout 300 "$scripts/wine-session" "$@"; }
server_pid() { # the prefix's wineserver, or nothing
    local pid
    for pid in $(wine_processes); do
        [ "$(readlink "/proc/$pid/exe")" = /usr/lib/wine/wineserver64 ] && echo "$pid"
    done
    return 0
}
nothing_left() {
    local left
    left=$(wine_processes)
    [ -z "$left" ] || { echo "Wine processes left: $left"; ps -o pid,args -p "${left//$'\n'/,}"; return 1; }
}
export -f server_pid wine_processes

# 30 programs one after another, with pauses longer than the 3 s after which a server on its own
# would stop, all served by the one server that the session started
cat >"$work/programs.sh" <<'PROGRAMS'
first=$(server_pid)
[ -n "$first" ] || { echo "no server running" >&2; exit 1; }
for i in $(seq 30); do
    out=$("$1" cmd /c echo program-$i) || { echo "program $i failed" >&2; exit 1; }
    [ "${out%$'\r'}" = "program-$i" ] || { echo "program $i wrote '$out'" >&2; exit 1; }
    case $i in 10|20) sleep 4 ;; esac
done
[ "$(server_pid)" = "$first" ] || { echo "server $first was replaced by '$(server_pid)'" >&2; exit 1; }
echo "30 programs"
PROGRAMS
check "a first run makes the prefix and keeps one server for all programs" \
    bash -c "out=\$(set -o pipefail; '$scripts/wine-session' bash '$work/programs.sh' '$scripts/wine-run' | cat) &&
             [ \"\$out\" = '30 programs' ] && test -f '$WINEPREFIX/system.reg'"
check "after a run no Wine process of the prefix is left" nothing_left
check "Wine's own output goes to the log beside the prefix" \
    grep -q "wine-session bash $work/programs.sh" "$dir/wine-session.log"

check "the command's exit status is kept" bash -c "$(declare -f session); scripts='$scripts';
    session sh -c 'exit 3'; [ \$? = 3 ] || exit 1
    session '$scripts/wine-run' cmd /c exit 5; [ \$? = 5 ] || exit 1
    session true"
check "a failed run leaves no Wine process either" nothing_left

# Ctrl-C reaches the whole process group while the session waits for the command, which handles it
# and exits normally, as ctest does
cat >"$work/ctrl-c.sh" <<'CTRLC'
trap 'exit 8' INT
until [ "$(cat /proc/$PPID/wchan)" = do_wait ]; do sleep 0.01; done
kill -INT 0
exit 0
CTRLC
check "Ctrl-C stops the server, keeps the prefix and exits 130 with one line" bash -c "
    err=\$(timeout 300 setsid '$scripts/wine-session' bash '$work/ctrl-c.sh' 2>&1 >/dev/null); got=\$?
    [ \$got = 130 ] || { echo \"exit \$got\"; exit 1; }
    [ \"\$(printf '%s\n' \"\$err\" | wc -l)\" = 1 ] && grep -q 'Ctrl-C' <<<\"\$err\" || { echo \"stderr: \$err\"; exit 1; }
    test -f '$WINEPREFIX/system.reg'"
check "nothing is left after Ctrl-C" nothing_left

# a persistent server from a run that was killed outright, before it could stop its server
setsid "$wine_server" -p </dev/null >/dev/null 2>&1
check "a server left by a killed run is replaced" \
    bash -c "old=\$(server_pid); [ -n \"\$old\" ] || exit 1
             new=\$(timeout 300 '$scripts/wine-session' bash -c server_pid) || exit 1
             [ -n \"\$new\" ] && [ \"\$new\" != \"\$old\" ]"
check "and stopped with the run" nothing_left

check "wine-run works without a session, its server ending with its program" \
    bash -c "[ \"\$('$scripts/wine-run' cmd /c echo alone | tr -d '\r')\" = alone ] && timeout 60 '$wine_server' -w"
check "nothing is left after a program on its own" nothing_left

echo "wine_session: $passed passed, $failed failed"
[ "$failed" = 0 ]
