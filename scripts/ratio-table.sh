#!/usr/bin/env bash
# The tables of benchmark figures that `make bench` ends with. Input lines (a
# file, or standard input):
#   <benchmark> ratio <name> <value> - <goal>
#   <benchmark> measured <name> <value> <unit> <goal>
# with <goal> "<=x", ">=x" or "-" (shown for information, no goal). A ratio is
# ours over a reference doing the same work in the same run; a measured
# figure is an absolute one in its unit (ms, s/GiB...), with nothing to
# compare it with but its goal. Each kind has a table of its own; per name,
# in the order first seen: the benchmark, the number of values, their
# min/median/max, the goal, and whether the median meets it.
set -euo pipefail
awk '
  function verdict(v, goal,   op, x) {
    op = substr(goal, 1, 2); x = substr(goal, 3) + 0
    if (op == ">=") return v >= x ? "yes" : "NO"
    if (op == "<=") return v <= x ? "yes" : "NO"
    return "-"
  }
  function table(kind, title, count_title,   i, name, n, a, b, t, v, median) {
    if (!names[kind]) return
    if (printed++) printf "\n"
    print title
    if (kind == "ratio")
      printf "%-26s %-44s %5s %8s %8s %8s %8s %5s\n", "benchmark", "ratio", count_title, "min", "median", "max", "goal", "met"
    else
      printf "%-26s %-44s %5s %8s %8s %8s %-6s %8s %5s\n", "benchmark", "figure", count_title, "min", "median", "max", "unit", "goal", "met"
    for (i = 1; i <= names[kind]; ++i) {
      name = order[kind, i]; n = count[kind, name]
      for (a = 1; a <= n; ++a) v[a] = values[kind, name, a]
      for (a = 2; a <= n; ++a) for (b = a; b > 1 && v[b - 1] > v[b]; --b) { t = v[b]; v[b] = v[b - 1]; v[b - 1] = t }
      median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
      if (kind == "ratio")
        printf "%-26s %-44s %5d %8.3f %8.3f %8.3f %8s %5s\n", bench[kind, name], name, n, v[1], median, v[n],
               goal[kind, name], verdict(median, goal[kind, name])
      else
        printf "%-26s %-44s %5d %8.4g %8.4g %8.4g %-6s %8s %5s\n", bench[kind, name], name, n, v[1], median, v[n],
               unit[kind, name], goal[kind, name], verdict(median, goal[kind, name])
    }
  }
  NF >= 6 && ($2 == "ratio" || $2 == "measured") && $4 ~ /^[0-9.eE+-]+$/ {
    kind = $2
    if (!((kind, $3) in count)) {
      order[kind, ++names[kind]] = $3; bench[kind, $3] = $1; unit[kind, $3] = $5; goal[kind, $3] = $6
    }
    values[kind, $3, ++count[kind, $3]] = $4 + 0
  }
  END {
    table("ratio", "== ratios: ours over a reference doing the same work in the same run", "pairs")
    table("measured", "== measured figures: absolute, in their unit, against their goal", "runs")
  }
' "${1:-/dev/stdin}"
