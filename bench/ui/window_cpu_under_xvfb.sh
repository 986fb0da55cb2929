#!/usr/bin/env bash
# CPU of the real window under Xvfb (Mesa's software OpenGL) at its 16-ms
# repaint with a full 500-entry log: the whole process beside its main
# (window) thread. The software rasteriser's threads dominate the first.
#   bench/ui/window_cpu_under_xvfb.sh [build folder, default build/linux] [seconds, default 10]
set -euo pipefail
build="${1:-build/linux}"
seconds="${2:-10}"
display=$(for n in $(seq 600 700); do [ -e "/tmp/.X$n-lock" ] || { echo "$n"; break; }; done)
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
root="$(mktemp -d)"
trap 'kill "$app" 2>/dev/null; kill "$xvfb"; rm -rf "$root"' EXIT
sleep 1
DISPLAY=":$display" TARVO_HOST_ROOT="$root" "$build/tests/window_states" full-log >/dev/null 2>&1 &
app=$!
sleep 3  # settled: sized, fonts baked
ticks() { awk '{print $14 + $15}' "$1"; }
p0=$(ticks "/proc/$app/stat"); t0=$(ticks "/proc/$app/task/$app/stat")
sleep "$seconds"
p1=$(ticks "/proc/$app/stat"); t1=$(ticks "/proc/$app/task/$app/stat")
hz=$(getconf CLK_TCK)
echo "whole process: $(( (p1 - p0) * 100 / (seconds * hz) ))% of one core"
echo "main thread:   $(( (t1 - t0) * 100 / (seconds * hz) ))% of one core"
