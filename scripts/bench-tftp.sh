#!/usr/bin/env bash
# Throughput of zqfileserver against Debian's tftpd-hpa serving the same file
# to the same client (curl), one download and 20 at once, in a private network
# namespace on its loopback (nothing leaves the machine). Needs root (unshare),
# curl, and in.tftpd: set IN_TFTPD to its path, or install tftpd-hpa for the
# benchmark (its service need not run: the binary is started here on loopback;
# `apt-get download tftpd-hpa libwrap0` and `dpkg -x` give the binary without
# installing a service, then set IN_TFTPD and LD_LIBRARY_PATH).
#
# Each download comes from its own loopback address (127.0.0.11, .12, ...):
# zqfileserver runs at most 4 transfers of one address, so 20 downloads from
# one address would measure its refusals. Five rounds per case, the two
# servers in turn, first one then the other; a line
# `ratio tftp_<blocks>_<n> <value> goal -` per round (zqfileserver's rate over
# tftpd-hpa's in that round, scripts/ratio-table.sh), then a table of the
# best round of each. Any download that fails or differs, or a server that
# did not serve the case from as many addresses, ends the script non-zero.
#   scripts/bench-tftp.sh [build-dir] [size-MB]
set -euo pipefail
if [ "${1:-}" != "--inside" ]; then
  exec unshare -n "$0" --inside "$@"
fi
shift
build=${1:-build}
size_mb=${2:-16}
rounds=5
in_tftpd=${IN_TFTPD:-$(command -v in.tftpd || echo /usr/sbin/in.tftpd)}
fail() { echo "bench-tftp: $*" >&2; exit 1; }
[ -x "$in_tftpd" ] || fail "in.tftpd not found (install tftpd-hpa or set IN_TFTPD)"
[ -x "$build/bin/zqfileserver" ] || fail "$build/bin/zqfileserver not found (build it first)"
ip link set lo up
# tftpd-hpa resolves its address with AI_ADDRCONFIG, which wants one
# non-loopback IPv4 address: a veth pair private to this namespace.
ip link add kvb0 type veth peer name kvb1
ip addr add 10.99.0.1/24 dev kvb0
ip link set kvb0 up; ip link set kvb1 up
dir=$(mktemp -d)
out=$(mktemp -d)
zq_log=$(mktemp)
trap 'kill $zq $hpa 2>/dev/null || true; rm -rf "$dir" "$out" "$zq_log"' EXIT
head -c $((size_mb << 20)) /dev/urandom > "$dir/image.bin"
# No flood guard on its lines (-l, -L 0): the check below counts every "sent".
"$build/bin/zqfileserver" -p 6969 -a 127.0.0.1 -d "$dir" -l 1000000 -L 0 > "$zq_log" & zq=$!
"$in_tftpd" -L -s "$dir" -a 127.0.0.1:7070 -4 -u root & hpa=$!
sleep 0.5
kill -0 $zq 2>/dev/null || fail "zqfileserver did not start"
kill -0 $hpa 2>/dev/null || fail "in.tftpd did not start (missing libraries? see above)"

# Seconds for n concurrent downloads with the given curl options, download i
# from 127.0.0.(10 + i). Fails when a download fails or differs, and for
# zqfileserver when its log does not show n transfers from n addresses.
run() {
  local server=$1 port=$2 n=$3 opts=$4 start end i pids=() seen
  local lines_before
  lines_before=$(wc -l < "$zq_log")
  start=$(date +%s.%N)
  for i in $(seq "$n"); do
    rm -f "$out/got$i"
    curl -sS $opts --interface "127.0.0.$((10 + i))" -o "$out/got$i" "tftp://127.0.0.1:$port/image.bin" &
    pids+=($!)
  done
  for i in $(seq "$n"); do
    wait "${pids[$((i - 1))]}" || fail "$server, $opts, $n at once: download $i failed (curl exit $?)"
  done
  end=$(date +%s.%N)
  for i in $(seq "$n"); do
    cmp -s "$dir/image.bin" "$out/got$i" || fail "$server, $opts, $n at once: download $i differs"
  done
  if [ "$server" = zq ]; then
    # Its line comes once it has the last ACK, which may be after curl ended.
    for i in $(seq 50); do
      seen=$(tail -n +$((lines_before + 1)) "$zq_log" | awk '/ image.bin sent / { split($1, a, ":"); print a[1] }' |
        sort -u | wc -l)
      [ "$seen" -lt "$n" ] || break
      sleep 0.1
    done
    [ "$seen" -eq "$n" ] || fail "zqfileserver served $seen addresses of $n ($opts)"
  fi
  echo "$end - $start" | bc -l
}

results=()
for opts in "--tftp-no-options" "--tftp-blksize 1468"; do
  blocks=$([ "$opts" = "--tftp-no-options" ] && echo 512 || echo 1468)
  for n in 1 20; do
    best_zq=999999 best_hpa=999999
    for round in $(seq $rounds); do
      # The servers in turn, first one then the other.
      if [ $((round % 2)) -eq 1 ]; then
        t_zq=$(run zq 6969 "$n" "$opts"); t_hpa=$(run hpa 7070 "$n" "$opts")
      else
        t_hpa=$(run hpa 7070 "$n" "$opts"); t_zq=$(run zq 6969 "$n" "$opts")
      fi
      printf "ratio tftp_%s_%s %.3f goal -\n" "$blocks" "$n" "$(echo "$t_hpa / $t_zq" | bc -l)"
      best_zq=$(echo "if ($t_zq < $best_zq) $t_zq else $best_zq" | bc -l)
      best_hpa=$(echo "if ($t_hpa < $best_hpa) $t_hpa else $best_hpa" | bc -l)
    done
    zq_rate=$(echo "$n * $size_mb / $best_zq" | bc -l)
    hpa_rate=$(echo "$n * $size_mb / $best_hpa" | bc -l)
    results+=("$(printf "%-22s %-6s %12.1f %12.1f %8.2f" "$opts" "$n" "$zq_rate" "$hpa_rate" \
      "$(echo "$zq_rate / $hpa_rate" | bc -l)")")
  done
done
echo
echo "best of $rounds rounds, $size_mb MB each download"
printf "%-22s %-6s %12s %12s %8s\n" "options" "n" "zq MB/s" "hpa MB/s" "zq/hpa"
printf "%s\n" "${results[@]}"
