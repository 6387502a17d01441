#!/usr/bin/env bash
# All the tests: host build and tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows cross build run under Wine, the
# fuzz targets for a bounded time, and the benchmarks against their peers.
set -eu
cd "$(dirname "$0")/../.."
jobs=${VELK_JOBS:-2}
failed=()
skipped=()
steps=0

step() { steps=$((steps + 1)); printf '\n==== %s\n' "$*"; }
# run_step NAME COMMAND...: exit code 77 means the step could not run here.
run_step() {
  local name=$1 rc=0
  shift
  "$@" || rc=$?
  case $rc in
    0) ;;
    77) skipped+=("$name") ;;
    *) failed+=("$name") ;;
  esac
}

bash tools/ci/deps.sh all

# Compiles are cached across runs and clones (paths relative to the tree).
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
run_start=$(date +%s)

step "host build and tests"
cmake --preset host >/dev/null
cmake --build build/host -j"$jobs"
(cd build/host && ctest --output-on-failure -j"$jobs") || failed+=(host)

step "sanitizer build and tests"
cmake --preset sanitize >/dev/null
cmake --build build/sanitize -j"$jobs"
(cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs") || failed+=(sanitize)

# Each target's libcrypto is built from Debian's openssl source on the
# first configure and taken from the cache after that.
step "Windows cross build"
for target in win64 win32; do
  start=$(date +%s)
  { cmake --preset "$target" >/dev/null && cmake --build "build/$target" -j"$jobs" \
    && bash tools/ci/check-imports.sh "build/$target"; } || failed+=("$target")
  # The version resource of each shipped binary, read back.
  (cd "build/$target" && ctest --output-on-failure) || failed+=("$target version")
  printf '%s: %d s; ' "$target" $(( $(date +%s) - start ))
  ls -l "build/$target/bin/"*.dll "build/$target/bin/"velk-*.exe 2>/dev/null | awk '{printf "%s %d bytes; ", $NF, $5}'
  echo
done

# No path of this machine in a shipped binary; a libcrypto given by path
# or root is the one linked.
run_step build-paths bash tools/ci/check-build-paths.sh build/win64 build/win32
run_step openssl-given bash tools/ci/check-openssl-given.sh build/win64

step "reference package"
run_step package bash packaging/wix/validate.sh build/win64

# Two builds of the commit in different folders must agree (the second
# compiles without the cache).
step "reproducible Windows build"
run_step reproducible bash tools/release/reproducible.sh HEAD win64

# A throwaway certificate signs copies; the signatures verify and the
# signed binaries still run under Wine.
step "signing"
run_step signing bash tools/ci/signing.sh build/win64

step "Wine end to end"
run_step wine bash packaging/wine/e2e.sh build/win64

if [ -x tests/fuzz/run.sh ]; then
  step "fuzzing"
  bash tests/fuzz/run.sh "${VELK_FUZZ_SECONDS:-40}" || failed+=(fuzz)
fi

step "benchmarks"
# CI measures the tree removal on a tenth of the full tree (10 000 files);
# set VELK_BENCH_FILES_PER_FOLDER=500 for the full 100 000.
export VELK_BENCH_FILES_PER_FOLDER=${VELK_BENCH_FILES_PER_FOLDER:-50}
for b in build/host/bin/bench_*; do
  [ -x "$b" ] || continue
  "$b" --benchmark_min_time=0.2 || failed+=("$(basename "$b")")
done
# The Windows program under Wine against an empty program, in its own prefix.
run_step wine-bench bash bench/wine-migration.sh build/win64

if [ ${#failed[@]} -gt 0 ]; then
  printf '\nFailed steps: %s\n' "${failed[*]}"
fi
if [ ${#skipped[@]} -gt 0 ]; then
  printf '\nSkipped steps (could not run here): %s\n' "${skipped[*]}"
fi
printf '\nwhole run: %d s\n' $(( $(date +%s) - run_start ))
printf '\nsteps: %d passed, %d failed, %d skipped\n' $((steps - ${#failed[@]} - ${#skipped[@]})) ${#failed[@]} ${#skipped[@]}
[ ${#failed[@]} -eq 0 ]
