#!/usr/bin/env bash
# Pictures of the tray application's windows under Xvfb with the Korean font, at 96 and at
# 144 dpi: docs/screenshots/96/*.png and docs/screenshots/144/*.png.
set -euo pipefail
build=${1:-build}
out=${2:-docs/screenshots}
display=:$((150 + RANDOM % 50))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for i in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
for dpi in 96 144; do
  DISPLAY=$display QT_QPA_PLATFORM=xcb QT_FONT_DPI=$dpi "$build/bin/orvanta-screenshots" "$out/$dpi"
done
echo "screenshots in $out/96 and $out/144"
