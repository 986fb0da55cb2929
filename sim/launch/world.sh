# shellcheck shell=bash
# The simulated SD-WAN's network, sourced by sim/launch/run-sim (bash, root).
# Everything lives in three namespaces made here; nothing touches the
# machine's own interfaces or routes. Names are fixed, so a run after a killed
# one finds and removes what that one left.
#
#   client ns  tarvo-sim-c   veth tsim-c0 192.0.2.1/24; the client (its
#                            tarvo-client 10.200.0.7 and TAP 203.0.113.10 come
#                            from the orchestrator's answer); the orchestrator
#                            on 127.0.0.1:443
#   hub ns     tarvo-sim-h   veth tsim-h0 192.0.2.2/24; wireguard-go
#                            tarvo-sim-hub 10.200.0.1/24 on port 51820; the
#                            EoIP endpoint (sim/hub) on TAP tsim-htap, bridged
#                            (tsim-br) with a veth to the LAN host
#   LAN ns     tarvo-sim-lan tsim-l0 203.0.113.20/24, the host behind the hub's TAP

SIM_NS_CLIENT=tarvo-sim-c
SIM_NS_HUB=tarvo-sim-h
SIM_NS_LAN=tarvo-sim-lan
SIM_HUB_WG=tarvo-sim-hub
SIM_HUB_ENDPOINT=192.0.2.2:51820
SIM_HUB_TUNNEL_IP=10.200.0.1
SIM_CLIENT_TUNNEL_IP=10.200.0.7
SIM_LAN_HOST_IP=203.0.113.20
SIM_EOIP_TUNNEL_ID=4242
# What a run leaves for the next one to clean: one "kind value" per line.
SIM_STATE_FILE=/run/tarvo-sim.state
# Shared with the tunnel tests: the client's adapter name is machine-wide.
SIM_ADAPTER_LOCK=/run/lock/tarvo-wg-adapter.lock

sim_note() { printf '%s\n' "== $*"; }

sim_remember() { printf '%s %s\n' "$1" "$2" >>"$SIM_STATE_FILE"; }

# Waits for the lock every run holds; another run or tunnel test may hold it.
sim_take_lock() {
  exec {SIM_LOCK_FD}>"$SIM_ADAPTER_LOCK"
  if ! flock -n "$SIM_LOCK_FD"; then
    sim_note "waiting for another simulated network or tunnel test to end (lock $SIM_ADAPTER_LOCK)"
    flock "$SIM_LOCK_FD"
  fi
}

# Runs a command in the background in a session of its own (a Ctrl-C at the
# terminal reaches only the launcher, which ends it in order), with the lock's
# descriptor closed, so a child outliving a killed run cannot keep the lock.
sim_spawn() { setsid "$@" {SIM_LOCK_FD}>&- & }

sim_ns_exists() { [ -e "/run/netns/$1" ]; }

# Ends every process inside the namespace, then the namespace itself.
sim_remove_ns() {
  local ns="$1" pids _
  sim_ns_exists "$ns" || return 0
  pids="$(ip netns pids "$ns" 2>/dev/null || true)"
  if [ -n "$pids" ]; then
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 50); do
      pids="$(ip netns pids "$ns" 2>/dev/null || true)"
      [ -z "$pids" ] && break
      sleep 0.1
    done
    # shellcheck disable=SC2086
    if [ -n "$pids" ]; then kill -KILL $pids 2>/dev/null || true; fi
  fi
  ip netns delete "$ns" 2>/dev/null || true
}

# Removes what this run (or a killed earlier one) made: processes and
# namespaces, the client namespace's hosts file, the temporary host root
# and the virtual display.
sim_clean() {
  local kind value
  if [ -f "$SIM_STATE_FILE" ]; then
    while read -r kind value; do
      case "$kind" in
        pid)  # "PID:PROGRAM": only a process still running that program
          if [ "$(tr '\0' '\n' <"/proc/${value%%:*}/cmdline" 2>/dev/null | head -n 1)" = "${value#*:}" ]; then
            kill -TERM "${value%%:*}" 2>/dev/null || true
          fi ;;
        folder)
          case "$value" in /tmp/tarvo-sim-host.*) rm -rf --one-file-system "$value" ;; esac ;;
      esac
    done <"$SIM_STATE_FILE"
  fi
  sim_remove_ns "$SIM_NS_CLIENT"
  sim_remove_ns "$SIM_NS_HUB"
  sim_remove_ns "$SIM_NS_LAN"
  rm -rf "/etc/netns/$SIM_NS_CLIENT"
  rm -f "$SIM_STATE_FILE" "/run/wireguard/$SIM_HUB_WG.sock"
}

sim_wait_for_socket() {
  local _
  for _ in $(seq 500); do
    [ -S "/run/wireguard/$1.sock" ] && return 0
    sleep 0.01
  done
  return 1
}

# The three namespaces, the veth links, the hub's WireGuard peer and its LAN.
# Sets SIM_CLIENT_PRIVATE and SIM_HUB_PUBLIC.
sim_make_network() {
  local folder="$1" c="ip -n $SIM_NS_CLIENT" h="ip -n $SIM_NS_HUB" l="ip -n $SIM_NS_LAN"
  ip netns add "$SIM_NS_CLIENT"
  ip netns add "$SIM_NS_HUB"
  ip netns add "$SIM_NS_LAN"
  local ns
  for ns in "$SIM_NS_CLIENT" "$SIM_NS_HUB" "$SIM_NS_LAN"; do
    ip -n "$ns" link set lo up
    # No IPv6 chatter (router and neighbour solicitations) on the links, so
    # what crosses the tunnel and the bridge is what the client and the pings send.
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
  done
  $c link add tsim-c0 type veth peer name tsim-h0 netns "$SIM_NS_HUB"
  $c addr add 192.0.2.1/24 dev tsim-c0
  $h addr add 192.0.2.2/24 dev tsim-h0
  $c link set tsim-c0 up
  $h link set tsim-h0 up

  SIM_CLIENT_PRIVATE="$(wg genkey)"
  local client_public hub_private
  client_public="$(wg pubkey <<<"$SIM_CLIENT_PRIVATE")"
  hub_private="$(wg genkey)"
  SIM_HUB_PUBLIC="$(wg pubkey <<<"$hub_private")"
  (umask 077 && printf '%s\n' "$hub_private" >"$folder/hub.key")

  WG_PROCESS_FOREGROUND=1 LOG_LEVEL=error sim_spawn ip netns exec "$SIM_NS_HUB" wireguard-go "$SIM_HUB_WG" \
    >"$folder/hub-wireguard.log" 2>&1
  sim_remember pid "$!:wireguard-go"
  sim_wait_for_socket "$SIM_HUB_WG" || { echo "the hub's wireguard-go did not start" >&2; return 1; }
  ip netns exec "$SIM_NS_HUB" wg set "$SIM_HUB_WG" private-key "$folder/hub.key" listen-port 51820 \
    peer "$client_public" allowed-ips "$SIM_CLIENT_TUNNEL_IP/32,198.51.100.0/24"
  $h addr add "$SIM_HUB_TUNNEL_IP/24" dev "$SIM_HUB_WG"
  $h link set "$SIM_HUB_WG" up

  # The hub's LAN: its TAP and a veth to the LAN host on one bridge.
  ip netns exec "$SIM_NS_HUB" ip tuntap add mode tap name tsim-htap
  $h link add tsim-br type bridge
  $h link add tsim-hl0 type veth peer name tsim-l0 netns "$SIM_NS_LAN"
  $h link set tsim-htap master tsim-br
  $h link set tsim-hl0 master tsim-br
  $l addr add "$SIM_LAN_HOST_IP/24" dev tsim-l0
  local link
  for link in tsim-htap tsim-hl0 tsim-br; do $h link set "$link" up; done
  $l link set tsim-l0 up
}

# The hub's EoIP endpoint on its TAP, when this build has one. True when it runs.
sim_start_hub_endpoint() {
  local program="$1" stats="$2" _
  [ -x "$program" ] || return 1
  TARVO_NETNS="$SIM_NS_HUB" sim_spawn ip netns exec "$SIM_NS_HUB" "$program" --tap tsim-htap \
    --tunnel-id "$SIM_EOIP_TUNNEL_ID" --peer "$SIM_CLIENT_TUNNEL_IP" --local "$SIM_HUB_TUNNEL_IP" --stats "$stats" \
    >"$stats.log" 2>&1
  sim_remember pid "$!:$program"
  for _ in $(seq 200); do
    [ -s "$stats" ] && return 0
    sleep 0.01
  done
  return 1
}

# The client namespace's hosts file: the orchestrator's name is its loopback.
sim_resolve_orchestrator() {
  mkdir -p "/etc/netns/$SIM_NS_CLIENT"
  printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$1" >"/etc/netns/$SIM_NS_CLIENT/hosts"
}

# The test orchestrator in the client namespace on port 443 for `host`.
# Copies its CA to "$folder/ca.pem".
sim_start_orchestrator() {
  local program="$1" scenario="$2" host="$3" folder="$4" _
  sim_resolve_orchestrator "$host"
  : >"$folder/requests.log"
  sim_spawn ip netns exec "$SIM_NS_CLIENT" "$program" --host "$host" --port 443 --scenario "$scenario" \
    --define "CLIENT_PRIVATE_KEY=$SIM_CLIENT_PRIVATE" --define "HUB_PUBLIC_KEY=$SIM_HUB_PUBLIC" \
    --define "HUB_ENDPOINT=$SIM_HUB_ENDPOINT" --request-log "$folder/requests.log" >"$folder/orchestrator.out" 2>&1
  sim_remember pid "$!:$program"
  for _ in $(seq 500); do
    if grep -q '^ca_bundle=' "$folder/orchestrator.out" 2>/dev/null; then
      cp "$(sed -n 's/^ca_bundle=//p' "$folder/orchestrator.out")" "$folder/ca.pem"
      return 0
    fi
    sleep 0.01
  done
  cat "$folder/orchestrator.out" >&2
  return 1
}
