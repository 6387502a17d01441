#!/bin/sh
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for a bounded time.
#   run.sh [SECONDS]   seconds per target (default: VELK_FUZZ_SECONDS, else 60)
#   VELK_FUZZ_BUILD    build folder (default build/fuzz)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELK_FUZZ_BUILD:-$root/build/fuzz}
seconds=${1:-${VELK_FUZZ_SECONDS:-60}}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELK_FUZZ=ON -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_ini_reader fuzz_smbios fuzz_inf_file fuzz_profile_text \
  fuzz_action_parameters fuzz_reg_file fuzz_key_file fuzz_msilog fuzz_machine_path

status=0
for pair in fuzz_ini_reader:ini fuzz_smbios:smbios fuzz_inf_file:inf fuzz_profile_text:profile \
    fuzz_action_parameters:parameters fuzz_reg_file:reg fuzz_key_file:keyfile fuzz_msilog:msilog \
    fuzz_machine_path:machinepath; do
  target=${pair%%:*}
  seeds=$root/tests/fuzz/seeds/${pair##*:}
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  echo "== $target: $seconds s"
  # The fuzzer's progress goes to a log; the final statistics are shown.
  if ! "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/$target-" -print_final_stats=1 "$corpus" "$seeds" >"$build/$target.log" 2>&1; then
    tail -n 40 "$build/$target.log"
    echo "== $target FAILED (crash input in $build/$target-*; log $build/$target.log)"
    status=1
  else
    grep -E '^(stat::|Done )' "$build/$target.log" || true
  fi
done
exit $status
