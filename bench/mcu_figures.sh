#!/bin/sh
# The figures a microcontroller user checks first, for the README: flash and
# stack of the library built for Cortex-M0+ and Cortex-M4 at -Os (no
# exceptions, no RTTI) with cmake/toolchains/arm-none-eabi.cmake.
#
#   bench/mcu_figures.sh BUILD_DIR
#
# Flash is text + rodata (picolibc's linker script puts both in .text):
#   - the library's objects as built, every function (arm-none-eabi-size on the archive);
#   - what a program gains by linking the library, over the same program without it
#     (bench/mcu_flash.cpp): a typical game's subset, every quiet function, and
#     every function. This
#     includes the C library's and libgcc's helpers the library calls (memcpy,
#     memset, division; printf for tga24_to_sprite16, the one function that prints).
# Stack: each public function with its callees, the worst path through GCC's
# -fcallgraph-info=su (bench/mcu_stack.py). tests/mcu's runner measures the
# same by painting the stack, and fails above 2 KiB.
set -eu
out=${1:?usage: mcu_figures.sh BUILD_DIR}
here=$(cd "$(dirname "$0")/.." && pwd)
cpus="cortex-m0plus cortex-m4"
mkdir -p "$out"

flags_of() {
  case $1 in
    cortex-m4) echo "-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16" ;;
    cortex-m0plus) echo "-mcpu=cortex-m0plus -mthumb" ;;
  esac
}

text_of() { arm-none-eabi-size "$1" | awk 'NR == 2 { print $1 }'; }

for cpu in $cpus; do
  dir=$out/$cpu
  # CXXFLAGS adds to the toolchain's flags (CMAKE_CXX_FLAGS would replace them).
  CXXFLAGS=-fcallgraph-info=su cmake -S "$here" -B "$dir" \
    --toolchain "$here/cmake/toolchains/arm-none-eabi.cmake" \
    -DVELMORA_CORTEX_M_CPU=$cpu -DVELMORA_VIEWER=OFF -DVELMORA_TESTS=OFF >/dev/null
  cmake --build "$dir" --target velmora_gfx -j 2 >/dev/null
  lib=$dir/libvelmora_gfx.a
  objects=$(arm-none-eabi-size "$lib" | awk 'NR > 1 { sum += $1 } END { print sum }')
  for set in NONE GAME QUIET EVERY; do
    arm-none-eabi-g++ $(flags_of $cpu) --specs=picolibcpp.specs --oslib=semihost -Os -std=c++17 \
      -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections -DVELMORA_FLASH_$set \
      -I"$here/include" "$here/bench/mcu_flash.cpp" "$lib" -Wl,--gc-sections \
      -Wl,--defsym=__flash=0x0,--defsym=__flash_size=0x40000,--defsym=__ram=0x20000000,--defsym=__ram_size=0x4000 \
      -o "$dir/flash_$set.elf"
  done
  base=$(text_of "$dir/flash_NONE.elf")
  echo "$cpu library objects: $objects bytes"
  echo "$cpu linked, a game's subset: $(( $(text_of "$dir/flash_GAME.elf") - base )) bytes"
  echo "$cpu linked, every quiet function: $(( $(text_of "$dir/flash_QUIET.elf") - base )) bytes"
  echo "$cpu linked, every function (printf too): $(( $(text_of "$dir/flash_EVERY.elf") - base )) bytes"
  python3 "$here/bench/mcu_stack.py" $(find "$dir" -name '*.ci') | sed "s/^/$cpu stack /"
done
