#!/bin/sh
# Usage: bench/viewer_costs.sh BUILD_DIR     (run from the project root, which holds tga/)
# The viewer's own costs, on a private virtual X server at 16 bits (Xvfb): time
# from start to the first frame presented, peak resident memory, and CPU use
# while it idles, presenting ten frames a second. BUILD_DIR holds velmora and
# bench/libfirst_frame.so (a build with -DVELMORA_BENCH=ON).
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
idle_seconds=${IDLE_SECONDS:-10}
work=$(mktemp -d)
xvfb=""
viewer=""
# The viewer ends first (SIGTERM reaches it as a quit event), then its X server.
stop() { kill "$1" 2>/dev/null && wait "$1" 2>/dev/null || true; }
cleanup() {
  [ -z "$viewer" ] || stop "$viewer"
  [ -z "$xvfb" ] || stop "$xvfb"
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number on descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x16 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
waited=0
until [ -s "$work/display" ]; do
  sleep 0.01
  waited=$((waited + 1))
  [ $waited -lt 1000 ] || { echo "viewer_costs: Xvfb did not start" >&2; exit 1; }
done
DISPLAY=:$(cat "$work/display")
export DISPLAY

start=$(date +%s%N)
VELMORA_FIRST_FRAME_FILE=$work/stamp LD_PRELOAD=$build/bench/libfirst_frame.so \
  "$build/velmora" >/dev/null &
viewer=$!
waited=0
until [ -s "$work/stamp" ]; do
  sleep 0.01
  waited=$((waited + 1))
  kill -0 "$viewer" 2>/dev/null || { echo "viewer_costs: the viewer ended early" >&2; exit 1; }
  [ $waited -lt 1000 ] || { echo "viewer_costs: no frame within 10 s" >&2; exit 1; }
done
first=$(cat "$work/stamp")

# Nanoseconds on a CPU, all threads: /proc/PID/task/*/schedstat, first field.
cpu_ns() { cat /proc/"$viewer"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
sleep 1 # past start-up
before=$(cpu_ns)
sleep "$idle_seconds"
after=$(cpu_ns)
peak_kb=$(awk '/^VmHWM/ { print $2 }' /proc/"$viewer"/status)

echo "| measure | value |"
echo "|---|---:|"
echo "| start to first frame presented | $(( (first - start) / 1000000 )) ms |"
echo "| peak resident memory (VmHWM) | $peak_kb kB |"
awk "BEGIN { printf \"| CPU while idle, over %d s | %.3f %% of one core |\n\", $idle_seconds, 100 * ($after - $before) / ($idle_seconds * 1e9) }"
