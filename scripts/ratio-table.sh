#!/usr/bin/env bash
# One table of benchmark ratios. Input lines (a file, or standard input):
#   <benchmark> <ratio name> <value> <goal>
# with <goal> "<=x", ">=x" or "-" (shown for information, no goal). Per ratio name, in the order first seen: the
# benchmark, the number of pairs, their min/median/max, the goal, and whether
# the median meets it.
set -euo pipefail
awk '
  function verdict(v, goal,   op, x) {
    op = substr(goal, 1, 2); x = substr(goal, 3) + 0
    if (op == ">=") return v >= x ? "yes" : "NO"
    if (op == "<=") return v <= x ? "yes" : "NO"
    return "-"
  }
  NF >= 4 && $3 ~ /^[0-9.eE+-]+$/ {
    if (!($2 in count)) { order[++names] = $2; bench[$2] = $1; goal[$2] = $4 }
    values[$2, ++count[$2]] = $3 + 0
  }
  END {
    printf "%-26s %-44s %5s %8s %8s %8s %8s %5s\n", "benchmark", "ratio", "pairs", "min", "median", "max", "goal", "met"
    for (i = 1; i <= names; ++i) {
      name = order[i]; n = count[name]
      for (a = 1; a <= n; ++a) v[a] = values[name, a]
      for (a = 2; a <= n; ++a) for (b = a; b > 1 && v[b - 1] > v[b]; --b) { t = v[b]; v[b] = v[b - 1]; v[b - 1] = t }
      median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
      printf "%-26s %-44s %5d %8.3f %8.3f %8.3f %8s %5s\n", bench[name], name, n, v[1], median, v[n], goal[name], verdict(median, goal[name])
    }
  }
' "${1:-/dev/stdin}"
