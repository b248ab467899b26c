#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/deps.txt that are not installed yet.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=()
while read -r pkg; do
  pkg=${pkg%%#*}; pkg=$(echo "$pkg" | xargs)
  [ -n "$pkg" ] || continue
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    # npm may come with nodejs from elsewhere; accept a working command too.
    if [ "$pkg" = npm ] && command -v npm >/dev/null; then continue; fi
    if [ "$pkg" = nodejs ] && command -v node >/dev/null; then continue; fi
    missing+=("$pkg")
  fi
done < "$here/deps.txt"
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
