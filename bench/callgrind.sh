#!/bin/sh
# Usage: bench/callgrind.sh BUILD_DIR
# Instructions executed by one decode of each 256 x 256 benchmark picture (stored
# bottom row first) and by one transparent blit of the 256 x 256 sprites,
# counted by valgrind's callgrind: exact and repeatable. Valgrind's CPU has AVX2
# (not AVX-512), so velmora runs its AVX2 kernels here; "velmora portable" is the
# same library built with VELMORA_PORTABLE.
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
bin=$1/bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
count() { # function program args...
  fn=$1
  shift
  valgrind --tool=callgrind --toggle-collect="$fn" --callgrind-out-file="$out/cg" "$@" \
    >/dev/null 2>&1
  sed -n 's/^summary: *//p' "$out/cg"
}
row() { # function program label args...
  fn=$1 program=$2 label=$3
  shift 3
  fast=$(count "$fn" "$bin/$program" "$@" velmora)
  portable=$(count "$fn" "$bin/${program}_portable" "$@" velmora)
  slow=$(count "$fn" "$bin/$program" "$@" plain)
  printf '| %s | %s | %s | %s | %s× |\n' "$label" "$fast" "$portable" "$slow" \
    "$(awk "BEGIN { printf \"%.1f\", $slow / $fast }")"
}
table_head() {
  echo "| $1 | velmora | velmora portable | plain | plain / velmora |"
  echo "|---|---:|---:|---:|---:|"
}
table_head "24-bit picture"
for enc in raw rle; do
  for kind in photo flat; do
    row decode_once decode_once "$enc $kind" $enc $kind
  done
done
echo
table_head "variant (tga_to_sprite16)"
for case in "raw 32bit" "rle 32bit" "raw mapped" "rle mapped" "raw 16bit"; do
  row decode_once decode_once "$case" $case
done
echo
table_head "whole palette, run-length"
for map in 16/all 64/art 64/all 200/art 200/all 256/art 256/all; do
  row decode_once decode_once "rle map$map" rle mapped/$map
done
echo
table_head "transparent blit"
for case in "key disc" "a8 disc" "a8 glow"; do
  row blit_once blit_once "$case" $case
done
