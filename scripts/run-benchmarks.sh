#!/usr/bin/env bash
# Runs every benchmark of a release build (never part of the tests), then
# prints one table of the ratios they reported (scripts/ratio-table.sh): a
# benchmark reports a ratio by printing a line
#   ratio <name> <value> goal <goal>
# once per pair it ran, <goal> being "<=x", ">=x" or "-" (no goal).
set -uo pipefail
build=${1:-build}
shopt -s nullglob
log=$(mktemp)
ratios=$(mktemp)
trap 'rm -f "$log" "$ratios"' EXIT
failed=()
for b in "$build"/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  "$b" "${@:2}" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed+=("$name")
  awk -v bench="$name" '$1 == "ratio" && $4 == "goal" { print bench, $2, $3, $5 }' "$log" >>"$ratios"
done
echo
bash "$(dirname "$0")/ratio-table.sh" "$ratios"
if [ ${#failed[@]} -gt 0 ]; then
  echo "benchmarks that failed: ${failed[*]}"
  exit 1
fi
