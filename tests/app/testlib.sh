# Shared by the command-line test scripts: a work folder removed at exit, check and the tally.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() { # name, then a command that must succeed
    local name=$1; shift
    if "$@" >"$work/out" 2>"$work/err"; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAIL: $name"; sed 's/^/  /' "$work/out" "$work/err" | head -20; fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
