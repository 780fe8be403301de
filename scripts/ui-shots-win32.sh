#!/usr/bin/env bash
# Renders each tab of the Windows settings window, the about box and a screen
# with the notification icon in Wine's taskbar to PNG files under
# build/ui-shots-win32/, through the x86-64 module under Wine on a virtual
# display (the win64 build; the shipped x86 module carries the same window).
# The screen's stream asks for a balloon, which Wine's taskbar does not draw.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target ui-shots-win32
wine=$(sed -n 's/^SONAVEL_WINE:FILEPATH=//p' build-win64/CMakeCache.txt)
out=${1:-build/ui-shots-win32}
rm -rf "$out"
mkdir -p "$out"
SONAVEL_WINE_DESKTOP=800x600 xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" \
  scripts/wine-run.sh --x11 "$wine" build-win64/wineprefix-shots build-win64/bin/ui-shots-win32.exe "$out"
for bmp in "$out"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png"
  rm "$bmp"
done
ls "$out"
