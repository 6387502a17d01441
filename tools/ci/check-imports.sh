#!/usr/bin/env bash
# Checks that the shipped Windows binaries of a build folder import Windows
# system DLLs only: no mingw runtime, no OpenSSL DLL, nothing a customer's
# PC lacks.
#   check-imports.sh BUILD_DIR
set -eu
bin=${1:?usage: check-imports.sh BUILD_DIR}/bin
system=" advapi32.dll bcrypt.dll crypt32.dll kernel32.dll msi.dll msvcrt.dll newdev.dll ole32.dll psapi.dll
 setupapi.dll shell32.dll shlwapi.dll user32.dll ws2_32.dll wtsapi32.dll "
status=0
found=0
for f in "$bin"/Tovrin64.dll "$bin"/velk-access-migration.exe "$bin"/velk-reqdat.exe "$bin"/velk-msilog.exe; do
  [ -f "$f" ] || continue
  found=$((found + 1))
  for dll in $(objdump -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u); do
    case "$system" in
      *" $dll "*) ;;
      *) echo "$(basename "$f") imports $dll, which is not a Windows system DLL"; status=1 ;;
    esac
  done
done
[ "$found" -gt 0 ] || { echo "no Windows binaries in $bin"; exit 1; }
[ "$status" -eq 0 ] && echo "imports: $found binaries in $bin import Windows system DLLs only"
exit $status
