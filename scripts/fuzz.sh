#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (preset `fuzz`) and runs each for a
# bounded time: the settings file reader and the player's side of the record.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target fuzz_settings fuzz_write null_slave
for target in fuzz_settings fuzz_write; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target, ${seconds}s"
  build-fuzz/bin/$target -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
    "$corpus" "fuzz/seeds/$target" 2>&1 |
    grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done' || true
  test "${PIPESTATUS[0]}" -eq 0
done
