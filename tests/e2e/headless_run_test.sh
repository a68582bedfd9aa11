#!/usr/bin/env bash
# `make run` on a machine without a display: the viewer runs in a private Xvfb,
# its window is saved as <build>/velmora.png, Escape ends it, the status is
# printed. Checks the printed lines and a few pixels of the saved picture
# against colours make_samples paints flat (truncated to RGB565, as shown).
# Usage: headless_run_test.sh <project folder> <build folder>
set -euo pipefail
project=$1
build=$2
png=$build/velmora.png
rm -f "$png"

out=$(cd "$project" && env -u DISPLAY -u WAYLAND_DISPLAY tools/run_headless.sh "$build")
printf '%s\n' "$out"

fail() {
  echo "headless_run_test: $*" >&2
  exit 1
}

grep -qx "saved the window as $png" <<<"$out" || fail "no line naming $png"
grep -qx "velmora exited with status 0" <<<"$out" || fail "no exit status 0"
[ "$(grep -c '^tga/sample_[0-3]\.tga$' <<<"$out")" = 4 ] || fail "not four header blocks"
[ "$(identify -format '%w %h' "$png")" = "512 512" ] || fail "$png is not 512 x 512"

# r g b of one pixel, cut to the RGB565 bits the viewer's surface holds.
pixel_565() {
  convert "$png" -crop "1x1+$1+$2" -depth 8 txt:- |
    sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1 \2 \3/p' |
    { read -r r g b; echo "$((r & 0xF8)) $((g & 0xFC)) $((b & 0xF8))"; }
}
expect_pixel() {
  local got
  got=$(pixel_565 "$1" "$2")
  [ "$got" = "$3" ] || fail "pixel ($1, $2) is $got, expected $3 ($4)"
}
expect_pixel 0 0 "248 72 0" "sample_0's top-left gradient corner, 255 72 0"
expect_pixel 258 2 "40 40 48" "sample_1's background, 40 40 48"
expect_pixel 2 258 "232 228 208" "sample_2's background, 236 230 208"
expect_pixel 5 460 "32 64 160" "sample_2's band, 32 64 160"
echo "headless run: picture and status as expected"
