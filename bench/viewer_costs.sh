#!/bin/sh
# Usage: bench/viewer_costs.sh BUILD_DIR     (run from the project root, which holds tga/)
# The viewer's own costs, under a virtual X server at 16 bits (xvfb-run): time
# from start to the first frame presented, peak resident memory, and CPU use
# while it idles, presenting ten frames a second. BUILD_DIR holds velmora and
# bench/libfirst_frame.so (a build with -DVELMORA_BENCH=ON).
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
idle_seconds=${IDLE_SECONDS:-10}
if [ -z "${VIEWER_COSTS_INSIDE:-}" ]; then
  VIEWER_COSTS_INSIDE=1 exec xvfb-run -a -s "-screen 0 1024x768x16" "$0" "$@"
fi

stamp=$(mktemp)
trap 'rm -f "$stamp"' EXIT
start=$(date +%s%N)
VELMORA_FIRST_FRAME_FILE=$stamp LD_PRELOAD=$build/bench/libfirst_frame.so "$build/velmora" >/dev/null &
pid=$!
waited=0
while [ ! -s "$stamp" ]; do
  sleep 0.01
  waited=$((waited + 1))
  if [ $waited -ge 1000 ]; then
    kill "$pid"
    echo "viewer_costs: no frame within 10 s" >&2
    exit 1
  fi
done
first=$(cat "$stamp")

# Nanoseconds on a CPU, all threads: /proc/PID/task/*/schedstat, first field.
cpu_ns() { cat /proc/"$pid"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
sleep 1 # past start-up
before=$(cpu_ns)
sleep "$idle_seconds"
after=$(cpu_ns)
peak_kb=$(awk '/^VmHWM/ { print $2 }' /proc/"$pid"/status)
kill "$pid"
wait "$pid" 2>/dev/null || true

echo "| measure | value |"
echo "|---|---:|"
echo "| start to first frame presented | $(( (first - start) / 1000000 )) ms |"
echo "| peak resident memory (VmHWM) | $peak_kb kB |"
awk "BEGIN { printf \"| CPU while idle, over %d s | %.3f %% of one core |\n\", $idle_seconds, 100 * ($after - $before) / ($idle_seconds * 1e9) }"
