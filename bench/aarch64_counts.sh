#!/bin/bash
# Usage: bench/aarch64_counts.sh [BUILD_DIR]
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
[ $# -le 1 ] || { echo "usage: $0 [BUILD_DIR]" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-aarch64-bench}
cxx=aarch64-linux-gnu-g++
cc=aarch64-linux-gnu-gcc
# A Cortex-A72 (Raspberry Pi 4): ARMv8.0 with NEON, so the C library picks its
# plain ARMv8 memcpy and memset, as on most boards that drive 565 panels.
qemu=(qemu-aarch64 -cpu cortex-a72)
pixels=65536

# The library alone, without the viewer's SDL.
if grep -q 'option(VELMORA_VIEWER' "$src/CMakeLists.txt"; then
  no_viewer=(-DVELMORA_VIEWER=OFF)
else
  # Until the library configures without SDL: SDL's cache entries, never used
  # by the targets built here.
  no_viewer=(-DSDL_INCLUDE_DIR=/usr/include/SDL -DSDL_LIBRARY=/nonexistent/libSDL.so)
fi
cmake -S "$src" -B "$build" --toolchain "$src/cmake/toolchains/aarch64-linux-gnu.cmake" \
  -DVELMORA_TESTS=OFF -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  "${no_viewer[@]}" >/dev/null
cmake --build "$build" -j 2 --target velmora_gfx velmora_gfx_portable velmora_plain tga_writer \
  >/dev/null

# stb_image as Debian ships it: the header from libstb-dev, built as C, -O2.
"$cc" -O2 -w -x c -DSTB_IMAGE_IMPLEMENTATION -c /usr/include/stb/stb_image.h -o "$build/stb_image.o"
link() { # program library
  "$cxx" -std=c++17 -O2 -Wall -Wextra -static -I"$src/src" -I"$src/bench" -I"$src/tools" \
    -isystem /usr/include/stb -o "$build/$1" "$src/bench/one_operation.cpp" \
    "$src/bench/pictures.cpp" "$build/stb_image.o" "$build/libvelmora_plain.a" "$build/$2" \
    "$build/libtga_writer.a"
}
link one_operation libvelmora_gfx.a
link one_operation_portable libvelmora_gfx_portable.a

count() { # program args...
  "${qemu[@]}" -singlestep -d nochain,exec "$@" 2>&1 >/dev/null | grep -c '^Trace'
}
per_pixel() { # program operation contender
  local input="$build/input_$2"
  "${qemu[@]}" "$build/$1" check "$2" "$3" "$input" ||
    { echo "$1 $3: $2 differs from the plain loop" >&2; exit 1; }
  local idle work
  idle=$(count "$build/$1" idle "$2" "$3" "$input")
  work=$(count "$build/$1" run "$2" "$3" "$input")
  awk "BEGIN { printf \"%.2f\", ($work - $idle) / $pixels }"
}
ratio() { awk "BEGIN { printf \"%.1f\", $1 / $2 }"; }

echo "| operation | NEON | portable -O2 | plain loop | stb_image + pack | portable / NEON |"
echo "|---|---:|---:|---:|---:|---:|"
for op in fill blend raw rle; do
  "${qemu[@]}" "$build/one_operation" make "$op" "$build/input_$op"
  neon=$(per_pixel one_operation "$op" velmora)
  portable=$(per_pixel one_operation_portable "$op" velmora)
  plain=$(per_pixel one_operation "$op" plain)
  stb=-
  case $op in raw|rle) stb=$(per_pixel one_operation "$op" stb) ;; esac
  echo "| $op | $neon | $portable | $plain | $stb | $(ratio "$portable" "$neon")× |"
done
