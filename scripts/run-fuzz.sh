#!/usr/bin/env bash
# Runs every fuzz target built under <build>/bin for the given number of seconds each.
set -uo pipefail
dir=${1:-build-fuzz}
seconds=${2:-60}
status=0
for f in "$dir"/bin/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$dir/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds="$(dirname "$0")/../fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] || seeds=""
  echo "== $name for ${seconds}s"
  "$f" -max_total_time="$seconds" -print_final_stats=1 "$corpus" $seeds || status=1
done
exit $status
