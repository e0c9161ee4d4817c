#!/usr/bin/env bash
# Throughput of zqfileserver against Debian's tftpd-hpa serving the same file
# to the same client (curl), one download and 20 at once, in a private network
# namespace on its loopback (nothing leaves the machine). Needs root (unshare),
# curl, and in.tftpd: set IN_TFTPD to its path, or install tftpd-hpa for the
# benchmark (its service need not run: the binary is started here on loopback;
# `apt-get download tftpd-hpa libwrap0` and `dpkg -x` give the binary without
# installing a service, then set IN_TFTPD and LD_LIBRARY_PATH). Best of five.
#   scripts/bench-tftp.sh [build-dir] [size-MB]
set -euo pipefail
if [ "${1:-}" != "--inside" ]; then
  exec unshare -n "$0" --inside "$@"
fi
shift
build=${1:-build}
size_mb=${2:-16}
in_tftpd=${IN_TFTPD:-$(command -v in.tftpd || echo /usr/sbin/in.tftpd)}
[ -x "$in_tftpd" ] || { echo "bench-tftp: in.tftpd not found (install tftpd-hpa or set IN_TFTPD)"; exit 1; }
ip link set lo up
# tftpd-hpa resolves its address with AI_ADDRCONFIG, which wants one
# non-loopback IPv4 address: a veth pair private to this namespace.
ip link add kvb0 type veth peer name kvb1
ip addr add 10.99.0.1/24 dev kvb0
ip link set kvb0 up; ip link set kvb1 up
dir=$(mktemp -d)
out=$(mktemp -d)
trap 'kill $zq $hpa 2>/dev/null || true; rm -rf "$dir" "$out"' EXIT
head -c $((size_mb << 20)) /dev/urandom > "$dir/image.bin"
"$build/bin/zqfileserver" -p 6969 -a 127.0.0.1 -d "$dir" > /dev/null & zq=$!
"$in_tftpd" -L -s "$dir" -a 127.0.0.1:7070 -4 -u root & hpa=$!
sleep 0.5
kill -0 $zq 2>/dev/null || { echo "bench-tftp: zqfileserver did not start"; exit 1; }
kill -0 $hpa 2>/dev/null || { echo "bench-tftp: in.tftpd did not start (missing libraries? see above)"; exit 1; }

# Seconds for n concurrent downloads with the given curl options.
run() {
  local port=$1 n=$2 opts=$3 start end
  start=$(date +%s.%N)
  for i in $(seq "$n"); do
    curl -sS $opts -o "$out/got$i" "tftp://127.0.0.1:$port/image.bin" &
  done
  wait
  end=$(date +%s.%N)
  for i in $(seq "$n"); do cmp -s "$dir/image.bin" "$out/got$i" || { echo "bench-tftp: download $i differs"; exit 1; }; done
  echo "$end - $start" | bc -l
}

printf "%-22s %-6s %12s %12s %8s\n" "options" "n" "zq MB/s" "hpa MB/s" "ratio"
for opts in "--tftp-no-options" "--tftp-blksize 1468"; do
  for n in 1 20; do
    best_zq=999999 best_hpa=999999
    for rep in 1 2 3 4 5; do
      t=$(run 6969 $n "$opts"); best_zq=$(echo "if ($t < $best_zq) $t else $best_zq" | bc -l)
      t=$(run 7070 $n "$opts"); best_hpa=$(echo "if ($t < $best_hpa) $t else $best_hpa" | bc -l)
    done
    zq_rate=$(echo "$n * $size_mb / $best_zq" | bc -l)
    hpa_rate=$(echo "$n * $size_mb / $best_hpa" | bc -l)
    printf "%-22s %-6s %12.1f %12.1f %8.2f\n" "$opts" "$n" "$zq_rate" "$hpa_rate" "$(echo "$zq_rate / $hpa_rate" | bc -l)"
  done
done
