#!/usr/bin/env bash
# The add-on's test inside a headless Blender, as a user installs it: the zip `make blender-addon`
# makes (here with the suite's module in it), an empty home for Blender's scripts and settings, no
# user site and no PYTHONPATH; and no Python exception let through to Blender's console.
# usage: run_blender_test.sh BLENDER VOMARK PLUGIN_DIR MODULE_DIR
set -u
[ $# -eq 4 ] || { echo "usage: run_blender_test.sh BLENDER VOMARK PLUGIN_DIR MODULE_DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
blender=$here/../../integrations/blender
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
env -u LD_PRELOAD /usr/bin/python3 "$blender/make_addon.py" "$work/tessarin_cache.zip" "$4/tessarin" || exit 1
unset PYTHONPATH
export BLENDER_USER_SCRIPTS="$work/scripts" BLENDER_USER_CONFIG="$work/config" PYTHONNOUSERSITE=1
"$1" -b --factory-startup --python-exit-code 1 --python "$here/test_addon.py" -- \
    "$2" "$3" "$work/tessarin_cache.zip" "$work" "$blender/tessarin_preflight.py" >"$work/log" 2>&1
status=$?
cat "$work/log"
if grep -q "^Traceback" "$work/log"; then
    echo "run_blender_test: a Python exception reached Blender's console"
    exit 1
fi
exit $status
