#!/usr/bin/env bash
# All the tests: host build and tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows cross build run under Wine, the
# fuzz targets for a bounded time, and the benchmarks against their peers.
set -eu
cd "$(dirname "$0")/../.."
jobs=${VELK_JOBS:-2}
failed=()
steps=0

step() { steps=$((steps + 1)); printf '\n==== %s\n' "$*"; }

bash tools/ci/deps.sh all

step "host build and tests"
cmake --preset host >/dev/null
cmake --build build/host -j"$jobs"
(cd build/host && ctest --output-on-failure -j"$jobs") || failed+=(host)

step "sanitizer build and tests"
cmake --preset sanitize >/dev/null
cmake --build build/sanitize -j"$jobs"
(cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs") || failed+=(sanitize)

step "Windows cross build"
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$jobs" || failed+=(win64)
cmake --preset win32 >/dev/null
cmake --build build/win32 -j"$jobs" || failed+=(win32)

step "Wine end to end"
# The capture case runs the host half of its comparison with the host build.
VELK_HOST_BUILD="$PWD/build/host" bash packaging/wine/e2e.sh build/win64 || failed+=(wine)

if [ -x tests/fuzz/run.sh ]; then
  step "fuzzing"
  bash tests/fuzz/run.sh "${VELK_FUZZ_SECONDS:-60}" || failed+=(fuzz)
fi

step "benchmarks"
# CI measures the tree removal on a tenth of the full tree (10 000 files);
# set VELK_BENCH_FILES_PER_FOLDER=500 for the full 100 000.
export VELK_BENCH_FILES_PER_FOLDER=${VELK_BENCH_FILES_PER_FOLDER:-50}
for b in build/host/bin/bench_*; do
  [ -x "$b" ] || continue
  "$b" --benchmark_min_time=0.2 || failed+=("$(basename "$b")")
done

if [ ${#failed[@]} -gt 0 ]; then
  printf '\nFailed steps: %s\n' "${failed[*]}"
fi
printf '\nsteps: %d passed, %d failed\n' $((steps - ${#failed[@]})) ${#failed[@]}
[ ${#failed[@]} -eq 0 ]
