#!/usr/bin/env bash
# Time from the client's first event-log line (pushed as its window is made,
# just before the first frame) to the first answered ping from the client
# namespace across layer 3 (the hub's tunnel address) and layer 2 (the host
# behind the hub's TAP), in a scenario of the simulated SD-WAN: the real
# client under Xvfb, through sim/launch/run-sim (root).
#   bench/sim/time_to_ping.sh [build folder, default build/linux] [runs, default 3] [scenario, default l3-l2]
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:-$here/build/linux}")"
runs="${2:-3}"
scenario="${3:-l3-l2}"
now_ms() { date +%s%3N; }
answered() { ip netns exec tarvo-sim-c ping -c 1 -W 0.2 "$1" >/dev/null 2>&1; }

for run in $(seq "$runs"); do
  out="$(mktemp -d /tmp/tarvo-sim-bench.XXXXXX)"
  env -u DISPLAY bash "$here/sim/launch/run-sim" --build "$build" --scenario "$scenario" --out "$out" --for 20 \
    >"$out/launcher.out" 2>&1 &
  launcher=$!
  until [ -s "$out/client.log" ]; do sleep 0.01; done
  first_line=$(now_ms)
  l3="" l2=""
  while { [ -z "$l3" ] || [ -z "$l2" ]; } && (( $(now_ms) - first_line < 15000 )); do
    [ -z "$l3" ] && answered 10.200.0.1 && l3=$(( $(now_ms) - first_line ))
    [ -z "$l2" ] && answered 203.0.113.20 && l2=$(( $(now_ms) - first_line ))
    sleep 0.05
  done
  figure() { if [ -n "$1" ]; then echo "$1 ms"; else echo "none within 15 s"; fi; }
  echo "run $run: first log line -> L3 ping answered: $(figure "$l3"); -> L2 ping answered: $(figure "$l2")"
  kill -INT "$launcher"
  wait "$launcher" || true
  rm -rf "$out"
done
