#!/usr/bin/env bash
# scripts/run-benchmarks.sh on stand-in benchmarks (shell scripts that take
# Google Benchmark's --benchmark_out): both kinds of figure reach the tables,
# and each way a benchmark can measure nothing or break fails the run, named:
# no case run, an output file not written, a case that failed, a non-zero
# exit, files left in its temporary folder. Skips are listed, not failed.
set -euo pipefail
runner=$(dirname "$0")/../run-benchmarks.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build/bench"

# bench <name> <JSON benchmarks array> [<shell lines run after writing it>]
bench() {
  cat >"$work/build/bench/$1" <<SCRIPT
#!/usr/bin/env bash
for a in "\$@"; do case "\$a" in --benchmark_out=*) out=\${a#--benchmark_out=} ;; esac; done
[ -n "\${out:-}" ] && printf '{"benchmarks": %s}\n' '$2' >"\$out"
${3:-true}
SCRIPT
  chmod +x "$work/build/bench/$1"
}
ok='[{"name": "BM_A", "run_type": "iteration"}]'
bench good "$ok" 'echo "ratio good_over_ref 0.8 goal <=1.0"; echo "measured good_ms 12.5 ms goal <=20"'
bench slow "$ok" 'echo "ratio slow_over_ref 1.5 goal <=1.1"'
bench lan_only '[{"name": "BM_L", "run_type": "iteration", "error_occurred": true, "error_message": "skipped: no root"}]'
bench none '[]'
bench ignores_flags '[]' 'rm -f "$out"'
bench broken '[{"name": "BM_B", "run_type": "iteration", "error_occurred": true, "error_message": "devsim did not start"}]'
bench exits_1 "$ok" 'exit 1'
bench leaves_files "$ok" 'mkdir -p "$TMPDIR/kelvara-x-1" && touch "$TMPDIR/kelvara-x-1/big.mp3"'

set +e
out=$(bash "$runner" "$work/build" 2>&1)
status=$?
set -e
fail=0
check() {  # <description> <extended regex the output must match>
  grep -Eq "$2" <<<"$out" || { echo "FAIL: $1"; fail=1; }
}
[ $status -ne 0 ] || { echo "FAIL: the run passed with failing benchmarks"; fail=1; }
failed=$(grep '^benchmarks that failed:' <<<"$out" || true)
for name in none ignores_flags broken exits_1 leaves_files; do
  grep -qw "$name" <<<"$failed" || { echo "FAIL: $name not among the failed: $failed"; fail=1; }
done
for name in good slow lan_only; do
  grep -qw "$name" <<<"$failed" && { echo "FAIL: $name failed: $failed"; fail=1; }
done
check "skip listed" '^benchmarks skipped .*lan_only'
check "skip's reason shown" 'lan_only: exit 0, ran 0, skipped 1 \(no root\)'
check "failure's reason shown" 'broken: exit 0, ran 0, failed 1: BM_B: devsim did not start'
check "leftover named" 'leaves_files left in its temporary folder: kelvara-x-1'
check "ratio row" '^good +good_over_ref +1 +0\.800 +0\.800 +0\.800 +<=1\.0 +yes$'
check "ratio row missing its goal" '^slow +slow_over_ref +1 .* NO$'
check "measured row" '^good +good_ms +1 +12\.5 +12\.5 +12\.5 +ms +<=20 +yes$'
check "ratios and measured figures in tables of their own" '== measured figures'
cases_table=$(sed -n '/== every case of every benchmark/,$p' <<<"$out")
for name in good slow exits_1 leaves_files; do
  grep -Eq "^$name +BM_A " <<<"$cases_table" || { echo "FAIL: $name not in the table of every case"; fail=1; }
done
grep -E '^good +good_ms' <<<"$(sed -n '/== ratios/,/^$/p' <<<"$out")" && { echo "FAIL: a measured figure in the ratio table"; fail=1; }
[ -z "$(ls -A "$work/build/bench" | grep -v -E '^(good|slow|lan_only|none|ignores_flags|broken|exits_1|leaves_files)$')" ] ||
  { echo "FAIL: files left beside the benchmarks"; fail=1; }
[ $fail -eq 0 ] && echo "benchmark runner: all cases pass"
exit $fail
