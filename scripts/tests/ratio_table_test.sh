#!/usr/bin/env bash
# scripts/ratio-table.sh: pairs grouped by name in the order first seen,
# min/median/max over odd and even counts, both goal directions, lines
# that are not figures left out, and measured figures in a table of their own
# with their unit.
set -euo pipefail
table=$(dirname "$0")/../ratio-table.sh
out=$(printf '%s\n' \
  'bench_a ratio cpu 1.4 - <=1.3' \
  'bench_b ratio speed 0.9 - >=1.0' \
  'bench_c measured login 2.5 ms <=3' \
  'bench_a ratio cpu 1.1 - <=1.3' \
  'bench_a ratio cpu 1.2 - <=1.3' \
  'bench_c measured login 3.4 ms <=3' \
  'bench_b ratio speed 1.3 - >=1.0' \
  'bench_b ratio broken n/a - >=1.0' \
  'bench_b ratio speed 1.1 - >=1.0' \
  'bench_b ratio speed 1.0 - >=1.0' | bash "$table")
fail=0
expect() {  # <ratio name> <line pattern>
  local line
  line=$(grep -E "^[^ ]+ +$1 " <<<"$out" || true)
  if ! grep -Eq "$2" <<<"$line"; then
    echo "row $1: expected /$2/, got: $line"
    fail=1
  fi
}
expect cpu 'bench_a +cpu +3 +1\.100 +1\.200 +1\.400 +<=1\.3 +yes$'
expect speed 'bench_b +speed +4 +0\.900 +1\.050 +1\.300 +>=1\.0 +yes$'
grep -q broken <<<"$out" && { echo "a line without a number made a row"; fail=1; }
[ "$(sed -n 3p <<<"$out" | awk '{print $2}')" = cpu ] || { echo "rows not in the order first seen"; fail=1; }
expect login 'bench_c +login +2 +2\.5 +2\.95 +3\.4 +ms +<=3 +yes$'
sed -n '/== ratios/,/^$/p' <<<"$out" | grep -q login && { echo "a measured figure in the ratio table"; fail=1; }
sed -n '/== measured/,$p' <<<"$out" | grep -q cpu && { echo "a ratio in the measured table"; fail=1; }
miss=$(printf 'b ratio late 1.5 - <=1.3\nb ratio slow 0.5 - >=0.8\nb ratio info 2.0 - -\n' | bash "$table")
grep -Eq 'info .* - +-$' <<<"$miss" || { echo "a ratio without a goal got a verdict"; fail=1; }
grep -Eq 'late .* NO$' <<<"$miss" || { echo "a ratio above its <= goal was met"; fail=1; }
grep -Eq 'slow .* NO$' <<<"$miss" || { echo "a ratio below its >= goal was met"; fail=1; }
[ $fail -eq 0 ] && echo "ratio table: all cases pass"
exit $fail
