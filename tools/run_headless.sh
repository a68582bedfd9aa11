#!/usr/bin/env bash
# Runs the viewer from the current folder (which holds tga/), as `make run` does.
#
# With a display it simply opens the window. Without one it runs the viewer in a
# private Xvfb, saves the finished window as <build>/velmora.png, prints that
# path, releases Escape to end the viewer and prints its exit status; so a user
# on a server sees the picture without a desktop. Needs Xvfb, xdotool and
# ImageMagick's `import`.
#
# Usage: tools/run_headless.sh [build folder, default build]
set -euo pipefail

build=${1:-build}
viewer=$build/velmora
case $viewer in /*) ;; *) viewer=./$viewer ;; esac

if [ -n "${DISPLAY:-}" ]; then
  exec "$viewer"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-run-XXXXXX")
xvfb_pid=
viewer_pid=
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "run_headless: $*" >&2
  exit 1
}

# Xvfb picks a free display itself and writes its number once it accepts clients.
# -noreset: SDL opens the display, closes it and opens it again; without it the
# server resets when that first client leaves and may refuse the second.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
  [ "$(wc -l <"$work/display")" -ge 1 ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  sleep 0.05
done
export DISPLAY=:$(head -n 1 "$work/display")
[ "$DISPLAY" != ":" ] || fail "Xvfb did not report a display"
echo "no display: running the viewer in Xvfb on $DISPLAY"

# The viewer's own output is held back until loading is done, then shown.
"$viewer" >"$work/stdout" &
viewer_pid=$!

viewer_running() { kill -0 "$viewer_pid" 2>/dev/null; }

# The header lines are flushed once loading is over, so output (or the end of
# the viewer) means the picture is complete; a frame follows within 100 ms.
for _ in $(seq 600); do
  [ -s "$work/stdout" ] && break
  viewer_running || break
  sleep 0.05
done
cat "$work/stdout"
shown=$(wc -c <"$work/stdout")

window=
if viewer_running; then
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name '^velmora$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.05
  done
fi

if viewer_running; then
  [ -n "$window" ] || fail "the viewer runs but shows no window named velmora"
  sleep 0.5
  import -window "$window" "$build/velmora.png"
  echo "saved the window as $build/velmora.png"
  xdotool mousemove --window "$window" 256 256 windowfocus "$window" keydown Escape keyup Escape
  for _ in $(seq 200); do
    viewer_running || break
    sleep 0.05
  done
  viewer_running && fail "the viewer did not end when Escape was released"
fi

set +e
wait "$viewer_pid"
status=$?
set -e
viewer_pid=
tail -c +"$((shown + 1))" "$work/stdout"
echo "velmora exited with status $status"
exit "$status"
