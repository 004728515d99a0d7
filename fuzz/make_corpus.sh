#!/usr/bin/env bash
# Seeds for the tessarin fuzzers, made with the tool itself: good files, cut files, files with a
# patched word 2, fixed-count files, and CSV rows. usage: fuzz/make_corpus.sh TESSARIN OUT_DIR
set -euo pipefail
T=$1 out=$2
mkdir -p "$out/cache" "$out/csv" "$out/diff"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf 'sample,vertex,weight,tick\n0,0,1,0\n0,1,0.25,0\n0,2,0,0\n1,0,0.5,80\n1,1,nan,80\n1,2,-0,80\n2,0,0.125,160\n2,1,1,160\n2,2,3e-41,160\n' >"$out/csv/three.csv"
printf '0,0,0.5,0\n1,,,\n2,0,0.25,160\n2,1,inf,160\n' >"$out/csv/empty_sample.csv"
printf '0,0,0.5,-160\n1,0,0.25,-320\n1,1,1,-320\n' >"$out/csv/uneven.csv"
for c in "$out"/csv/*.csv; do
    name=$(basename "$c" .csv)
    "$T" import "$c" --out "$out/cache/$name.sel" --samples-per-frame 2 >/dev/null
done
good=$out/cache/three.sel
size=$(stat -c %s "$good")
for n in 7 12 20 37 50 $((size - 6)) $((size - 2)); do head -c "$n" "$good" >"$out/cache/three_cut$n.sel"; done
cp "$good" "$out/cache/three_word2.sel" && printf '\x09' | dd of="$out/cache/three_word2.sel" bs=1 seek=8 conv=notrunc 2>/dev/null
# fixed count: 3 records per sample, 2 samples, and one cut short
{ printf '\x03\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00'; head -c $((6 * 8)) /dev/zero; } >"$out/cache/fixed.sel"
head -c 40 "$out/cache/fixed.sel" >"$out/cache/fixed_cut.sel"
cp "$out"/cache/* "$out/diff/" 2>/dev/null || true
for f in "$out"/cache/*.sel; do
    { printf '\x80'; cat "$f" "$good"; } >"$out/diff/pair_$(basename "$f")"
done
echo "seeds: $(ls "$out/cache" | wc -l) cache files, $(ls "$out/csv" | wc -l) CSV files, $(ls "$out/diff" | wc -l) diff pairs"
