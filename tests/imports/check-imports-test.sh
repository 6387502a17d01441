#!/usr/bin/env bash
# The import check refuses what it must: tiny Windows programs linked here
# import a function newer than the floor, an unlisted one, msi.dll by name
# instead of by ordinal, or only listed ones. Exit 77 (skipped) without the mingw compiler.
#   check-imports-test.sh SOURCE_DIR
set -u
root=${1:?source folder}
check=$root/tools/ci/check-imports.sh
cc=x86_64-w64-mingw32-gcc
command -v "$cc" >/dev/null || { echo "skipped: no $cc"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

build() {  # name, body of main
  printf '#include <windows.h>\nint main(void) { %s return 0; }\n' "$2" >"$work/$1.c"
  # kernel32 first, as the kit's programs link it: the exception handler
  # then comes from there, not from msvcrt.
  "$cc" -O1 -o "$work/$1.exe" "$work/$1.c" -lkernel32 || { echo "not ok - $1.exe does not build"; failures=$((failures + 1)); }
}

expect() {  # name, wanted exit status (0 or 1), text the output must hold
  local out status
  out=$(bash "$check" "$work/$1.exe" 2>&1)
  status=$?
  if [ "$status" -eq "$2" ] && grep -qF -- "$3" <<<"$out"; then
    echo "ok - $1: $3"
  else
    echo "not ok - $1: wanted status $2 and \"$3\", got $status:"
    echo "$out"
    failures=$((failures + 1))
  fi
}

build plain ""
build newer "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);"
build unlisted "Beep(440, 10);"
expect plain 0 " imports, 0 refused"
expect newer 1 "newer.exe imports kernel32.dll!SetDefaultDllDirectories, which needs Windows 8"
expect unlisted 1 "unlisted.exe imports kernel32.dll!Beep, which the import table does not list"

# msi.dll by ordinal, as the module links it, passes as "#N"; the same
# function by name (mingw's libmsi.a) is not what the table lists.
printf '#include <windows.h>\n#include <msi.h>\nint main(void) { return (int)MsiCloseHandle(0); }\n' >"$work/msi.c"
if ! (cd "$work" && x86_64-w64-mingw32-dlltool -m i386:x86-64 -d "$root/platform/win32/msi-ordinals.def" -l libmsi-ordinals.a &&
  "$cc" -O1 -o msi-ordinal.exe msi.c -lkernel32 libmsi-ordinals.a && "$cc" -O1 -o msi-name.exe msi.c -lkernel32 -lmsi); then
  echo "not ok - the msi programs do not build"
  failures=$((failures + 1))
fi
expect msi-ordinal 0 " imports, 0 refused"
expect msi-name 1 "msi-name.exe imports msi.dll!MsiCloseHandle, which the import table does not list"

# A table that lists the new function at its true floor still refuses it.
grep -v $'\tSetDefaultDllDirectories\t' "$root/tools/ci/imports.tsv" >"$work/table.tsv"
printf 'kernel32.dll\tSetDefaultDllDirectories\t6.2\tWindows 8\ttest\n' >>"$work/table.tsv"
out=$(IMPORTS_TABLE="$work/table.tsv" bash "$check" "$work/newer.exe" 2>&1) && status=0 || status=$?
if [ "$status" -eq 1 ] && grep -q "which needs Windows 8" <<<"$out"; then
  echo "ok - another table is taken"
else
  echo "not ok - another table is taken: $out"
  failures=$((failures + 1))
fi
exit $((failures > 0))
