#!/usr/bin/env bash
# scripts/ratio-table.sh: pairs grouped by name in the order first seen,
# min/median/max over odd and even counts, both goal directions, and lines
# that are not ratios left out.
set -euo pipefail
table=$(dirname "$0")/../ratio-table.sh
out=$(printf '%s\n' \
  'bench_a cpu 1.4 <=1.3' \
  'bench_b speed 0.9 >=1.0' \
  'bench_a cpu 1.1 <=1.3' \
  'bench_a cpu 1.2 <=1.3' \
  'bench_b speed 1.3 >=1.0' \
  'bench_b broken n/a >=1.0' \
  'bench_b speed 1.1 >=1.0' \
  'bench_b speed 1.0 >=1.0' | bash "$table")
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
[ "$(sed -n 2p <<<"$out" | awk '{print $2}')" = cpu ] || { echo "rows not in the order first seen"; fail=1; }
miss=$(printf 'b late 1.5 <=1.3\nb slow 0.5 >=0.8\nb info 2.0 -\n' | bash "$table")
grep -Eq 'info .* - +-$' <<<"$miss" || { echo "a ratio without a goal got a verdict"; fail=1; }
grep -Eq 'late .* NO$' <<<"$miss" || { echo "a ratio above its <= goal was met"; fail=1; }
grep -Eq 'slow .* NO$' <<<"$miss" || { echo "a ratio below its >= goal was met"; fail=1; }
[ $fail -eq 0 ] && echo "ratio table: all cases pass"
exit $fail
