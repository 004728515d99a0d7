#!/usr/bin/env bash
# Runs the tessarin command as people do: verbs, exit codes, one-line errors, files it writes.
# usage: tessarin_cli.sh TESSARIN [noplot]   (noplot: a build without plot, whose checks are left out)
set -u
T=$1
PLOT=${2:-plot}
# a sanitized build lists the leaks it was told to ignore (fontconfig's caches, once plot draws) on
# stderr as it exits, which would be more than a failed verb's one line
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
passed=0 failed=0
check() { # name, then a command that must succeed
    local name=$1; shift
    if "$@" >"$work/out" 2>"$work/err"; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAIL: $name"; sed 's/^/  /' "$work/out" "$work/err" | head -20; fi
}
exits() { # expected exit code, then the command
    local want=$1; shift
    "$@"; local got=$?
    [ "$got" = "$want" ] || { echo "exit $got, wanted $want"; return 1; }
}
one_line() { # expected exit code, text on stderr, then the command: one line that holds the text
    local want=$1 text=$2; shift 2
    local err got
    err=$("$@" 2>&1 >/dev/null); got=$?
    [ "$got" = "$want" ] || { echo "exit $got, wanted $want: $err"; return 1; }
    [ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || { echo "more than one line: $err"; return 1; }
    grep -qF -- "$text" <<<"$err" || { echo "stderr: $err"; return 1; }
}

# three samples of two vertices at 2 samples per frame, ticks 0, 80, 160
printf 'sample,vertex,weight,tick\n0,0,1,0\n0,1,0.25,0\n1,0,0.5,80\n1,1,0,80\n2,0,0.125,160\n2,1,1,160\n' >a.csv
check "import writes the recorder's form" bash -c "'$T' import a.csv --out a.sel --samples-per-frame 2 | grep -qx 'wrote a.sel: 3 samples, 6 records' && test \$(stat -c %s a.sel) = $((12 + 6 * 8 + 3 * 4)) && xxd -p -l 12 a.sel | grep -qx 9cffffff0200000003000000"
check "export then import gives the same bytes" bash -c "'$T' export a.sel --out b.csv >/dev/null && '$T' import b.csv --out b.sel --samples-per-frame 2 >/dev/null && cmp a.sel b.sel && cmp a.csv b.csv"
check "import names the line of a malformed row" one_line 1 'c.csv:3: vertex "5" where vertex 1 is next' bash -c "printf '0,0,1,0\n\n0,5,1,0\n' >c.csv; '$T' import c.csv --out c.sel --samples-per-frame 1"
# rows verify would call damaged are refused: each names its line
check "import refuses a tick shared by two samples" one_line 1 'd.csv:3: sample 1 has tick 0, as sample 0 has' bash -c "printf '0,0,1,0\n0,1,1,0\n1,0,1,0\n1,1,1,0\n' >d.csv; '$T' import d.csv --out d.sel --samples-per-frame 1"
check "import refuses an infinite weight" one_line 1 'd.csv:2: weight "inf" is not a finite number' bash -c "printf '0,0,1,0\n0,1,inf,0\n' >d.csv; '$T' import d.csv --out d.sel --samples-per-frame 1"
check "import refuses a weight that is not a number" one_line 1 'd.csv:1: weight "nan" is not a finite number' bash -c "printf '0,0,nan,0\n' >d.csv; '$T' import d.csv --out d.sel --samples-per-frame 1"
check "import refuses two ticks in one sample" one_line 1 "d.csv:2: tick 5, but the sample's first row has tick 0" bash -c "printf '0,0,1,0\n0,1,1,5\n' >d.csv; '$T' import d.csv --out d.sel --samples-per-frame 1"
check "import refuses ticks that turn back" one_line 1 'd.csv:3: sample 2: tick 40 goes down from 80' bash -c "printf '0,0,1,0\n1,0,1,80\n2,0,1,40\n' >d.csv; '$T' import d.csv --out d.sel --samples-per-frame 1"
check "import takes a spreadsheet's byte-order mark and CRLF line ends" bash -c "printf '\xef\xbb\xbfsample,vertex,weight,tick\r\n0,0,1,0\r\n0,1,0.25,0\r\n' >bom.csv && '$T' import bom.csv --out bom.sel --samples-per-frame 1 | grep -qx 'wrote bom.sel: 1 sample, 2 records'"
check "a refused import writes nothing" bash -c "! test -e c.sel && ! ls c.sel.tmp-* 2>/dev/null"
check "every verb has --help" bash -c "for v in info verify dump plot diff repair import export join; do '$T' \$v --help | grep -q Usage || exit 1; done"
check "a usage error exits 2 with one line" one_line 2 'tessarin: ' "$T" verify
check "an unknown verb is named as such" one_line 2 'tessarin: there is no verb "frobnicate"' "$T" frobnicate a.sel
check "no verb at all lists the verbs" one_line 2 'tessarin: a verb is required: info, verify,' "$T"
check "--version prints the version and the build" bash -c "'$T' --version | grep -Eqx 'tessarin [0-9]+\.[0-9]+\.[0-9]+ \(.+\)' && test \$('$T' --version | wc -l) = 1"
check "a point count below 1 is refused in words" one_line 2 'tessarin: --points: 0 is not a point count; give 1 or more' "$T" repair a.sel --out r.sel --points 0
check "a value out of range is said in our words" one_line 2 'tessarin: --samples-per-frame: 0 is outside 1 to 2147483647' "$T" import a.csv --out z.sel --samples-per-frame 0
check "a value that does not convert names what the option takes" one_line 2 'tessarin: --samples-per-frame: "abc" is not a number from 1 to 2147483647' "$T" import a.csv --out z.sel --samples-per-frame abc
check "a start frame that is not a number is refused" one_line 2 'tessarin: --start: nan is not a frame number' "$T" plot a.sel --out p.png --start nan
check "a negative tolerance is refused in words" one_line 2 'tessarin: --tolerance: -1 is not a weight difference; give 0 or more' "$T" diff a.sel a.sel --tolerance -1
check "a missing file is one line" one_line 1 'none.sel: not found' "$T" info none.sel
check "a folder is not a cache file" one_line 1 '.: is a folder' "$T" verify .
[ "$PLOT" = plot ] && mkfifo fifo.sel && # the Linux build: FIFOs are POSIX's
check "a FIFO is refused before it is opened, by every verb that reads" bash -c "for v in info verify dump; do timeout -k 5 10 '$T' \$v fifo.sel 2>&1 | grep -q 'fifo.sel: not a plain file' || exit 1; done; timeout -k 5 10 '$T' import fifo.sel --out f.sel --samples-per-frame 1 2>&1 | grep -q 'not a plain file'"
check "import of a missing CSV says why" one_line 1 'nope.csv: not found' "$T" import nope.csv --out n.sel --samples-per-frame 1
check "import of a folder says it is a folder" one_line 1 '.: is a folder' "$T" import . --out n.sel --samples-per-frame 1
check "info shows the counts and weights" bash -c "'$T' info a.sel | grep -q '^samples/frame   2' && '$T' info a.sel | grep -q 'min 0, max 1, mean 0.479166667' && '$T' info a.sel | grep -q '^ticks           0 to 160'"
check "info as json" bash -c "'$T' info a.sel --format json | grep -q '\"shareAtOne\": 0.3333'"
check "verify passes a good file" bash -c "'$T' verify a.sel | grep -qx 'a.sel: valid; plays 3 samples'"
head -c 50 a.sel >cut.sel
check "verify exits 2 on a recording cut short" exits 2 "$T" verify cut.sel
check "verify names the byte" bash -c "'$T' verify cut.sel | grep -q '^cut.sel: byte [0-9]*: .*(incomplete)$'"
cp a.sel ticks.sel && printf '\x07' | dd of=ticks.sel bs=1 seek=24 conv=notrunc 2>/dev/null
check "verify exits 1 on damage that still plays" bash -c "'$T' verify ticks.sel --format json | grep -q '\"playable\": true'; '$T' verify ticks.sel >/dev/null; test \$? = 1"
check "repair mends the cut recording" bash -c "'$T' repair cut.sel --out fixed.sel | grep -q 'wrote fixed.sel: 2 samples' && '$T' verify fixed.sel >/dev/null && '$T' dump fixed.sel | wc -l | grep -qx 5"
# every verb that writes refuses its own input as OUT, however it is named, and leaves it as it was
ln -s a.sel link.sel && ln a.sel hard.sel && ln -s a.csv link.csv && ln a.csv hard.csv && cp a.sel a.keep && cp a.csv a.csv.keep
for out in ./a.sel link.sel hard.sel; do
    [ "$PLOT" = plot ] && check "plot refuses to write over its input as $out" one_line 1 "$out: is the input file" "$T" plot a.sel --out $out
    check "export refuses to write over its input as $out" one_line 1 "$out: is the input file" "$T" export a.sel --out $out
    check "repair refuses to write over its input as $out" one_line 1 "$out: is the input file" "$T" repair a.sel --out $out
done
for out in ./a.csv link.csv hard.csv; do
    check "import refuses to write over its input as $out" one_line 1 "$out: is the input file" "$T" import a.csv --out $out --samples-per-frame 2
done
check "a refused write leaves the input as it was" bash -c "cmp a.sel a.keep && cmp a.csv a.csv.keep && test -L link.sel && ! ls *.tmp-* 2>/dev/null"
check "repair refuses to guess, and says why" one_line 1 'ticks.sel: byte 24: its layout is whole' "$T" repair ticks.sel --out t2.sel
check "a refused repair leaves no file" bash -c "! test -e t2.sel && ! ls t2.sel.tmp-* 2>/dev/null"
# a file that is no cache at all (a scene) is told as such, at the byte that tells it, by every verb
printf '{"nodes": [{"name": "P", "mesh": {"grid": {"rows": 2, "cols": 2}}}]}\n' >scene.json
for v in info dump export plot diff repair; do
    [ $v = plot ] && [ "$PLOT" != plot ] && continue
    args=(); case $v in export | plot | repair) args=(--out x.out) ;; diff) args=(a.sel) ;; esac
    check "$v tells a scene file from a cache" one_line 1 'scene.json: byte 4: not a .sel cache (' "$T" $v scene.json "${args[@]}"
done
check "verify calls a scene file no cache, and exits 1" bash -c "'$T' verify scene.json | grep -q '^scene.json: byte 4: not a .sel cache (.*)$'; '$T' verify scene.json | grep -qx 'scene.json: not a cache; cannot be played (the modifier treats it as missing)'; '$T' verify scene.json >/dev/null; test \$? = 1"

# every writer writes its output through sel::OutputFile: a link stays and the file it leads to gets
# the bytes, permissions stay, a FIFO or a device is written as itself (never replaced by a plain
# file), and a failed write names the output and the system's reason and leaves the old file as it was
printf '0,0,1,0\n0,1,0.5,0\n1,0,0.25,80\n1,1,0,80\n' >p0.csv && printf '0,0,0.5,160\n0,1,1,160\n1,0,0,240\n1,1,0.75,240\n' >p1.csv
for k in 0 1; do # two parts of one recording, frames 0 and 1 at 2 samples per frame
    "$T" import p$k.csv --out p$k.sel --samples-per-frame 2 >/dev/null
    # its part record, with the checksums (XXH3) of the part's bytes and of the record's lines
    /usr/bin/python3 - p$k.sel $k <<'EOF'
import ctypes, sys
xxh = ctypes.CDLL("libxxhash.so.0")
xxh.XXH3_64bits.restype, xxh.XXH3_64bits.argtypes = ctypes.c_uint64, [ctypes.c_char_p, ctypes.c_size_t]
part, k = sys.argv[1], int(sys.argv[2])
data = open(part, "rb").read()
lines = (f"tessarin part 2\nrecording ab\nframes {k} {k}\nwhole 0 1\nsamples-per-frame 2\nticks-per-frame 160\n"
         f"accumulate 0\nquality 1\nfirst-count 2\nbytes {len(data)}\n")
sums = [xxh.XXH3_64bits(b, len(b)) for b in (data, lines.encode())]
open(part + ".part", "w").write(lines + "xxh3 %016x %016x\nend\n" % tuple(sums))
EOF
done
write_join() { "$T" join p0.sel p1.sel --out "$1"; }
write_export() { "$T" export a.sel --out "$1"; }
write_repair() { "$T" repair cut.sel --out "$1"; }
write_import() { "$T" import a.csv --out "$1" --samples-per-frame 2; }
write_plot() { "$T" plot a.sel --out "$1" --width 300 --height 200; }
export T && export -f write_join write_export write_repair write_import write_plot
# devices of our own (root could replace the system's were the code wrong); without the right to
# make them, the system's, which nobody without it can replace either
if [ "$PLOT" != plot ]; then null='' full=''
elif mknod null c 1 3 2>/dev/null && mknod full c 1 7 2>/dev/null; then null=null full=full
elif [ "$(id -u)" != 0 ]; then null=/dev/null full=/dev/full
else null='' full=''; echo "note: no devices to write to"; fi
# (the Linux build: Wine shows links, FIFOs and devices as the files they lead to)
for w in join export repair import plot; do
    [ "$PLOT" != plot ] && continue
    write_$w want.$w >/dev/null || { echo "FAIL: $w writes nothing"; failed=$((failed + 1)); continue; }
    check "$w writes through a link, which stays" bash -c "printf old >real.$w && ln -s real.$w link.$w && write_$w link.$w >/dev/null && test -L link.$w && cmp real.$w want.$w"
    check "$w keeps the permissions of the file it replaces" bash -c "printf old >perm.$w && chmod 600 perm.$w && write_$w perm.$w >/dev/null && test \$(stat -c %a perm.$w) = 600 && cmp perm.$w want.$w"
    check "$w writes into a FIFO, which stays one" bash -c "mkfifo fifo.$w && { timeout 20 cat fifo.$w >got.$w & } && timeout 20 bash -c 'write_$w fifo.$w' >/dev/null && wait && test -p fifo.$w && cmp got.$w want.$w"
    if [ -n "$null" ]; then
        check "$w writes into a device, which stays one" bash -c "write_$w $null >/dev/null && test -c $null"
        check "$w on a full device names it and the reason" one_line 1 "$full: cannot be written: No space left on device" write_$w $full
    fi
    # each of its writing calls failed in turn: a row of tests/faults/fault_table.py
done
check "a folder as the output is named as one" one_line 1 '.: is a folder' "$T" export a.sel --out .
check "dump one sample as json" bash -c "'$T' dump a.sel --sample 1 --format json | grep -qx '{\"sample\":1,\"vertex\":0,\"weight\":0.5,\"tick\":80},'"
check "dump refuses a sample the file lacks" one_line 1 'there is no sample 3' "$T" dump a.sel --sample 3
check "diff of equal files exits 0" "$T" diff a.sel b.sel
check "diff exits 1 and says where" bash -c "'$T' diff a.sel fixed.sel | grep -q 'samples: 3 against 2'; '$T' diff a.sel fixed.sel >/dev/null; test \$? = 1"
check "diff exits 1 on a file that would not play, as verify does" exits 1 "$T" diff a.sel cut.sel
check "diff exits 1 on a missing file, as verify does" bash -c "'$T' diff a.sel none.sel 2>/dev/null; test \$? = 1 && '$T' verify none.sel 2>/dev/null; test \$? = 1"

# with --format json the output is JSON on every error: {"file", "error", "byte"}
json_error() { # expected exit code, expected .error text, then the command
    local want=$1 text=$2; shift 2
    local out got
    out=$("$@" 2>/dev/null); got=$?
    [ "$got" = "$want" ] || { echo "exit $got, wanted $want"; return 1; }
    jq -e --arg t "$text" '.error | contains($t)' <<<"$out" >/dev/null || { echo "not the JSON error: $out"; return 1; }
}
check "verify --format json on a missing file" json_error 1 'not found' "$T" verify none.sel --format json
check "info --format json on a file that would not play" json_error 1 'do not fit' "$T" info cut.sel --format json
check "dump --format json on a file that would not play" json_error 1 'do not fit' "$T" dump cut.sel --format json
check "dump --format json of a sample the file lacks" json_error 1 'there is no sample 7' "$T" dump a.sel --format json --sample 7
check "a usage error with --format json" json_error 2 'FILE is missing' "$T" verify --format json
check "an unknown verb with --format=json" json_error 2 'there is no verb' "$T" bogus --format=json
# names outside ASCII reach the file of that name (on Windows through the wide command line), and a
# second write replaces the first (rename alone does not replace there)
mkdir -p 'Szene-Ü'
check "a name outside ASCII is written, read and named" bash -c "'$T' import a.csv --out 'Szene-Ü/caché.sel' --samples-per-frame 2 | grep -qx 'wrote Szene-Ü/caché.sel: 3 samples, 6 records' && cmp a.sel 'Szene-Ü/caché.sel' && '$T' verify 'Szene-Ü/caché.sel' | grep -qx 'Szene-Ü/caché.sel: valid; plays 3 samples' && '$T' export 'Szene-Ü/caché.sel' --out 'Szene-Ü/caché.csv' >/dev/null && cmp a.csv 'Szene-Ü/caché.csv'"
check "writing over an existing file replaces it and leaves no temporary file" bash -c "'$T' import b.csv --out 'Szene-Ü/caché.sel' --samples-per-frame 1 >/dev/null && '$T' info 'Szene-Ü/caché.sel' | grep -qx 'samples/frame   1' && test \$(ls 'Szene-Ü' | wc -l) = 2"
check "the json error names the byte" bash -c "'$T' info cut.sel --format json 2>/dev/null | jq -e '.byte == 38 and .file == \"cut.sel\"' >/dev/null"
[ "$PLOT" = plot ] || check "plot says it is not in this build" one_line 2 'tessarin plot: not in this build' "$T" plot a.sel --out heat.png
[ "$PLOT" = plot ] && check "plot writes a PNG" bash -c "'$T' plot a.sel --out heat.png --width 400 --height 300 | grep -q 'wrote heat.png (400 x 300)' && xxd -p -l 8 heat.png | grep -qx 89504e470d0a1a0a"
[ "$PLOT" = plot ] && check "plot refuses a tiny picture" exits 2 "$T" plot a.sel --out x.png --width 10

# a sparse file of 2.4 GB: Ctrl-C stops a long verb, which says so, exits 130 and keeps no output
printf '\x40\x42\x0f\x00\x01\x00\x00\x00\x2c\x01\x00\x00' >big.sel && truncate -s $((12 + 8 * 1000000 * 300)) big.sel
interrupt() { # the command runs for a moment, then gets SIGINT
    "$@" >/dev/null 2>"$work/int.err" &
    local pid=$!
    sleep 2; kill -INT $pid; wait $pid
}
check "Ctrl-C stops export, which keeps nothing" bash -c "$(declare -f interrupt); work='$work'; interrupt '$T' export big.sel --out big.csv; test \$? = 130 && grep -q 'big.csv was not written' '$work/int.err' && ! test -e big.csv && ! ls big.csv.tmp-* 2>/dev/null"
# verify only reads, so its file is ten times larger (24 GB, sparse): an optimised build reads 2.4 GB of
# holes in about the two seconds the interrupt waits
printf '\x40\x42\x0f\x00\x01\x00\x00\x00\xb8\x0b\x00\x00' >bigger.sel && truncate -s $((12 + 8 * 1000000 * 3000)) bigger.sel
check "Ctrl-C stops verify" bash -c "$(declare -f interrupt); work='$work'; interrupt '$T' verify bigger.sel; test \$? = 130"

echo "tessarin_cli: $passed passed, $failed failed"
[ "$failed" = 0 ]
