#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build from its seed corpus, `jobs` side by side,
# so that all of them together take about `budget` seconds of wall time: each gets
# budget * jobs / targets seconds (at least 10, at most 300). Fails when any crashes.
#   scripts/run-fuzzers.sh <build> [budget seconds, 240] [jobs, nproc]
set -euo pipefail
build=${1:?build folder}
budget=${2:-240}
jobs=${3:-$(nproc)}
list="$build/fuzzers.txt"
[ -f "$list" ] || { echo "fuzz: no fuzz targets"; exit 0; }

names=() corpora=()
while IFS='=' read -r name corpus; do
  [ -n "$name" ] || continue
  names+=("$name"); corpora+=("${corpus:-}")
done < "$list"
count=${#names[@]}
[ "$count" -gt 0 ] || { echo "fuzz: no fuzz targets"; exit 0; }
[ "$jobs" -ge 1 ] || jobs=1
seconds=$(( budget * jobs / count ))
[ "$seconds" -ge 10 ] || seconds=10
[ "$seconds" -le 300 ] || seconds=300
echo "fuzz: $count targets, $jobs at a time, ${seconds}s each"

# Crash inputs go to the build folder, never into the source tree.
mkdir -p "$build/fuzz-artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fuzz_one() {  # name corpus
  local dir="$work/$1"
  mkdir -p "$dir/corpus"
  if [ -n "$2" ] && [ -d "$2" ]; then cp -r "$2"/. "$dir/corpus"/; fi
  "$build/bin/$1" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/fuzz-artifacts/$1-" \
    -print_final_stats=0 -close_fd_mask=3 "$dir/corpus" >"$dir/log" 2>&1
}

failed=()
declare -A running=()  # pid -> target name
finish_one() {
  local pid name
  wait -n -p pid "${!running[@]}" && rc=0 || rc=$?
  name=${running[$pid]}
  unset "running[$pid]"
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$work/$name/log"; echo "fuzz: $name FAILED"; failed+=("$name")
  else
    echo "fuzz: $name ran clean"
  fi
}
for i in "${!names[@]}"; do
  while [ "${#running[@]}" -ge "$jobs" ]; do finish_one; done
  fuzz_one "${names[$i]}" "${corpora[$i]}" &
  running[$!]=${names[$i]}
done
while [ "${#running[@]}" -gt 0 ]; do finish_one; done

if [ "${#failed[@]}" -gt 0 ]; then echo "fuzz: FAILED: ${failed[*]}"; exit 1; fi
echo "fuzz: all targets ran clean"
