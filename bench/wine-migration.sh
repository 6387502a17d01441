#!/usr/bin/env bash
# The Windows migration program where users wait for it, at logon: its whole
# run under Wine (a req.dat to re-bind, the previous generation's folders and
# keys, the hidden cmd.exe children that remove them) against an empty
# static program started the same way, in turns, in one fresh prefix.
#
#   bench/wine-migration.sh WIN64_BUILD_DIR [ROUNDS]      (default 15 rounds)
#
# Exit code: 0 measured, 1 a run failed, 77 no Wine here.
# VELK_WINE_BENCH_SECONDS bounds the whole run (default 600).
set -u -o pipefail
build=$(cd "${1:?usage: wine-migration.sh WIN64_BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-15}
for f in velk-access-migration.exe velk-reqdat.exe velk-bench-pairs.exe velk-bench-empty.exe; do
  [ -f "$build/bin/$f" ] || { echo "wine benchmark: SKIPPED: no $f in $build/bin"; exit 77; }
done
if ! command -v wine >/dev/null || { [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null; }; then
  echo "wine benchmark: SKIPPED: no 64-bit Wine"
  exit 77
fi

root=$(mktemp -d /tmp/velk-wine-XXXXXX)
export WINEPREFIX=$root/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null; rm -rf "$root"' EXIT
limit=${VELK_WINE_BENCH_SECONDS:-600}
deadline=$(( $(date +%s) + limit ))
left() { local s=$(( deadline - $(date +%s) )); [ $s -gt 0 ] && echo $s || echo 1; }

mkdir -p "$root/bin"
cp "$build"/bin/{velk-access-migration,velk-reqdat,velk-bench-pairs,velk-bench-empty}.exe "$root/bin/"
timeout "$(left)" wine wineboot -i >"$root/wineboot.log" 2>&1 || { echo "wine benchmark: wineboot failed"; exit 1; }
local_win=$(timeout "$(left)" wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
local_unix=$(winepath -u "$local_win" 2>/dev/null)
[ -n "$local_unix" ] || { echo "wine benchmark: no local application data folder in the prefix"; exit 1; }
mkdir -p "$local_unix/TESSMAR/velk/velk-access"
bin_win=$(winepath -w "$root/bin")
# The key file as the previous version left it: bound to the product ID.
timeout "$(left)" wine "$root/bin/velk-reqdat.exe" encrypt "$bin_win\\req.dat.old" \
  --value VK-2F9A-77C1-BENCH --key machine-old >"$root/reqdat.log" 2>&1
[ -s "$root/bin/req.dat.old" ] || { echo "wine benchmark: velk-reqdat.exe wrote no req.dat"; cat "$root/reqdat.log"; exit 1; }

rc=0
timeout "$(left)" wine "$root/bin/velk-bench-pairs.exe" "$rounds" "$bin_win\\velk-access-migration.exe" \
  "$bin_win\\velk-bench-empty.exe" "$bin_win\\req.dat.old" 2>&1 | tr -d '\r' | tee "$root/pairs.log" || rc=1
ratio=$(sed -n 's/^ratio program\/empty \([0-9.]*\);.*/\1/p' "$root/pairs.log")
floor=$(sed -n 's/^ratio .* floor (empty with 4 cmd.exe)\/empty \([0-9.]*\)$/\1/p' "$root/pairs.log")
if [ -z "$ratio" ] || [ -z "$floor" ]; then
  echo "wine benchmark: no ratio (timed out after $limit s or a run failed)"
  exit 1
fi
# The floor is what no run can go below: its own start and the four hidden
# cmd.exe it must start; half of it again is left for the run's own work.
goal=$(awk -v f="$floor" 'BEGIN { printf "%.2f", f * 1.5 }')
echo "velk-access-migration.exe whole run / empty program under Wine: $ratio" \
  "(goal: at most $goal, 1.5 times the floor $floor of an empty program starting 4 hidden cmd.exe)"
exit $rc
