#!/usr/bin/env bash
# The GPU check: builds the CUDA helper module (sonavel_cuda.so) and what uses
# it, runs the GPU tests and the GPU benchmark, and prints one summary.
#
#   scripts/gpu-check.sh             build (preset default, CUDA on), test, benchmark
#   scripts/gpu-check.sh --no-build  use what build/ already holds (a machine
#                                    without the build tools, given a copy)
#
# Needs the CUDA toolkit to build (nvcc on PATH or in /usr/local/cuda/bin) and
# a CUDA device to test. Without a device everything still builds and runs,
# the GPU tests say that they skip, and the check ends with status 2. Status 0:
# a device was found and every test passed; 1: something failed.
set -uo pipefail
cd "$(dirname "$0")/.."

build=1
[ "${1:-}" = "--no-build" ] && build=0
bin=build/bin
log=$(mktemp -d "${TMPDIR:-/tmp}/sonavel-gpu-check.XXXXXX")
trap 'rm -rf "$log"' EXIT
failed=()

if ((build)); then
  nvcc=$(command -v nvcc || true)
  [ -z "$nvcc" ] && [ -x /usr/local/cuda/bin/nvcc ] && nvcc=/usr/local/cuda/bin/nvcc
  if [ -z "$nvcc" ]; then
    echo "gpu-check: the CUDA toolkit (nvcc) is not installed here; nothing to check" >&2
    exit 1
  fi
  scripts/install-deps.sh || exit 1
  cmake --preset default -DSONAVEL_CUDA=ON -DSONAVEL_NVCC="$nvcc" >/dev/null || exit 1
  # The helper alone first, timed from scratch: its nvcc run is what CUDA adds to a build.
  rm -f "$bin/sonavel_cuda.so"
  start=$(date +%s.%N)
  cmake --build --preset default --target sonavel_cuda >"$log/build-helper.txt" 2>&1 || {
    cat "$log/build-helper.txt"
    exit 1
  }
  helper_seconds=$(echo "$(date +%s.%N) - $start" | bc)
  cmake --build --preset default --target out_sonavel out_wave sonavel-play test_slaves test_gpu_convolver \
    test_play_gpu test_host_gpu_fallback test_host_alloc test_headphones_render sonavel_bench || exit 1
fi
for f in sonavel_cuda.so out_sonavel.so fake_cuda_helper.so test_gpu_convolver sonavel_bench; do
  [ -e "$bin/$f" ] || { echo "gpu-check: $bin/$f is missing" >&2; exit 1; }
done
if ldd "$bin/out_sonavel.so" | grep -Eq 'libcuda|libcudart|libcufft'; then
  failed+=("out_sonavel.so links a CUDA library")
fi

echo "== GPU tests =="
tests=(test_gpu_convolver test_play_gpu test_host_gpu_fallback test_host_alloc test_headphones_render)
for t in "${tests[@]}"; do
  "$bin/$t" --gtest_color=no >"$log/$t.txt" 2>&1
  rc=$?
  grep -E '^\[ +(OK|SKIPPED|FAILED) +\] [A-Za-z].*\([0-9]+ ms\)$' "$log/$t.txt" || true
  ((rc == 0)) || failed+=("$t")
done
probe=$(sed -n 's/^GPU probe: //p' "$log/test_gpu_convolver.txt" | head -1)

echo "== GPU benchmark =="
"$bin/sonavel_bench" --benchmark_filter='HeadphoneConvolveBlock|GpuConvolveBlock|HeadphoneStream6ch48k' \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_counters_tabular=true \
  --benchmark_color=false 2>&1 | tee "$log/bench.txt"

# One figure from the benchmark's console table: the column `col` (1-based
# after the name) of the row named `row`.
figure() { awk -v r="$1" -v c="$2" '$1 == r { print $(c + 1), $(c + 2); exit }' "$log/bench.txt"; }
counter() { awk -v r="$1" -v n="$2" '
  $1 == "Benchmark" { for (i = 1; i <= NF; ++i) col[$i] = i }
  $1 == r && (n in col) { v = $(col[n] + 2); sub(/\/s$/, "x", v); print v; exit }' "$log/bench.txt"; }

echo
echo "== GPU check summary =="
[ -n "$probe" ] || probe="unknown: the probe printed nothing"
echo "device:        $probe"
command -v nvidia-smi >/dev/null && echo "nvidia-smi:    $(nvidia-smi -L 2>/dev/null | head -1)"
[ -n "${helper_seconds:-}" ] && printf 'helper build:  sonavel_cuda.so from scratch in %.1f s\n' "$helper_seconds"
skipped=0
for t in "${tests[@]}"; do
  p=$(grep -c '^\[       OK \]' "$log/$t.txt")
  s=$(grep -c '^\[  SKIPPED \] [A-Za-z].*(' "$log/$t.txt")
  f=$(grep -c '^\[  FAILED  \] [A-Za-z].*(' "$log/$t.txt")
  skipped=$((skipped + s))
  printf '%-24s %3d passed, %3d skipped, %3d failed\n' "$t:" "$p" "$s" "$f"
done
echo "per 8192-frame block (median of 5):"
echo "  CPU convolver             $(figure BM_HeadphoneConvolveBlock_median 1)"
echo "  GPU convolver             $(figure BM_GpuConvolveBlock/real_time_median 1)"
echo "    upload $(counter BM_GpuConvolveBlockStages/real_time_median upload_us) us, forward $(counter BM_GpuConvolveBlockStages/real_time_median forward_us) us," \
  "products $(counter BM_GpuConvolveBlockStages/real_time_median products_us) us, inverse $(counter BM_GpuConvolveBlockStages/real_time_median inverse_us) us," \
  "download $(counter BM_GpuConvolveBlockStages/real_time_median download_us) us"
echo "6-channel 48 kHz stream, realtime factor (median of 5):"
echo "  CPU, x87 back end         $(counter BM_HeadphoneStream6ch48k/sse2:0_median realtime)"
echo "  CPU, SSE2 back end        $(counter BM_HeadphoneStream6ch48k/sse2:1_median realtime)"
echo "  GPU                       $(counter BM_HeadphoneStream6ch48kGpu/real_time_median realtime)"

if ((${#failed[@]})); then
  echo "result:        FAILED (${failed[*]})"
  exit 1
fi
if [[ "$probe" == "no GPU"* ]] || ((skipped > 0)); then
  echo "result:        NO GPU: the tests that need a CUDA device skipped ($skipped)"
  exit 2
fi
echo "result:        PASSED on the GPU"
