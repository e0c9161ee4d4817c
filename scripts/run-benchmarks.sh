#!/usr/bin/env bash
# Runs every benchmark of a release build (never part of the tests), then
# prints the goals and figures they reported, in one table each way they report:
# - lines `ratio <name> <value> goal <goal>` (one per pair it ran: ours over a
#   reference doing the same work in the same run) and
#   `measured <name> <value> <unit> goal <goal>` (an absolute figure),
#   <goal> being "<=x", ">=x" or "-" (no goal): scripts/ratio-table.sh;
# - Google Benchmark counters goal/measured/ratio/goal_ratio in its JSON
#   output: scripts/bench-table.py;
# and last every case each benchmark ran, so none is missing from the tables.
# A benchmark fails the run when it exits non-zero, runs no case (its JSON
# holds no run: scripts/bench-runs.py), reports an error other than a skip,
# or leaves anything in the temporary folder it was given (TMPDIR, emptied
# after it whatever happened). Extra arguments go to every benchmark.
set -uo pipefail
build=${1:-build}
shopt -s nullglob dotglob
results=$(mktemp -d)
log=$(mktemp)
figures=$(mktemp)
trap 'rm -rf "$results" "$log" "$figures"' EXIT
# Qt makes its runtime folder under the temporary folder when the session has
# none: give it one of the run's own, outside the benchmarks' folders.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$results/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
failed=()
skipped=()
for b in "$build"/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  tmp="$results/tmp-$name"
  mkdir -p "$tmp"
  TMPDIR="$tmp" "$b" --benchmark_out="$results/$name.json" --benchmark_out_format=json "${@:2}" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  runs=$(python3 "$(dirname "$0")/bench-runs.py" "$results/$name.json")
  runs_status=$?
  echo "-- $name: exit $status, $runs"
  left=("$tmp"/*)
  if [ ${#left[@]} -gt 0 ]; then
    echo "-- $name left in its temporary folder: ${left[*]##*/}"
  fi
  rm -rf "$tmp"
  if [ "$status" -ne 0 ] || [ "$runs_status" -eq 1 ] || [ "$runs_status" -eq 2 ] || [ ${#left[@]} -gt 0 ]; then
    failed+=("$name")
  elif [ "$runs_status" -eq 3 ]; then
    skipped+=("$name")
  fi
  awk -v bench="$name" '
    $1 == "ratio" && NF == 5 && $4 == "goal" { print bench, "ratio", $2, $3, "-", $5 }
    $1 == "measured" && NF == 6 && $5 == "goal" { print bench, "measured", $2, $3, $4, $6 }
  ' "$log" >>"$figures"
done
echo
bash "$(dirname "$0")/ratio-table.sh" "$figures"
echo
echo "== goals and ratios reported as counters"
python3 "$(dirname "$0")/bench-table.py" "$results"/*.json
echo
echo "== every case of every benchmark (time per iteration)"
python3 "$(dirname "$0")/bench-table.py" --cases "$results"/*.json
[ ${#skipped[@]} -eq 0 ] || echo "benchmarks skipped (every case needs what this machine lacks): ${skipped[*]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "benchmarks that failed: ${failed[*]}"
  exit 1
fi
