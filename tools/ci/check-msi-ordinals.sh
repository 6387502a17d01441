#!/usr/bin/env bash
# Compares the ordinals of platform/win32/msi-ordinals.def, by which the
# module imports msi.dll, with the export table of an msi.dll: each name of
# the table must be exported there under the same ordinal.
#   check-msi-ordinals.sh MSI_DLL [DEF]
# Exit code: 0 all agree, 1 a difference, 77 no objdump.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
dll=${1:?usage: check-msi-ordinals.sh MSI_DLL [DEF]}
def=${2:-$here/../../platform/win32/msi-ordinals.def}
[ -f "$dll" ] || { echo "check-msi-ordinals: $dll: no such file"; exit 1; }
objdump=""
for tool in x86_64-w64-mingw32-objdump objdump; do
  command -v "$tool" >/dev/null && { objdump=$tool; break; }
done
[ -n "$objdump" ] || { echo "check-msi-ordinals: SKIPPED: no objdump"; exit 77; }

# "name<TAB>ordinal" of the DLL's exports: the name pointer table counts
# from the ordinal base.
exports=$("$objdump" -p "$dll" | awk '
  /^Export Address Table -- Ordinal Base/ { base = $NF }
  /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
  names && /^$/ { names = 0 }
  names { n = $0; sub(/^\t\[ *[0-9]+\] /, "", n); i = $0; sub(/^\t\[ */, "", i); sub(/\].*/, "", i); print n "\t" (i + base) }')
[ -n "$exports" ] || { echo "check-msi-ordinals: $dll has no export table"; exit 1; }

bad=0
count=0
while read -r name ordinal _; do
  ordinal=${ordinal#@}
  count=$((count + 1))
  got=$(awk -F'\t' -v n="$name" '$1 == n {print $2}' <<<"$exports")
  if [ "$got" = "$ordinal" ]; then
    echo "  ok   - $name is ordinal $ordinal"
  else
    echo "  FAIL - $name: the table says ordinal $ordinal, $(basename "$dll") exports it as ${got:-nothing}"
    bad=$((bad + 1))
  fi
done < <(sed -n 's/^ *\(Msi[A-Za-z]*\) \(@[0-9]*\) NONAME.*/\1 \2/p' "$def")
[ "$count" -gt 0 ] || { echo "check-msi-ordinals: $def lists no function"; exit 1; }
echo "msi ordinals: $count of the table, $bad differ from $dll"
[ "$bad" -eq 0 ]
