#!/usr/bin/env bash
# Runs a program of the win64 build under Wine, headless: the cross-compiling
# emulator of that build and the runner of its tests.
#   scripts/wine-run.sh WINE PREFIX PROGRAM [ARGS...]
# The Wine prefix is made on first use, under a lock because ctest starts
# several programs at once: `wineboot -i`, then Wine's null graphics driver so
# that windows (message boxes) exist without a display. Exit status 125 means
# Wine itself cannot start; the program's own status is passed on otherwise.
# Output lines lose the carriage returns of Windows text mode, line by line, so
# that what a program printed survives its being killed at a time-out.
set -uo pipefail
wine=$1
prefix=$(realpath -m "$2")
shift 2
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installers (nothing here needs them), and no debugger that
# would wait on a crashed program: it ends with its exception code.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export DISPLAY=

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
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$prefix.log" 2>&1 ||
    fail "the graphics driver cannot be set (see $prefix.log)"
  # The desktop process started by wineboot keeps the driver it had; the next
  # program starts a fresh server that reads the setting.
  "$wineserver" -k >/dev/null 2>&1
  "$wineserver" -w >/dev/null 2>&1
  touch "$prefix/.sonavel-ready"
fi
flock -u 9
exec 9>&-

"$wine" "$@" | sed -u 's/\r$//'
