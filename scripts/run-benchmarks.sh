#!/usr/bin/env bash
# Runs every benchmark of a release build (never part of the tests), then
# prints the goals and ratios they reported, in one table each way they report:
# - a line `ratio <name> <value> goal <goal>` printed once per pair it ran,
#   <goal> being "<=x", ">=x" or "-" (no goal): scripts/ratio-table.sh;
# - Google Benchmark counters goal/measured/ratio/goal_ratio in its JSON
#   output: scripts/bench-table.py.
set -uo pipefail
build=${1:-build}
shopt -s nullglob
results=$(mktemp -d)
log=$(mktemp)
ratios=$(mktemp)
trap 'rm -rf "$results" "$log" "$ratios"' EXIT
failed=()
for b in "$build"/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  "$b" --benchmark_out="$results/$name.json" --benchmark_out_format=json "${@:2}" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed+=("$name")
  awk -v bench="$name" '$1 == "ratio" && $4 == "goal" { print bench, $2, $3, $5 }' "$log" >>"$ratios"
done
echo
bash "$(dirname "$0")/ratio-table.sh" "$ratios"
echo
echo "== goals and ratios reported as counters"
python3 "$(dirname "$0")/bench-table.py" "$results"/*.json
if [ ${#failed[@]} -gt 0 ]; then
  echo "benchmarks that failed: ${failed[*]}"
  exit 1
fi
