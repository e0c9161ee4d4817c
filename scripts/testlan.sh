#!/usr/bin/env bash
# The test LAN: two network namespaces inside this machine, so that tests which
# broadcast (discovery, boot recovery) never reach a real network.
#
#   "PC"  namespace: where Kelvara or a test binary runs, address 10.77.0.1/16
#   "LAN" namespace: where devsim runs, address 10.77.0.2/16 plus N more
#                    (10.77.1.1, 10.77.1.2, ... one per simulated device)
# joined by a veth pair. Names are unique per run (kvt-<pid>-<n>-pc/-lan), so
# parallel tests never collide.
#
# Usage (as root):
#   testlan.sh run [--addrs N] [--gateway] -- CMD...   set up, run CMD in the PC
#                  namespace, tear down (also when CMD fails or is interrupted).
#                  CMD sees TESTLAN_PC, TESTLAN_LAN (namespace names),
#                  TESTLAN_PC_IP, TESTLAN_LAN_IP and KELVARA_TEST_NETNS.
#   testlan.sh up [--addrs N] [--gateway]   set up; prints "PC=<ns> LAN=<ns>";
#                                           the caller owns it and must "down" it
#   testlan.sh down PC-NS                   tear down a LAN made by "up"
#   testlan.sh exec NS CMD...               run CMD in a namespace of a test LAN
#   testlan.sh guard                        exit 1 unless the caller runs inside a
#                                           test LAN namespace (put it in front
#                                           of anything that broadcasts)
#   testlan.sh clean                        remove test LANs whose creator is gone
#                                           (never those made by hand with "up")
#   testlan.sh addrs N                      print the N extra LAN addresses (devsim
#                                           numbers its devices by the same rule)
#
# A LAN of more than 256 addresses needs a larger neighbour (ARP) table than
# Linux's default (gc_thresh1 128, gc_thresh2 512, gc_thresh3 1,024). The table
# and its limits are the machine's, shared by every namespace, so "up" raises
# net.ipv4.neigh.default.gc_thresh1/2/3 machine-wide to at least N / 2N / 4N
# (the README's rule for a real LAN), says so, and the last "down" of such LANs
# puts back the values it found.
set -euo pipefail

PC_IP=10.77.0.1
LAN_IP=10.77.0.2
PREFIX=16

die() { echo "testlan: $*" >&2; exit 2; }

need_root() {
  [ "$(id -u)" -eq 0 ] || die "needs root (ip netns)"
  command -v ip >/dev/null || die "ip (iproute2) not installed"
}

# The n-th extra LAN address (n from 0): 10.77.1.1 .. 10.77.1.250, 10.77.2.1, ...
# 250 per /24, never .0 or .251-.255: the rule of tools/devsim/lan_numbering.h
# (devsim_tests checks that both give the same addresses).
lan_addr() {
  local n=$1
  echo "10.77.$(( 1 + n / 250 )).$(( 1 + n % 250 ))"
}

# The neighbour table's limits (machine-wide; only the machine's namespace has
# them). State under /run: the values found before the first raise, the values
# written, and one mark per LAN that needs them. gc_thresh1 has files of its
# own (neigh-saved1, neigh-set1), so a script of an older tree that shares
# /run with this one reads its "gc_thresh2 gc_thresh3" pair unchanged.
NEIGH=/proc/sys/net/ipv4/neigh/default
STATE=/run/kelvara-testlan

neigh_raise() {
  local pc=$1 addrs=$2 want1=$2 want2=$(( 2 * $2 )) want3=$(( 4 * $2 ))
  [ "$want3" -gt 1024 ] || return 0
  if [ ! -w "$NEIGH/gc_thresh3" ]; then
    echo "testlan: cannot raise the neighbour table (no $NEIGH here): $addrs addresses may overflow it;" \
      "set net.ipv4.neigh.default.gc_thresh1=$want1, gc_thresh2=$want2 and gc_thresh3=$want3 on the host" >&2
    return 0
  fi
  mkdir -p "$STATE/neigh-users"
  (
    flock 9
    local t1 t2 t3
    t1=$(cat "$NEIGH/gc_thresh1"); t2=$(cat "$NEIGH/gc_thresh2"); t3=$(cat "$NEIGH/gc_thresh3")
    [ -f "$STATE/neigh-saved" ] || echo "$t2 $t3" >"$STATE/neigh-saved"
    [ -f "$STATE/neigh-saved1" ] || echo "$t1" >"$STATE/neigh-saved1"
    [ "$t1" -ge "$want1" ] || t1=$want1
    [ "$t2" -ge "$want2" ] || t2=$want2
    [ "$t3" -ge "$want3" ] || t3=$want3
    # Largest first, so the three never stand in the wrong order.
    echo "$t3" >"$NEIGH/gc_thresh3"; echo "$t2" >"$NEIGH/gc_thresh2"; echo "$t1" >"$NEIGH/gc_thresh1"
    echo "$t2 $t3" >"$STATE/neigh-set"
    echo "$t1" >"$STATE/neigh-set1"
    touch "$STATE/neigh-users/$pc"
    echo "testlan: $addrs addresses: net.ipv4.neigh.default.gc_thresh1/2/3 are $t1/$t2/$t3" \
      "(machine-wide; the last \"down\" puts back $(cat "$STATE/neigh-saved1")/$(tr ' ' / <"$STATE/neigh-saved"))" >&2
  ) 9>"$STATE/lock"
}

# Puts back the limits found when no LAN that needed them is left (marks of
# LANs that are gone count no more); a value changed since by someone else stays.
neigh_release() {
  local pc=$1
  [ -d "$STATE/neigh-users" ] || return 0
  (
    flock 9
    rm -f "$STATE/neigh-users/$pc"
    local m live
    live=$(ip netns list 2>/dev/null | awk '{print $1}')
    for m in "$STATE"/neigh-users/*; do
      [ -e "$m" ] || continue
      grep -qx "$(basename "$m")" <<<"$live" || rm -f "$m"
    done
    if [ -z "$(ls -A "$STATE/neigh-users")" ]; then
      local o1 o2 o3 s1 s2 s3
      # Smallest first, so the three never stand in the wrong order.
      if [ -f "$STATE/neigh-saved1" ]; then
        read -r o1 <"$STATE/neigh-saved1"
        read -r s1 <"$STATE/neigh-set1" 2>/dev/null || s1=
        [ "$(cat "$NEIGH/gc_thresh1")" != "$s1" ] || echo "$o1" >"$NEIGH/gc_thresh1"
        rm -f "$STATE/neigh-saved1" "$STATE/neigh-set1"
      fi
      if [ -f "$STATE/neigh-saved" ]; then
        read -r o2 o3 <"$STATE/neigh-saved"
        read -r s2 s3 <"$STATE/neigh-set" 2>/dev/null || { s2=; s3=; }
        [ "$(cat "$NEIGH/gc_thresh2")" != "$s2" ] || echo "$o2" >"$NEIGH/gc_thresh2"
        [ "$(cat "$NEIGH/gc_thresh3")" != "$s3" ] || echo "$o3" >"$NEIGH/gc_thresh3"
        rm -f "$STATE/neigh-saved" "$STATE/neigh-set"
      fi
    fi
  ) 9>"$STATE/lock"
}

up() {
  local addrs=0 gateway=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --addrs) addrs=$2; shift 2 ;;
      --gateway) gateway=1; shift ;;
      *) die "unknown option $1" ;;
    esac
  done
  [[ "$addrs" =~ ^[0-9]+$ ]] && [ "$addrs" -le 60000 ] || die "--addrs must be 0..60000"
  # The owner's pid is in the name, so "clean" knows when a LAN is orphaned.
  # A LAN made by hand with "up" has owner 0: only "down" removes it (its
  # creating shell has ended long before the user is done with it).
  local owner=${OWNER:-0} tag
  tag=$(printf '%x%04x' "$owner" "$RANDOM")
  local pc="kvt-$owner-$RANDOM$RANDOM-pc"
  local lan="${pc%-pc}-lan"
  local va="kv${tag:0:11}a" vb="kv${tag:0:11}b"
  ip netns add "$pc"
  if ! {
    ip netns add "$lan" &&
    ip link add "$va" type veth peer name "$vb" &&
    ip link set "$va" netns "$pc" &&
    ip link set "$vb" netns "$lan" &&
    ip -n "$pc" link set "$va" name lan0 &&
    ip -n "$lan" link set "$vb" name pc0 &&
    ip -n "$pc" link set lo up && ip -n "$lan" link set lo up &&
    ip -n "$pc" addr add "$PC_IP/$PREFIX" dev lan0 &&
    ip -n "$lan" addr add "$LAN_IP/$PREFIX" dev pc0 &&
    ip -n "$pc" link set lan0 up && ip -n "$lan" link set pc0 up
  }; then
    down "$pc"; die "setting up the namespaces failed"
  fi
  if [ "$addrs" -gt 0 ]; then
    addrs "$addrs" | sed "s|.*|addr add &/$PREFIX dev pc0|" | ip -n "$lan" -batch - ||
      { down "$pc"; die "adding LAN addresses failed"; }
  fi
  neigh_raise "$pc" "$addrs"
  if [ "$gateway" -eq 1 ]; then
    ip -n "$pc" route add default via "$LAN_IP" || { down "$pc"; die "adding the default route failed"; }
  fi
  echo "PC=$pc LAN=$lan"
}

down() {
  local pc=$1
  [[ "$pc" == kvt-*-pc ]] || die "not a test LAN namespace: $pc"
  local lan="${pc%-pc}-lan" ns pid
  for ns in "$pc" "$lan"; do
    # End what still runs inside, or the namespace would outlive its name.
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
    ip netns del "$ns" 2>/dev/null || true
  done
  neigh_release "$pc"
}

addrs() {
  local n=$1 i
  for ((i = 0; i < n; i++)); do lan_addr "$i"; done
}

clean() {
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^kvt-[0-9]+-[0-9]+-pc$' || true); do
    pid=${ns#kvt-}; pid=${pid%%-*}
    [ "$pid" != 0 ] || continue
    if ! kill -0 "$pid" 2>/dev/null; then down "$ns"; fi
  done
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^kvt-[0-9]+-[0-9]+-lan$' || true); do
    pid=${ns#kvt-}; pid=${pid%%-*}
    [ "$pid" != 0 ] || continue
    if ! kill -0 "$pid" 2>/dev/null; then ip netns del "$ns" 2>/dev/null || true; fi
  done
}

guard() {
  local me
  me=$(ip netns identify $$ 2>/dev/null || true)
  if [[ "$me" != kvt-* ]]; then
    echo "testlan: refusing to broadcast outside a test LAN namespace" >&2
    exit 1
  fi
}

cmd=${1:-}; [ $# -gt 0 ] && shift
case "$cmd" in
  up) need_root; up "$@" ;;
  down) need_root; [ $# -eq 1 ] || die "usage: down PC-NS"; down "$1" ;;
  exec)
    need_root; [ $# -ge 2 ] || die "usage: exec NS CMD..."
    [[ "$1" == kvt-* ]] || die "not a test LAN namespace: $1"
    ns=$1; shift
    exec ip netns exec "$ns" env KELVARA_TEST_NETNS="$ns" "$@" ;;
  run)
    need_root
    opts=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do opts+=("$1"); shift; done
    [ "${1:-}" = "--" ] || die "usage: run [--addrs N] [--gateway] -- CMD..."
    shift
    [ $# -gt 0 ] || die "run: no command"
    out=$(OWNER=$$ up "${opts[@]}")
    pc=${out#PC=}; pc=${pc%% *}; lan=${out##*LAN=}
    trap 'down "$pc"' EXIT
    trap 'exit 130' INT TERM
    set +e
    ip netns exec "$pc" env TESTLAN_PC="$pc" TESTLAN_LAN="$lan" TESTLAN_PC_IP="$PC_IP" \
      TESTLAN_LAN_IP="$LAN_IP" KELVARA_TEST_NETNS="$pc" "$@"
    rc=$?
    set -e
    exit $rc ;;
  guard) guard ;;
  addrs) [ $# -eq 1 ] && [[ "$1" =~ ^[0-9]+$ ]] || die "usage: addrs N"; addrs "$1" ;;
  clean) need_root; clean ;;
  *) sed -n '2,/^set -euo/p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
