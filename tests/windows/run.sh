#!/usr/bin/env bash
# Runs the logic's Windows test programs (target windows-tests) under Wine,
# one after another in one fresh prefix, each bounded in time; prints how
# many tests ran of the host's, and the sources left to the host with why.
#
#   tests/windows/run.sh WINDOWS_BUILD_DIR [HOST_BUILD_DIR]
#
# Exit code: 0 all passed, 1 a failure, 77 the programs cannot run here (no
# Wine, or a 32-bit build where Wine or the kernel runs no x86 programs).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run.sh WINDOWS_BUILD_DIR [HOST_BUILD_DIR]}
host_build=${2:-}
bin="$build/tests-bin"
name=$(basename "$build")

programs=("$bin"/test_*.exe)
if [ ! -f "${programs[0]}" ]; then
  echo "windows tests ($name): no test programs in $bin (build the target windows-tests)"
  exit 1
fi
if ! command -v wine >/dev/null; then
  echo "windows tests ($name): SKIPPED: wine is not installed"
  exit 77
fi
x86=no
# The cache keeps no pointer size; the i686 tools name the 32-bit build.
grep -q '^CMAKE_AR:FILEPATH=.*i686-w64-mingw32-' "$build/CMakeCache.txt" 2>/dev/null && x86=yes
if [ "$x86" = yes ]; then
  if ! reason=$(bash "$here/../../tools/ci/i386-probe.sh"); then
    echo "windows tests ($name): SKIPPED: $reason"
    exit 77
  fi
  if [ ! -x /usr/lib/wine/wine ]; then
    echo "windows tests ($name): SKIPPED: no 32-bit Wine loader (Debian's wine32)"
    exit 77
  fi
fi

root=$(mktemp -d /tmp/velk-wine-tests-XXXXXX)
export WORK="$root"
# shellcheck source=packaging/wine/lib.sh
. "$here/../../packaging/wine/lib.sh"
# A whole program may take longer than one Wine command of a case.
WINE_TIMEOUT=${VELK_WINE_TEST_TIMEOUT:-600}
# The thread's ANSI code page is 1252, the host machines' default.
unset LC_ALL
export LANG=en_US.UTF-8
wine_new_prefix || {
  echo "windows tests ($name): Wine did not make a prefix (see $root/wineboot.log)"
  exit 1
}

status=0
ran=0
declare -A ran_in
for program in "${programs[@]}"; do
  test_name=$(basename "$program" .exe)
  out="$root/$test_name.out"
  start=$(date +%s)
  rc=0
  # Each program from its own folder, as the host runs them.
  (cd "$bin" && wine_run "$(basename "$program")" --gtest_brief=1) >"$out" 2>&1 || rc=$?
  tr -d '\r' <"$out" >"$out.txt" && mv "$out.txt" "$out"
  count=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$out" | tail -n 1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$out" | tail -n 1)
  ran=$((ran + ${count:-0}))
  ran_in[$test_name]=${count:-0}
  printf '%s.exe: %s tests, %s skipped, exit code %d (%d s)\n' "$test_name" "${count:-no}" "${skipped:-0}" "$rc" \
    $(($(date +%s) - start))
  if [ "$rc" -ne 0 ] || [ -z "$count" ]; then
    status=1
    grep -E '^\[  FAILED  \]|Failure$|^Expected|^  Actual|Which is|^timeout' "$out" | head -n 60
    echo "  (whole output: $out)"
  fi
done
timeout "$WINE_TIMEOUT" wineserver -k 2>/dev/null

# Of the host's tests of the same folders (their programs list them).
total=0
for folder in platform Tovrin libvelkras2 migration; do
  # The module is 64-bit only: a 32-bit build has no Tovrin logic to test.
  if [ "$x86" = yes ] && [ "$folder" = Tovrin ]; then continue; fi
  host_program="$host_build/bin/test_$folder"
  if [ -z "$host_build" ] || [ ! -x "$host_program" ]; then continue; fi
  host_count=$("$host_program" --gtest_list_tests 2>/dev/null | grep -c '^  ')
  total=$((total + host_count))
  printf '  test_%s: %d of the host'"'"'s %d\n' "$folder" "${ran_in[test_$folder]:-0}" "$host_count"
done
if [ "$total" -gt 0 ]; then
  echo "windows tests ($name): $ran tests ran under Wine of the host's $total in the same folders"
else
  echo "windows tests ($name): $ran tests ran under Wine (no host build to count the host's)"
fi
if [ -s "$bin/host-only.txt" ]; then
  echo "host only, by rule (tests/windows/CMakeLists.txt):"
  awk -F '\t' '{ files[$2] = files[$2] " " $1 } END { for (r in files) printf "  %s:%s\n", r, files[r] }' \
    "$bin/host-only.txt" | sort
fi
[ "$status" -eq 0 ] && rm -rf "$root"
exit "$status"
