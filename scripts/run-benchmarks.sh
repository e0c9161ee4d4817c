#!/usr/bin/env bash
# Runs every benchmark of a release build (never part of the tests), then
# prints one table of the goals and the ratios of paired benchmarks
# (scripts/bench-table.py).
set -euo pipefail
build=${1:-build}
shopt -s nullglob
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
for b in "$build"/bench/*; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  "$b" --benchmark_out="$results/$name.json" --benchmark_out_format=json "${@:2}" || echo "$name failed"
done
echo "== goals and ratios"
python3 "$(dirname "$0")/bench-table.py" "$results"/*.json
