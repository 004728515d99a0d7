# Sourced by the command-line test scripts: their arguments, a scratch folder and check().
# usage: source cli_common.sh VOMARK PLUGIN_DIR DATA_DIR [nopictures]
# (nopictures: a build without demo, view and --png, whose checks are left out)
set -u
vomark=$1 plugins=$2 data=$3 build=${4:-}
pictures() { [ "$build" != nopictures ]; } # guards a check that draws or serves the page
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
