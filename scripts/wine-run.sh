#!/usr/bin/env bash
# Runs a program of the win64 build under Wine, headless: the cross-compiling
# emulator of that build and the runner of its tests.
#   scripts/wine-run.sh [--x11] WINE PREFIX PROGRAM [ARGS...]
# The Wine prefix is made on first use, under a lock because ctest starts
# several programs at once: `wineboot -i`, then Wine's null graphics driver so
# that windows (message boxes) exist without a display. With --x11 the prefix
# keeps Wine's X11 driver and the program shows its windows in a Wine desktop
# on $DISPLAY (a virtual display such as xvfb-run's); Wine's server for the prefix is ended
# after the program, since the display goes with it. Exit status 125 means
# Wine itself cannot start; the program's own status is passed on otherwise.
# Output lines lose the carriage returns of Windows text mode, line by line, so
# that what a program printed survives its being killed at a time-out.
set -uo pipefail
x11=0
if [ "${1:-}" = --x11 ]; then
  x11=1
  shift
fi
wine=$1
prefix=$(realpath -m "$2")
shift 2
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installers (nothing here needs them), and no debugger that
# would wait on a crashed program: it ends with its exception code.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
[ "$x11" = 1 ] || export DISPLAY=

fail() {
  echo "wine-run: Wine cannot start: $*" >&2
  exit 125
}

[ -x "$wine" ] || fail "$wine is missing"
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver) || fail "no wineserver"

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.sonavel-ready" ]; then
  rm -rf "$prefix"
  "$wine" wineboot -i >"$prefix.log" 2>&1 || fail "wineboot -i failed (see $prefix.log)"
  if [ "$x11" = 0 ]; then
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$prefix.log" 2>&1 ||
      fail "the graphics driver cannot be set (see $prefix.log)"
  else
    # One virtual desktop as large as the display, with Wine's own taskbar and
    # notification area, as on Windows (without one, Wine's notification area
    # waits on a system tray that a bare X server lacks).
    { "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f &&
      "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${SONAVEL_WINE_DESKTOP:-1024x768}" /f
    } >>"$prefix.log" 2>&1 || fail "the virtual desktop cannot be set (see $prefix.log)"
  fi
  # The desktop process started by wineboot keeps the driver it had; the next
  # program starts a fresh server that reads the setting.
  "$wineserver" -k >/dev/null 2>&1
  "$wineserver" -w >/dev/null 2>&1
  touch "$prefix/.sonavel-ready"
fi
flock -u 9
exec 9>&-

if [ "$x11" = 0 ]; then
  "$wine" "$@" | sed -u 's/\r$//'
  exit "${PIPESTATUS[0]}"
fi
"$wine" "$@" | sed -u 's/\r$//'
status=${PIPESTATUS[0]}
"$wineserver" -k >/dev/null 2>&1
exit "$status"
