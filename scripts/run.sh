#!/usr/bin/env bash
# Runs the main program headless on a home directory under the build tree.
set -euo pipefail
build=${1:-build}
bin="$build/bin/orvanta"
if [ ! -x "$bin" ]; then
  echo "The main program is not built yet; the libraries and their tests are (make test)."
  exit 0
fi
home="$build/home"
mkdir -p "$home"
export ORVANTA_REGISTRY=${ORVANTA_REGISTRY:-$home/registry.db}
exec "$bin" --headless --home "$home"
