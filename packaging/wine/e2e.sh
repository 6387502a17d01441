#!/usr/bin/env bash
# Runs the Windows build under Wine: every case in cases/*.sh (or the ones
# named), each in a fresh prefix, one after another.
#
#   packaging/wine/e2e.sh WIN64_BUILD_DIR [CASE ...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: e2e.sh WIN64_BUILD_DIR [CASE ...]}
shift
build=$(cd "$build" && pwd)

if ! command -v wine >/dev/null || ! command -v wixl >/dev/null; then
  echo "wine e2e: SKIPPED: wine or wixl is not installed"
  exit 0
fi

root=$(mktemp -d /tmp/velk-wine-XXXXXX)
stage="$root/stage"
mkdir -p "$stage"
cp "$build"/bin/*.dll "$build"/bin/*.exe "$stage"/ 2>/dev/null

# Wine cannot run at all on some machines (no 64-bit loader): then the
# cases are skipped. A Wine that runs but is slow to start a first prefix
# under load gets more tries, and never counts as a skip.
if [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null; then
  echo "wine e2e: SKIPPED: no 64-bit Wine loader on this machine"
  exit 0
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
for c in "${cases[@]}"; do
  name=$(basename "$c" .sh)
  work="$root/$name"
  mkdir -p "$work"
  echo "== wine case $name"
  start=$(date +%s)
  result=$(
    export STAGE="$stage" WORK="$work" CASE_DIR="$here/cases"
    # shellcheck source=lib.sh
    . "$here/lib.sh"
    . "$c"
    case_main >&2
    wineserver -k 2>/dev/null
    echo "$CASE_PASSED $CASE_FAILED"
  ) || result="0 1"
  set -- $result
  passed=$((passed + ${1:-0}))
  failed=$((failed + ${2:-1}))
  # A prefix takes some hundred megabytes: keep only those of failed cases.
  [ "${2:-1}" -eq 0 ] && rm -rf "$work/prefix"
  echo "   ($(( $(date +%s) - start )) s; logs in $work)"
done
rm -rf "$root/probe"
echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
