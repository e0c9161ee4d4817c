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
lan_addr() {
  local n=$1
  echo "10.77.$(( 1 + n / 250 )).$(( 1 + n % 250 ))"
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
    local i batch
    batch=$(for ((i = 0; i < addrs; i++)); do echo "addr add $(lan_addr "$i")/$PREFIX dev pc0"; done)
    echo "$batch" | ip -n "$lan" -batch - || { down "$pc"; die "adding LAN addresses failed"; }
  fi
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
  clean) need_root; clean ;;
  *) sed -n '2,/^set -euo/p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
