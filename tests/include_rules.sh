#!/usr/bin/env bash
# The layers' include rules (docs/architecture.md), checked on the sources as they are: every
# project include ("...") of a folder must name a folder that folder may use. Quoted includes are
# written from the repository's root, or relative to an SDK or app folder for the host and the app.
# A project header is never included with angle brackets (they would find it through whatever
# include path a target happens to have) nor through "..". Only app/main.cpp reaches the page
# (app/view/), and the Blender add-on imports only the module, Blender's own and the standard
# library's.
# usage: tests/include_rules.sh [REPO]
#        tests/include_rules.sh --planted REPO   each rule broken once in a scratch copy: all refused
set -u
if [ "${1:-}" = --planted ]; then
    self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    bad=0
    while IFS='|' read -r file text; do
        rm -rf "$scratch/r" && mkdir "$scratch/r"
        (cd "$2" && cp -r sel console host plugin python pictures tools app integrations "$scratch/r/")
        mkdir -p "$(dirname "$scratch/r/$file")" && printf '%s\n' "$text" >>"$scratch/r/$file"
        if out=$("$self" "$scratch/r"); then
            echo "planted and not refused: $file: $text"
            bad=1
        elif ! grep -q "^$file" <<<"$out"; then
            echo "planted in $file, but refused for something else: $out"
            bad=1
        fi
    done <<'PLANTS'
plugin/planted.cpp|#include <runtime/scene.h>
host/sdk/vomark/planted.h|#include "runtime/scene.h"
sel/planted.cpp|#include "sel/../plugin/tessarin.h"
app/verbs/planted.cpp|#include "view/server.h"
app/scene/planted.cpp|#include "verbs/verbs.h"
app/view/planted.cpp|#include "verbs/verbs.h"
integrations/blender/tessarin_cache/planted.py|import requests
PLANTS
    [ $bad -eq 0 ] && echo "include rules: every planted breach refused"
    exit $bad
fi
repo=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$repo" || exit 2
failed=0
refuse() {
    echo "$1"
    failed=1
}

# the folders whose names a project include starts with
project='sel|console|pictures|plugin|tools|app|host|runtime|vomark|python|view|tests|bench|fuzz|integrations'
sources=(sel console host plugin python pictures tools app tests bench fuzz)

while IFS= read -r line; do
    refuse "${line%%:*}: includes <$(sed -E 's/.*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/\1/' <<<"$line")>, a project header: write it in quotes"
done < <(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($project)/" "${sources[@]}" 2>/dev/null)
while IFS= read -r line; do
    refuse "${line%%:*}: includes \"$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")\", through ..: name it from its folder"
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*/)?\.\.(/|")' "${sources[@]}" 2>/dev/null)

# folder, then the include prefixes its sources may use (a prefix "x/" allows x/anything; a whole
# name allows that file alone)
check() {
    local folder=$1
    shift
    local line file inc ok allowed
    while IFS= read -r line; do
        file=${line%%:*}
        inc=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
        ok=0
        for allowed in "$@"; do
            case "$allowed" in
            */) [[ $inc == "$allowed"* ]] && ok=1 ;;
            *) [[ $inc == "$allowed" ]] && ok=1 ;;
            esac
        done
        # a header of the folder's own, named without a folder (beside the file, or at the folder's top)
        [[ $inc != */* && ( -e "$(dirname "$file")/$inc" || -e "$folder/$inc" ) ]] && ok=1
        [ $ok -eq 0 ] && refuse "$file: includes \"$inc\", which $folder/ may not use"
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" 2>/dev/null)
}

check sel sel/
# the file seam and the one way to write a file, nothing else of sel/
check console console/ sel/files.h sel/output.h
# the SDK is what a plug-in sees: nothing of the runtime behind it
check host/sdk vomark/
check host/runtime vomark/ runtime/ sel/files.h sel/output.h
check plugin plugin/ sel/ vomark/
check python python/ sel/
check pictures pictures/ sel/
check tools tools/ sel/ console/ pictures/
# the app reaches the module only as a host would: through the host, never a plug-in header; the
# scene library and the page know nothing of the verbs
check app/scene scene/ sel/ console/ pictures/ runtime/ vomark/
check app/verbs verbs/ scene/ sel/ console/ pictures/ runtime/ vomark/
check app/view view/ scene/ sel/ console/ pictures/ runtime/ vomark/
check app/main.cpp verbs/ scene/ view/ sel/ console/
# the page is reached from the verb table alone
while IFS= read -r line; do
    file=${line%%:*}
    [[ $file == app/main.cpp || $file == app/view/* ]] ||
        refuse "$file: includes \"$(sed -E 's/.*"([^"]+)".*/\1/' <<<"$line")\": only app/main.cpp uses the page"
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(app/)?view/' app 2>/dev/null)

# the add-on runs inside Blender: the module, Blender's modules, numpy (which Blender carries and the
# module needs), the add-on's own and the standard library
while IFS= read -r line; do
    refuse "$line"
done < <(/usr/bin/python3 - integrations/blender <<'PYTHON'
import ast, pathlib, sys
allowed = {"tessarin", "tessarin_cache", "bpy", "bpy_extras", "addon_utils", "mathutils", "numpy"}
allowed |= set(sys.stdlib_module_names)
for path in sorted(pathlib.Path(sys.argv[1]).rglob("*.py")):
    for node in ast.walk(ast.parse(path.read_text(), str(path))):
        names = [a.name for a in node.names] if isinstance(node, ast.Import) else \
            [node.module] if isinstance(node, ast.ImportFrom) and node.level == 0 and node.module else []
        for name in names:
            if name.split(".")[0] not in allowed:
                print(f"{path}:{node.lineno}: imports {name}, which the add-on may not use")
PYTHON
)

if [ $failed -eq 0 ]; then
    echo "include rules: 1 passed, 0 failed"
else
    echo "include rules: 0 passed, 1 failed"
    exit 1
fi
