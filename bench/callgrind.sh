#!/bin/sh
# Usage: bench/callgrind.sh BUILD_DIR
# Instructions executed by one decode of each 256 x 256 benchmark picture (stored
# bottom row first), counted by valgrind's callgrind: exact and repeatable.
# Valgrind's CPU has AVX2 (not AVX-512), so velmora runs its AVX2 kernels here;
# velmora_portable is the same library built with VELMORA_PORTABLE.
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
bin=$1/bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
count() { # program args...
  valgrind --tool=callgrind --toggle-collect=decode_once --callgrind-out-file="$out/cg" "$@" \
    >/dev/null 2>&1
  sed -n 's/^summary: *//p' "$out/cg"
}
echo "| picture | velmora | velmora portable | plain | plain / velmora |"
echo "|---|---:|---:|---:|---:|"
for enc in raw rle; do
  for kind in photo flat; do
    fast=$(count "$bin/decode_once" $enc $kind velmora)
    portable=$(count "$bin/decode_once_portable" $enc $kind velmora)
    slow=$(count "$bin/decode_once" $enc $kind plain)
    printf '| %s %s | %s | %s | %s | %s× |\n' "$enc" "$kind" "$fast" "$portable" "$slow" \
      "$(awk "BEGIN { printf \"%.1f\", $slow / $fast }")"
  done
done
