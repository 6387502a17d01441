#!/usr/bin/env bash
# All the tests: host build and tests, the lint gate, line coverage of the
# logic, the host tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows cross build run under Wine, the
# fuzz targets for a bounded time, and the benchmarks against their peers.
# The logic's tests also run as Windows programs under Wine.
set -eu
cd "$(dirname "$0")/../.."
jobs=${VELK_JOBS:-2}
# shellcheck source=tools/ci/steps.sh
. tools/ci/steps.sh

bash tools/ci/deps.sh all

# Compiles are cached across runs and clones (paths relative to the tree).
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
run_start=$(date +%s)

step "host build and tests"
# A build that fails is a failed check, so the summary still prints.
{ cmake --preset host >/dev/null && cmake --build build/host -j"$jobs" \
  && (cd build/host && ctest --output-on-failure -j"$jobs"); } || fail_check host

# Formatting, scripts, and clang-tidy over the logic with the host build's
# compile database.
step "lint"
for check in format shell tidy; do
  run_step "lint-$check" bash tools/ci/lint.sh "$check"
done

# Line coverage of the logic by the host tests, in a build of its own.
step "coverage"
run_step coverage bash tools/ci/coverage.sh

step "sanitizer build and tests"
{ cmake --preset sanitize >/dev/null && cmake --build build/sanitize -j"$jobs" \
  && (cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs"); } || fail_check sanitize

# Each target's libcrypto is built from Debian's openssl source on the
# first configure and taken from the cache after that.
step "Windows cross build"
for target in win64 win32; do
  start=$(date +%s)
  { cmake --preset "$target" >/dev/null && cmake --build "build/$target" -j"$jobs" \
    && bash tools/ci/check-imports.sh "build/$target"; } || fail_check "$target"
  # The version resource of each shipped binary, read back.
  (cd "build/$target" && ctest --output-on-failure) || fail_check "$target version"
  printf '%s: %d s; ' "$target" $(( $(date +%s) - start ))
  for f in "build/$target/bin/"*.dll "build/$target/bin/"velk-*.exe; do
    if [ -f "$f" ]; then printf '%s %d bytes; ' "$f" "$(stat -c %s "$f")"; fi
  done
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

# The logic's own tests built for Windows (x86: what the program links),
# each build's programs in a fresh prefix; x86 is skipped with the reason
# where the kernel or Wine runs no 32-bit programs.
step "logic tests under Wine"
for target in win64 win32; do
  start=$(date +%s)
  if cmake --build "build/$target" -j"$jobs" --target windows-tests >/dev/null; then
    run_step "wine-tests-$target" bash tests/windows/run.sh "build/$target" build/host
  else
    fail_check "wine-tests-$target build"
  fi
  printf '%s tests under Wine: %d s\n' "$target" $(( $(date +%s) - start ))
done

if [ -x tests/fuzz/run.sh ]; then
  step "fuzzing"
  bash tests/fuzz/run.sh "${VELK_FUZZ_SECONDS:-40}" || fail_check fuzz
fi

step "benchmarks"
# CI measures the tree removal on a tenth of the full tree (10 000 files);
# set VELK_BENCH_FILES_PER_FOLDER=500 for the full 100 000.
export VELK_BENCH_FILES_PER_FOLDER=${VELK_BENCH_FILES_PER_FOLDER:-50}
for b in build/host/bin/bench_*; do
  [ -x "$b" ] || continue
  "$b" --benchmark_min_time=0.2 || fail_check "$(basename "$b")"
done
# The Windows program under Wine against an empty program, in its own prefix.
run_step wine-bench bash bench/wine-migration.sh build/win64

printf '\nwhole run: %d s\n' $(( $(date +%s) - run_start ))
summary
