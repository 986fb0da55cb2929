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
# What a run leaves for the next one to clean: one "kind value..." per line,
# in the folder of locks and state that only root may write (the launcher's
# supervisor checks it and holds the lock there; sim/launch/supervise.py).
SIM_STATE_FILE="${SIM_LAB_FOLDER:+$SIM_LAB_FOLDER/sim.state}"
# Set by the supervisor: the run's control pipe (a line or its end: the run
# must end) and the lock it holds.
SIM_CONTROL_FD="${SIM_CONTROL_FD:-}"
SIM_LOCK_FD="${SIM_LOCK_FD:-}"
SIM_ENDED=0

sim_note() { printf '%s\n' "== $*"; }

sim_remember() { printf '%s %s\n' "$1" "$2" >>"$SIM_STATE_FILE"; }

# Waits up to $1 seconds; true (and from then on at once) when the run must end.
sim_pause() {
  local rc=0 _
  ((SIM_ENDED)) && return 0
  read -r -t "$1" -u "$SIM_CONTROL_FD" _ || rc=$?
  ((rc > 128)) && return 1  # the time passed
  SIM_ENDED=1
}

# True when the run must end (a line or the end of the pipe waits); does not wait.
sim_must_end() {
  ((SIM_ENDED)) && return 0
  read -r -t 0 -u "$SIM_CONTROL_FD" || return 1
  SIM_ENDED=1
}

# Polls a command until it succeeds or $1 seconds pass; says what it waited for
# when they pass. Also returns (0) when the run must end: callers check that.
sim_await() {
  local limit="$1" what="$2" until
  shift 2
  until=$((${EPOCHREALTIME/./} / 1000 + limit * 1000))
  until "$@"; do
    sim_pause 0.02 && return 0
    if ((${EPOCHREALTIME/./} / 1000 >= until)); then
      echo "run-sim: waited $limit s for $what; it did not happen" >&2
      return 1
    fi
  done
}

# Polls a command until it succeeds (true) or $1 seconds pass (false), for
# the teardown: the run's end is no reason to stop waiting there.
sim_until() {
  local until=$((${EPOCHREALTIME/./} / 1000 + $1 * 1000))
  shift
  until "$@"; do
    ((${EPOCHREALTIME/./} / 1000 >= until)) && return 1
    sleep 0.05
  done
}

# Field 22 of /proc/PID/stat: when the process started, in clock ticks since
# boot. With the PID it names one process for good, also across its execs.
sim_start_time() {
  local stat fields
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
  read -ra fields <<<"${stat##*) }"  # the name in parentheses may hold spaces
  printf '%s\n' "${fields[19]}"
}

# Records a process this run started, to be ended by the teardown or by the
# next run after a killed one: "pid PID START NAME".
sim_remember_pid() {
  sim_remember pid "$1 $(sim_start_time "$1" || echo gone) $2"
}

# Whether PID is still the process that started at START (not one that got its
# number since, nor one that has ended and waits to be reaped).
sim_still_running() {
  local stat
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
  [ "$(sim_start_time "$1")" = "$2" ] && [[ "${stat##*) }" != Z* ]]
}

# Ends the processes and removes the folders that a state file records: a
# process only while it is still the one recorded, a folder only a host root.
sim_end_recorded() {
  local file="$1" kind pid start value pids=() starts=() i
  [ -f "$file" ] || return 0
  while read -r kind value; do
    case "$kind" in
      pid)
        read -r pid start _ <<<"$value"  # and the name, for whoever reads the file
        if [[ "$pid" =~ ^[0-9]+$ ]] && sim_still_running "$pid" "$start"; then
          kill -TERM "$pid" 2>/dev/null || true
          pids+=("$pid") starts+=("$start")
        fi ;;
      folder)
        case "$value" in /tmp/tarvo-sim-host.*) rm -rf --one-file-system "$value" ;; esac ;;
    esac
  done <"$file"
  for i in "${!pids[@]}"; do
    if ! sim_until 20 sim_ended "${pids[$i]}" "${starts[$i]}"; then
      if sim_still_running "${pids[$i]}" "${starts[$i]}"; then kill -KILL "${pids[$i]}" 2>/dev/null || true; fi
      sim_until 10 sim_ended "${pids[$i]}" "${starts[$i]}" || echo "run-sim: process ${pids[$i]} did not end" >&2
    fi
  done
}
sim_ended() { ! sim_still_running "$@"; }

# Runs a command in the background in a session of its own (a Ctrl-C at the
# terminal reaches only the launcher, which ends it in order), with the lock's
# and the control pipe's descriptors closed, so a child outliving a killed run
# keeps neither.
sim_spawn() { setsid "$@" {SIM_LOCK_FD}>&- {SIM_CONTROL_FD}<&- & }

sim_ns_exists() { [ -e "/run/netns/$1" ]; }

# Ends every process inside the namespace, then the namespace itself.
sim_remove_ns() {
  local ns="$1"
  sim_ns_exists "$ns" || return 0
  # shellcheck disable=SC2046
  kill -TERM $(ip netns pids "$ns" 2>/dev/null) 2>/dev/null || true
  if ! sim_until 20 sim_ns_empty "$ns"; then
    # shellcheck disable=SC2046
    kill -KILL $(ip netns pids "$ns" 2>/dev/null) 2>/dev/null || true
    sim_until 10 sim_ns_empty "$ns" || echo "run-sim: processes stay in $ns: $(ip netns pids "$ns" | xargs)" >&2
  fi
  ip netns delete "$ns" 2>/dev/null || true
}
sim_ns_empty() { [ -z "$(ip netns pids "$1" 2>/dev/null)" ]; }

# Removes what this run (or a killed earlier one) made: processes and
# namespaces, the client namespace's hosts file, the temporary host root
# and the virtual display.
sim_clean() {
  sim_end_recorded "$SIM_STATE_FILE"
  sim_remove_ns "$SIM_NS_CLIENT"
  sim_remove_ns "$SIM_NS_HUB"
  sim_remove_ns "$SIM_NS_LAN"
  rm -rf "/etc/netns/$SIM_NS_CLIENT"
  rm -f "$SIM_STATE_FILE" "/run/wireguard/$SIM_HUB_WG.sock"
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
  sim_remember_pid "$!" wireguard-go
  sim_await 60 "the hub's wireguard-go socket" test -S "/run/wireguard/$SIM_HUB_WG.sock" || return 1
  sim_must_end && return 0
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
  local program="$1" stats="$2"
  [ -x "$program" ] || return 1
  TARVO_NETNS="$SIM_NS_HUB" sim_spawn ip netns exec "$SIM_NS_HUB" "$program" --tap tsim-htap \
    --tunnel-id "$SIM_EOIP_TUNNEL_ID" --peer "$SIM_CLIENT_TUNNEL_IP" --local "$SIM_HUB_TUNNEL_IP" --stats "$stats" \
    >"$stats.log" 2>&1
  sim_remember_pid "$!" "$program"
  sim_await 60 "the hub's EoIP endpoint to write $stats" test -s "$stats"
}

# The client namespace's hosts file: the orchestrator's name is its loopback.
sim_resolve_orchestrator() {
  mkdir -p "/etc/netns/$SIM_NS_CLIENT"
  printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$1" >"/etc/netns/$SIM_NS_CLIENT/hosts"
}

# The test orchestrator in the client namespace on port 443 for `host`.
# Copies its CA to "$folder/ca.pem".
sim_start_orchestrator() {
  local program="$1" scenario="$2" host="$3" folder="$4"
  sim_resolve_orchestrator "$host"
  : >"$folder/requests.log"
  sim_spawn ip netns exec "$SIM_NS_CLIENT" "$program" --host "$host" --port 443 --scenario "$scenario" \
    --define "CLIENT_PRIVATE_KEY=$SIM_CLIENT_PRIVATE" --define "HUB_PUBLIC_KEY=$SIM_HUB_PUBLIC" \
    --define "HUB_ENDPOINT=$SIM_HUB_ENDPOINT" --request-log "$folder/requests.log" >"$folder/orchestrator.out" 2>&1
  sim_remember_pid "$!" "$program"
  if ! sim_await 60 "the orchestrator to name its CA" grep -q '^ca_bundle=' "$folder/orchestrator.out"; then
    cat "$folder/orchestrator.out" >&2
    return 1
  fi
  sim_must_end && return 0
  cp "$(sed -n 's/^ca_bundle=//p' "$folder/orchestrator.out")" "$folder/ca.pem"
}
