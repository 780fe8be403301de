#!/usr/bin/env bash
# Sets up, builds and runs every test: the default build, then the test suite
# under AddressSanitizer with UndefinedBehaviorSanitizer, then the threaded
# tests under ThreadSanitizer; then the Windows builds: win32 (the shipped
# out_sonavel.dll, checked and packed into its zip) and win64, whose tests run
# under Wine; and last the fuzz targets for a bounded time. GPU tests say so
# when they are skipped, and so do the Wine tests if Wine cannot start at all.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
for preset in default asan tsan; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

echo "== win32 =="
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
ctest --preset win32
cmake --build --preset win32 --target release-zip

echo "== win64 =="
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs"
wine=$(sed -n 's/^SONAVEL_WINE:FILEPATH=//p' build-win64/CMakeCache.txt)
prefix=$PWD/build-win64/wineprefix
# Fresh Wine prefixes for every run (the headless one and the settings
# window tests' one), each made by the first program that runs in it.
rm -rf "$prefix" "$prefix.lock" "$prefix.log" "$prefix-ui" "$prefix-ui.lock" "$prefix-ui.log"
if [ -n "$wine" ] && [ -x "$wine" ] && scripts/wine-run.sh "$wine" "$prefix" cmd /c exit 0; then
  trap 'WINEPREFIX="$prefix" "$(dirname "$wine")/wineserver" -k >/dev/null 2>&1 || true' EXIT
  ctest --preset win64 -j"$jobs"
else
  echo "******************************************************************"
  echo "*** SKIPPED: the Windows tests, because Wine cannot start here ***"
  echo "*** (wine64: ${wine:-not found}; see $prefix.log)"
  echo "******************************************************************"
fi

echo "== fuzz =="
scripts/fuzz.sh "${SONAVEL_FUZZ_SECONDS:-60}"
