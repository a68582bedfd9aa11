#!/usr/bin/env bash
# Installs a build into a scratch prefix and builds the consumer against that
# prefix only, twice: through find_package(velmora) and through pkg-config;
# both programs must run and pass.
# Usage: tests/consumer/check_install.sh [build folder, default build]
set -euo pipefail

build=$(realpath "${1:-build}")
here=$(dirname "$(realpath "$0")")
scratch=$build/install-check
prefix=$scratch/prefix
rm -rf "$scratch"

# The consumer is built by the same compiler, with the same sanitizers, as the
# library it links.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
cxx=$(cache_value CMAKE_CXX_COMPILER)
sanitize=
[ "$(cache_value VELMORA_SANITIZE)" = ON ] && sanitize=-fsanitize=address,undefined

cmake --install "$build" --prefix "$prefix" >/dev/null
# A build of just the library (VELMORA_VIEWER=OFF) installs no viewer.
viewer=bin/velmora
[ "$(cache_value VELMORA_VIEWER)" = OFF ] && viewer=
for f in $viewer include/velmora/draw.h include/velmora/sprite.h include/velmora/tga.h \
         include/velmora/canvas.h; do
  [ -e "$prefix/$f" ] || { echo "check_install: $f was not installed" >&2; exit 1; }
done
if [ -z "$viewer" ] && [ -e "$prefix/bin/velmora" ]; then
  echo "check_install: a build without the viewer installed bin/velmora" >&2; exit 1
fi

echo "== find_package(velmora)"
cmake -S "$here" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
found=$(sed -n 's/^velmora_DIR:PATH=//p' "$scratch/cmake/CMakeCache.txt")
case $found in
  "$prefix"/*) echo "found the package in $found" ;;
  *) echo "check_install: the package came from $found, not from $prefix" >&2; exit 1 ;;
esac
cmake --build "$scratch/cmake" >/dev/null
"$scratch/cmake/consumer"

echo "== pkg-config velmora"
pc_dir=$(dirname "$(find "$prefix" -name velmora.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH=$pc_dir PKG_CONFIG_LIBDIR=$pc_dir pkg-config --cflags --libs velmora)
echo "flags: $flags"
# shellcheck disable=SC2086 # the flags are meant to split
"$cxx" -std=c++17 -Wall -Wextra $sanitize -o "$scratch/consumer-pc" "$here/consumer.cpp" $flags
"$scratch/consumer-pc"

echo "== examples/compose and examples/sprites_move against the installed package"
cmake -S "$here/../../examples" -B "$scratch/examples" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build "$scratch/examples" >/dev/null
"$build/make_example_sprites" "$scratch"
(cd "$scratch" && "$scratch/examples/compose" background.tga ball.tga gem.tga coins.tga compose.png)
# The picture in the README is what the example makes.
cmp "$scratch/compose.png" "$here/../../examples/compose.png"
echo "compose.png matches examples/compose.png"
(cd "$scratch" && "$scratch/examples/sprites_move" background.tga ball.tga gem.tga coins.tga sprites_move.png)
cmp "$scratch/sprites_move.png" "$here/../../examples/sprites_move.png"
echo "sprites_move.png matches examples/sprites_move.png"
