#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time. Fails on the first crash.
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
shopt -s nullglob
list="$build/fuzzers.txt"
[ -f "$list" ] || { echo "fuzz: no fuzz targets"; exit 0; }
while IFS='=' read -r name corpus; do
  [ -n "$name" ] || continue
  work=$(mktemp -d)
  if [ -n "${corpus:-}" ] && [ -d "$corpus" ]; then cp -r "$corpus"/. "$work"/; fi
  echo "fuzz: $name for ${seconds}s"
  # Crash inputs go to the build folder, never into the source tree.
  mkdir -p "$build/fuzz-artifacts"
  "$build/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/fuzz-artifacts/$name-" \
    -print_final_stats=0 -close_fd_mask=3 "$work" >"$work.log" 2>&1 || {
      tail -n 60 "$work.log"; echo "fuzz: $name FAILED"; exit 1; }
  rm -rf "$work" "$work.log"
done < "$list"
echo "fuzz: all targets ran clean"
