#!/usr/bin/env bash
# Renders each tab of the settings window, the about box and a screen with the
# notification icon and a balloon to PNG files under build/ui-shots/, under
# Xvfb with trayer as the notification area.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ui-shots
out=${1:-build/ui-shots}
mkdir -p "$out"
xvfb-run -a -s "-screen 0 800x600x24 -noreset" bash -c '
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 --SetDockType false &
  tray=$!
  sleep 1
  status=0
  build/bin/ui-shots "$1" || status=$?
  kill $tray 2>/dev/null || true
  exit $status
' ui-shots "$out"
