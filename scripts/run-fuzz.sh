#!/usr/bin/env bash
# Runs every fuzz target built under <build>/bin, one after the other, for the given number of
# seconds each, or until it has run <runs> inputs when that comes first (0: no such bound).
# Each target's log goes to <build>/fuzz-logs/<target>.log, its corpus grows in
# <build>/fuzz-corpus/<target>, and a crash input lands in <build>/fuzz-crashes/. A summary
# line per target (executions, seconds, coverage, findings) ends the output.
set -uo pipefail
dir=${1:-build-fuzz}
seconds=${2:-60}
runs=${3:-0}
only=${4:-}
status=0
summary=()
mkdir -p "$dir/fuzz-logs" "$dir/fuzz-crashes"
for f in "$dir"/bin/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  [ -z "$only" ] || [ "$only" = "$name" ] || continue
  corpus="$dir/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds="$(dirname "$0")/../fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] || seeds=""
  log="$dir/fuzz-logs/$name.log"
  if [ "$runs" -gt 0 ]; then echo "== $name for ${seconds}s or $runs runs"; else echo "== $name for ${seconds}s"; fi
  start=$(date +%s)
  bound=()
  [ "$runs" -gt 0 ] && bound=(-runs="$runs")
  "$f" -max_total_time="$seconds" "${bound[@]}" -print_final_stats=1 -artifact_prefix="$dir/fuzz-crashes/$name-" \
    "$corpus" $seeds >"$log" 2>&1
  rc=$?
  took=$(($(date +%s) - start))
  [ $rc -eq 0 ] || status=1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n1)
  findings=$(grep -c -E '^==[0-9]+==ERROR|runtime error:|deadly signal|Test unit written' "$log")
  tail -n 5 "$log"
  summary+=("$(printf '%-20s %10s execs %6ss  %-22s findings %s  exit %s' "$name" "${execs:-?}" "$took" "$cov" "$findings" "$rc")")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
