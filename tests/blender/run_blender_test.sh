#!/usr/bin/env bash
# The add-on's test inside a headless Blender, with a scratch home for Blender's scripts and
# settings, the tessarin module found through PYTHONPATH, and no Python exception let through to
# Blender's console. usage: run_blender_test.sh BLENDER VOMARK PLUGIN_DIR MODULE_DIR
set -u
[ $# -eq 4 ] || { echo "usage: run_blender_test.sh BLENDER VOMARK PLUGIN_DIR MODULE_DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export BLENDER_USER_SCRIPTS="$work/scripts" BLENDER_USER_CONFIG="$work/config" PYTHONPATH="$4"
"$1" -b --factory-startup --python-use-system-env --python-exit-code 1 --python "$here/test_addon.py" -- \
    "$2" "$3" "$here/../../integrations/blender/tessarin_cache.py" "$work" >"$work/log" 2>&1
status=$?
cat "$work/log"
if grep -q "^Traceback" "$work/log"; then
    echo "run_blender_test: a Python exception reached Blender's console"
    exit 1
fi
exit $status
