#!/usr/bin/env bash
# Sets up, builds and runs every test: the default build, then the test suite
# under AddressSanitizer with UndefinedBehaviorSanitizer, then the threaded
# tests under ThreadSanitizer, and last the fuzz targets for a bounded time.
# GPU tests say so when they are skipped.
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
echo "== fuzz =="
scripts/fuzz.sh "${SONAVEL_FUZZ_SECONDS:-60}"
