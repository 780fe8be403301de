#!/usr/bin/env bash
# The main job: builds the module, the WAV slave and the player, makes a short
# stereo clip of our own and renders it through sonavel-play into a 5.1 WAV.
# Usage: scripts/demo.sh [mode] [output.wav]   (mode: bypass|passive|active|headphones|encoder)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target out_sonavel out_wave sonavel-play make-clip
mode=${1:-active}
out=${2:-build/demo-$mode.wav}
clip=build/demo-clip.wav
build/bin/make-clip "$clip"
build/bin/sonavel-play --registry build/demo.reg --mode "$mode" --out "$out" "$clip"
echo "wrote $out"
