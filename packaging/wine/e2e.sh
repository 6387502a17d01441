#!/usr/bin/env bash
# Runs the Windows build under Wine: every case in cases/*.sh (or the ones
# named), each in a fresh prefix, one after another.
#
#   packaging/wine/e2e.sh WIN64_BUILD_DIR [CASE ...]
#
# The 32-bit programs come from VELK_WIN32_BUILD (default: a win32 folder
# beside the win64 one), the host tools from VELK_HOST_BUILD (default: a
# host folder beside it); cases skip what needs a build that is absent.
# Exit code: 0 all passed, 1 a failure, 77 nothing could run (no Wine).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: e2e.sh WIN64_BUILD_DIR [CASE ...]}
shift
build=$(cd "$build" && pwd)

if ! command -v wine >/dev/null || ! command -v wixl >/dev/null; then
  echo "wine e2e: SKIPPED: wine or wixl is not installed"
  exit 77
fi

root=$(mktemp -d /tmp/velk-wine-XXXXXX)
stage="$root/stage"
mkdir -p "$stage"
cp "$build"/bin/*.dll "$build"/bin/*.exe "$stage"/ 2>/dev/null
# The reference package installs the notices made beside the binaries.
cp "$build"/bin/THIRD-PARTY-NOTICES.txt "$stage"/ 2>/dev/null || true
win32_build=${VELK_WIN32_BUILD:-$build/../win32}
if [ -d "$win32_build/bin" ]; then
  mkdir -p "$stage/x86"
  cp "$win32_build"/bin/*.exe "$stage/x86"/ 2>/dev/null
fi
host_build=${VELK_HOST_BUILD:-$build/../host}
host_bin=""
[ -d "$host_build/bin" ] && host_bin=$(cd "$host_build/bin" && pwd)

# Wine cannot run at all on some machines (no 64-bit loader): then the
# cases are skipped. A Wine that runs but is slow to start a first prefix
# under load gets more tries, and never counts as a skip.
if [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null; then
  echo "wine e2e: SKIPPED: no 64-bit Wine loader on this machine"
  exit 77
fi
export WINEPREFIX="$root/probe"
started=no
for attempt in 1 2 3; do
  if timeout 240 wine cmd /c exit 0 >/dev/null 2>&1; then
    started=yes
    break
  fi
  wineserver -k 2>/dev/null
  echo "wine e2e: Wine did not start a program (try $attempt)"
done
wineserver -k 2>/dev/null
if [ "$started" != yes ]; then
  echo "wine: 0 passed, 1 failed"
  exit 1
fi

if [ $# -gt 0 ]; then
  cases=()
  for c in "$@"; do cases+=("$here/cases/$c.sh"); done
else
  cases=("$here"/cases/*.sh)
fi

passed=0
failed=0
skipped=0
for c in "${cases[@]}"; do
  name=$(basename "$c" .sh)
  work="$root/$name"
  mkdir -p "$work"
  echo "== wine case $name"
  start=$(date +%s)
  result=$(
    export STAGE="$stage" WORK="$work" CASE_DIR="$here/cases" HOST_BIN="$host_bin" BUILD="$build"
    # shellcheck source=packaging/wine/lib.sh
    . "$here/lib.sh"
    # shellcheck source=/dev/null # a case named at run time, linted on its own
    . "$c"
    trap display_stop EXIT
    case_main >&2
    msilog_all >&2
    wineserver -k 2>/dev/null
    display_stop
    echo "$CASE_PASSED $CASE_FAILED $CASE_SKIPPED"
  ) || result="0 1 0"
  read -r case_passed case_failed case_skipped <<<"$result"
  passed=$((passed + ${case_passed:-0}))
  failed=$((failed + ${case_failed:-1}))
  skipped=$((skipped + ${case_skipped:-0}))
  # A prefix takes some hundred megabytes: keep only those of failed cases.
  [ "${case_failed:-1}" -eq 0 ] && rm -rf "$work/prefix"
  echo "   ($(( $(date +%s) - start )) s; logs in $work)"
done
rm -rf "$root/probe"
echo "wine: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
