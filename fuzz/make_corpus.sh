#!/usr/bin/env bash
# Seeds for the tessarin fuzzers, made with the tool itself: good files, cut files, a patched word 2,
# fixed-count files and CSV rows, into fuzz/corpus/tessarin_<verb>/ (what `make fuzz
# FUZZ_TARGET=tessarin_<verb>` starts from). usage: fuzz/make_corpus.sh TESSARIN [CORPUS_DIR]
set -euo pipefail
T=$1 corpus=${2:-$(dirname "$0")/corpus}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/cache" "$tmp/csv"
printf 'sample,vertex,weight,tick\n0,0,1,0\n0,1,0.25,0\n0,2,0,0\n1,0,0.5,80\n1,1,nan,80\n1,2,-0,80\n2,0,0.125,160\n2,1,1,160\n2,2,3e-41,160\n' >"$tmp/csv/three.csv"
printf '0,0,0.5,0\n1,,,\n2,0,0.25,160\n2,1,inf,160\n' >"$tmp/csv/empty_sample.csv"
printf '0,0,0.5,-160\n1,0,0.25,-320\n1,1,1,-320\n' >"$tmp/csv/uneven.csv"
for c in "$tmp"/csv/*.csv; do
    "$T" import "$c" --out "$tmp/cache/$(basename "$c" .csv).sel" --samples-per-frame 2 >/dev/null
done
good=$tmp/cache/three.sel
size=$(stat -c %s "$good")
for n in 7 12 20 37 50 $((size - 6)) $((size - 2)); do head -c "$n" "$good" >"$tmp/cache/three_cut$n.sel"; done
cp "$good" "$tmp/cache/three_word2.sel" && printf '\x09' | dd of="$tmp/cache/three_word2.sel" bs=1 seek=8 conv=notrunc 2>/dev/null
# fixed count: 3 records per sample, 2 samples, and one cut short
{ printf '\x03\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00'; head -c $((6 * 8)) /dev/zero; } >"$tmp/cache/fixed.sel"
head -c 40 "$tmp/cache/fixed.sel" >"$tmp/cache/fixed_cut.sel"
for verb in info verify dump plot repair export; do
    mkdir -p "$corpus/tessarin_$verb" && cp "$tmp"/cache/*.sel "$corpus/tessarin_$verb/"
done
mkdir -p "$corpus/tessarin_import" && cp "$tmp"/csv/*.csv "$corpus/tessarin_import/"
# diff reads two files from one input: the first byte says where the second starts
mkdir -p "$corpus/tessarin_diff"
for f in "$tmp"/cache/*.sel; do
    a=$(stat -c %s "$f") b=$(stat -c %s "$good")
    split=$(((a * 255 + a + b) / (a + b)))
    { printf "\\x$(printf %02x $((split > 255 ? 255 : split)))"; cat "$f" "$good"; } >"$corpus/tessarin_diff/$(basename "$f")"
done
echo "seeds in $corpus/tessarin_*: $(ls "$tmp/cache" | wc -l) cache files, $(ls "$tmp/csv" | wc -l) CSV files"
