#!/bin/sh
# Usage: bench/chart.sh BENCH.json OUT.png
# The chart of BENCHMARKS.md, made from velmora_bench's JSON (gnuplot, python3).
set -eu
[ $# -eq 2 ] || { echo "usage: $0 BENCH.json OUT.png" >&2; exit 2; }
here=$(dirname "$0")
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
python3 "$here/report.py" "$1" --chart "$data" >/dev/null
rows() { echo $(($(wc -l < "$data/$1") - 1)); }
gnuplot -e "dir='$data'; out='$2'; decode_rows=$(rows decode.dat); variants_rows=$(rows variants.dat); \
draw_rows=$(rows draw.dat); transparent_rows=$(rows transparent.dat)" \
  "$here/chart.gp"
