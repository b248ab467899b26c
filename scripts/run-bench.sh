#!/usr/bin/env bash
# Runs every benchmark program built under <build>/bench; each prints its own figures and ratios.
set -uo pipefail
dir=${1:-build-bench}
status=0
for b in "$dir"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
