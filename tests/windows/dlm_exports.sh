#!/usr/bin/env bash
# A module's exports by name, as the host looks them up with GetProcAddress.
# usage: dlm_exports.sh MODULE.dlm NAME...
set -uo pipefail
module=$1; shift
exports=$(x86_64-w64-mingw32-objdump -p "$module" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p') || exit 1
missing=0
for name in "$@"; do
    grep -Eq "\] $name\$" <<<"$exports" || { echo "$module: no export named $name"; missing=1; }
done
exit $missing
