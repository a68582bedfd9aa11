#!/bin/bash
# Usage: bench/aarch64_counts.sh [BUILD_DIR [OPERATION...]]
# Instructions per pixel of one operation on a 256 x 256 picture on aarch64,
# counted exactly under qemu-user: cross-builds the library (NEON and portable,
# -O2 as users build it) with cmake/toolchains/aarch64-linux-gnu.cmake, links
# bench/one_operation.cpp against each, and runs every operation under
#   qemu-aarch64 -singlestep -d nochain,exec
# which logs one "Trace" line before each instruction it executes. The count of
# the same program reading the same input and stopping there (idle) is taken
# off, and what is left is divided by the 65,536 pixels. Each contender is first
# checked for the same bytes as the plain loop.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-aarch64-bench}
shift $(($# > 0 ? 1 : 0))
# Every operation of bench/one_operation.cpp unless some are named.
operations=${*:-fill blend key a8 a8_glow raw rle raw32 rle32 mapped mapped_rle raw16 mapped256 mapped256_rle mapped256_all}
cxx=aarch64-linux-gnu-g++
cc=aarch64-linux-gnu-gcc
# A Cortex-A72 (Raspberry Pi 4): ARMv8.0 with NEON, so the C library picks its
# plain ARMv8 memcpy and memset, as on most boards that drive 565 panels.
qemu=(qemu-aarch64 -cpu cortex-a72)
pixels=65536

# The library alone: no SDL, no tests.
cmake -S "$src" -B "$build" --toolchain "$src/cmake/toolchains/aarch64-linux-gnu.cmake" \
  -DVELMORA_VIEWER=OFF -DVELMORA_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build "$build" -j 2 --target velmora_gfx velmora_gfx_portable velmora_plain tga_writer \
  >/dev/null

# stb_image as Debian ships it: the header from libstb-dev, built as C, -O2.
"$cc" -O2 -w -x c -DSTB_IMAGE_IMPLEMENTATION -c /usr/include/stb/stb_image.h -o "$build/stb_image.o"
link() { # program library
  "$cxx" -std=c++17 -O2 -Wall -Wextra -static -I"$src/include" -I"$src/bench" -I"$src/tools" \
    -isystem /usr/include/stb -o "$build/$1" "$src/bench/one_operation.cpp" \
    "$src/bench/pictures.cpp" "$build/stb_image.o" "$build/libvelmora_plain.a" "$build/$2" \
    "$build/libtga_writer.a"
}
link one_operation libvelmora_gfx.a
link one_operation_portable libvelmora_gfx_portable.a

count() { # program args...
  "${qemu[@]}" -singlestep -d nochain,exec "$@" 2>&1 >/dev/null | grep -c '^Trace'
}
# Instructions per pixel, after checking the same bytes as the plain loop; a
# dagger marks stb_image's results where they differ (its own widening of 5-bit
# channels, or no alpha bit), with its share of exact pixels on standard error.
per_pixel() { # program operation contender
  local input="$build/input_$2" status=0 mark="" idle work
  "${qemu[@]}" "$build/$1" check "$2" "$3" "$input" || status=$?
  case $status in
    0) ;;
    3) mark="†" ;;
    *) echo "$1 $3: $2 differs from the plain loop" >&2; exit 1 ;;
  esac
  idle=$(count "$build/$1" idle "$2" "$3" "$input")
  work=$(count "$build/$1" run "$2" "$3" "$input")
  awk "BEGIN { printf \"%.2f\", ($work - $idle) / $pixels }"
  printf '%s' "$mark"
}
ratio() { awk "BEGIN { printf \"%.1f\", $1 / $2 }"; }

echo "| operation | NEON | portable -O2 | plain loop | stb_image + pack | portable / NEON |"
echo "|---|---:|---:|---:|---:|---:|"
for op in $operations; do
  "${qemu[@]}" "$build/one_operation" make "$op" "$build/input_$op"
  neon=$(per_pixel one_operation "$op" velmora)
  portable=$(per_pixel one_operation_portable "$op" velmora)
  plain=$(per_pixel one_operation "$op" plain)
  stb=-
  case $op in fill|blend|key|a8*) ;; *) stb=$(per_pixel one_operation "$op" stb) ;; esac
  echo "| $op | $neon | $portable | $plain | $stb | $(ratio "$portable" "$neon")× |"
done
