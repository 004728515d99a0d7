#!/usr/bin/env bash
# The layers' include rules (docs/architecture.md), checked on the sources as they are: every
# project include ("...") of a folder must name a folder that folder may use. Quoted includes are
# written from the repository's root, or relative to an SDK or app folder for the host and the app.
# usage: tests/include_rules.sh [REPO]
set -u
repo=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$repo" || exit 2
failed=0

# folder, then the include prefixes its sources may use (a prefix "x/" allows x/anything; a whole
# name allows that file alone)
check() {
    local folder=$1
    shift
    local line file inc ok allowed
    while IFS= read -r line; do
        file=${line%%:*}
        inc=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$line")
        ok=0
        for allowed in "$@"; do
            case "$allowed" in
            */) [[ $inc == "$allowed"* ]] && ok=1 ;;
            *) [[ $inc == "$allowed" ]] && ok=1 ;;
            esac
        done
        # a header of the folder's own, named without a folder (beside the file, or at the folder's top)
        [[ $inc != */* && ( -e "$(dirname "$file")/$inc" || -e "$folder/$inc" ) ]] && ok=1
        if [ $ok -eq 0 ]; then
            echo "$file: includes \"$inc\", which $folder/ may not use"
            failed=1
        fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$folder" 2>/dev/null)
}

check sel sel/
# the file seam and the one way to write a file, nothing else of sel/
check console console/ sel/files.h sel/output.h
check host vomark/ runtime/ sel/files.h sel/output.h
check plugin plugin/ sel/ vomark/
check python python/ sel/
check pictures pictures/ sel/
check tools tools/ sel/ console/ pictures/
# the app reaches the module only as a host would: through the host, never a plug-in header
check app app/ view/ sel/ console/ pictures/ runtime/ vomark/

if [ $failed -eq 0 ]; then
    echo "include rules: 1 passed, 0 failed"
else
    echo "include rules: 0 passed, 1 failed"
    exit 1
fi
