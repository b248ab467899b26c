#!/usr/bin/env bash
# Runs the main program headless on a home directory under the build tree. On the first run
# the home's registry gets unprivileged ports (the defaults 115/26/144 need root); change
# them with ORVANTA_RUN_PORTS=POP3,SMTP,IMAP. The program logs the ports it listens on.
set -euo pipefail
build=${1:-build}
bin="$build/bin/orvanta"
if [ ! -x "$bin" ]; then
  echo "The main program is not built yet; the libraries and their tests are (make test)."
  exit 0
fi
home="$(cd "$build" && pwd)/home"
mkdir -p "$home"
export ORVANTA_REGISTRY=${ORVANTA_REGISTRY:-$home/registry.db}
export ORVANTA_HOME="$home"
args=(--headless --home "$home")
if [ ! -s "$ORVANTA_REGISTRY" ] || [ -n "${ORVANTA_RUN_PORTS:-}" ]; then
  ports=${ORVANTA_RUN_PORTS:-11110,11025,11143}
  args+=(--ports "$ports")
fi
echo "Orvanta home: $home (registry $ORVANTA_REGISTRY); Ctrl-C ends it."
echo "Try: curl pop3://127.0.0.1:<POP3 port>/ -u 'user#server#110:password'"
echo "     swaks --server 127.0.0.1 --port <SMTP port> --from <an account's address> --to <someone>"
exec "$bin" "${args[@]}"
