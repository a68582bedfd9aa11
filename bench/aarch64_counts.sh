#!/bin/bash
# Usage: bench/aarch64_counts.sh [BUILD_DIR [OPERATION...]]
#        ARCH=armhf bench/aarch64_counts.sh [BUILD_DIR [OPERATION...]]
# Instructions per pixel of one operation on a 256 x 256 picture on aarch64,
# counted exactly under qemu-user: cross-builds the library (NEON and portable,
# -O2 as users build it) with cmake/toolchains/aarch64-linux-gnu.cmake, links
# bench/one_operation.cpp against each, and runs every operation under
#   qemu-aarch64 -singlestep -d nochain,exec
# which logs one "Trace" line before each instruction it executes. The count of
# the same program reading the same input and stopping there (idle) is taken
# off, and what is left is divided by the operation's pixels. Each contender is
# first checked for the same bytes as the plain loop. The fills are also held
# to a plain loop that GCC vectorises (-O3).
#
# ARCH=armhf does the same for 32-bit ARM (cmake/toolchains/arm-linux-gnueabihf.cmake):
# one program, whose library finds NEON at run time, counted on a Cortex-A9
# with NEON and on one without (its portable kernels).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
arch=${ARCH:-aarch64}
build=${1:-$src/build-$arch-bench}
shift $(($# > 0 ? 1 : 0))
# Every operation of bench/one_operation.cpp unless some are named.
operations=${*:-fill fill_area blend key a8 a8_glow raw rle raw32 rle32 mapped mapped_rle raw16 mapped256 mapped256_rle mapped256_all}
case $arch in
  aarch64)
    triplet=aarch64-linux-gnu
    # A Cortex-A72 (Raspberry Pi 4): ARMv8.0 with NEON, so the C library picks
    # its plain ARMv8 memcpy and memset, as on most boards that drive 565 panels.
    neon=(qemu-aarch64 -cpu cortex-a72)
    # The portable kernels: the library built without its NEON level.
    portable=("${neon[@]}")
    portable_program=one_operation_portable
    libraries=(velmora_gfx velmora_gfx_portable)
    ;;
  armhf)
    triplet=arm-linux-gnueabihf
    # A Cortex-A9 (ARMv7, the class of 32-bit handhelds and boards), with and
    # without NEON: the same program, whose library chooses its level at run time.
    neon=(qemu-arm -cpu cortex-a9)
    portable=(qemu-arm -cpu cortex-a9,neon=off)
    portable_program=one_operation
    libraries=(velmora_gfx)
    ;;
  *) echo "ARCH is aarch64 or armhf" >&2; exit 2 ;;
esac
cxx=$triplet-g++
cc=$triplet-gcc

# The library alone: no SDL, no tests.
cmake -S "$src" -B "$build" --toolchain "$src/cmake/toolchains/$triplet.cmake" \
  -DVELMORA_VIEWER=OFF -DVELMORA_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build "$build" -j 2 --target "${libraries[@]}" velmora_plain tga_writer \
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
[ "$arch" = armhf ] || link one_operation_portable libvelmora_gfx_portable.a

count() { # qemu program args...  (qemu: the name of an array)
  local -n qemu=$1
  shift
  "${qemu[@]}" -singlestep -d nochain,exec "$@" 2>&1 >/dev/null | grep -c '^Trace'
}
pixels_of() { # operation
  case $1 in fill_area) echo 16384 ;; *) echo 65536 ;; esac
}
# Instructions per pixel, after checking the same bytes as the plain loop; a
# dagger marks stb_image's results where they differ (its own widening of 5-bit
# channels, or no alpha bit), with its share of exact pixels on standard error.
per_pixel() { # qemu program operation contender  (qemu: the name of an array)
  local -n emulator=$1
  local input="$build/input_$3" status=0 mark="" idle work
  "${emulator[@]}" "$build/$2" check "$3" "$4" "$input" || status=$?
  case $status in
    0) ;;
    3) mark="†" ;;
    *) echo "$2 $4 (${emulator[*]}): $3 differs from the plain loop" >&2; exit 1 ;;
  esac
  idle=$(count "$1" "$build/$2" idle "$3" "$4" "$input")
  work=$(count "$1" "$build/$2" run "$3" "$4" "$input")
  awk "BEGIN { printf \"%.2f\", ($work - $idle) / $(pixels_of "$3") }"
  printf '%s' "$mark"
}
ratio() { awk "BEGIN { printf \"%.1f\", $1 / $2 }"; }

echo "| operation | NEON | portable -O2 | plain loop | stb_image + pack | portable / NEON |"
echo "|---|---:|---:|---:|---:|---:|"
fills=()
for op in $operations; do
  "${neon[@]}" "$build/one_operation" make "$op" "$build/input_$op"
  fast=$(per_pixel neon one_operation "$op" velmora)
  slow=$(per_pixel portable "$portable_program" "$op" velmora)
  plain=$(per_pixel neon one_operation "$op" plain)
  stb=-
  case $op in
    fill*) fills+=("| $op | $fast | $(per_pixel neon one_operation "$op" vectorised)") ;;
    blend|key|a8*) ;;
    *) stb=$(per_pixel neon one_operation "$op" stb) ;;
  esac
  echo "| $op | $fast | $slow | $plain | $stb | $(ratio "$slow" "$fast")× |"
done
# Without NEON in its baseline, GCC vectorises nothing for armhf.
if [ "$arch" = aarch64 ] && [ ${#fills[@]} -gt 0 ]; then
  echo
  echo "| operation | NEON | plain loop, vectorised (-O3) | NEON / vectorised |"
  echo "|---|---:|---:|---:|"
  for row in "${fills[@]}"; do
    IFS='|' read -r _ _ fast vec <<<"$row"
    echo "$row | $(awk "BEGIN { printf \"%.2f\", $fast / $vec }")× |"
  done
fi
