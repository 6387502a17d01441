#!/usr/bin/env bash
# Checks the import tables of the shipped Windows binaries against the
# reviewed list in tools/ci/imports.tsv: every imported function must be
# listed there, from a Windows system DLL, and exist on the binary's floor
# (Windows 7 SP1 without updates). A newer function is resolved at run time
# instead, so that the binary still loads on the floor.
#   check-imports.sh BUILD_DIR       the shipped binaries in BUILD_DIR/bin
#   check-imports.sh FILE...         the given binaries (floor 6.1)
# IMPORTS_TABLE names another table.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
table=${IMPORTS_TABLE:-$here/imports.tsv}
[ -f "$table" ] || { echo "no import table $table"; exit 1; }
: "${1:?usage: check-imports.sh BUILD_DIR | FILE...}"

# Windows 7 and Server 2008 R2 are NT 6.1.
floor=6.1
floor_name="Windows 7 SP1"

files=()
if [ $# -eq 1 ] && [ -d "$1" ]; then
  for f in "$1"/bin/Tovrin64.dll "$1"/bin/velk-access-migration.exe "$1"/bin/velk-reqdat.exe "$1"/bin/velk-msilog.exe; do
    [ -f "$f" ] && files+=("$f")
  done
  [ ${#files[@]} -gt 0 ] || { echo "no Windows binaries in $1/bin"; exit 1; }
else
  files=("$@")
fi

dump() {
  local tool
  for tool in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump objdump; do
    command -v "$tool" >/dev/null && { "$tool" -p "$1"; return; }
  done
  echo "no objdump" >&2
  return 1
}

# One "dll<TAB>function" line per import; an import by ordinal is "#N",
# N in decimal (objdump shows it in hexadecimal, with no name).
imports_of() {
  dump "$1" | awk '
    function hex(text,    i, v) {
      v = 0
      for (i = 1; i <= length(text); i++) v = v * 16 + index("0123456789abcdef", substr(tolower(text), i, 1)) - 1
      return v
    }
    /^\tDLL Name: / { dll = tolower($3); next }
    /^$/ { dll = "" }
    dll != "" && /^\t[0-9a-f]+\t/ {
      n = split($0, f, /[ \t]+/)
      name = f[n]
      if (name == "<none>") name = "#" hex(f[3])
      print dll "\t" name
    }' | sort -u
}

status=0
for f in "${files[@]}"; do
  [ -f "$f" ] || { echo "$f: no such binary"; status=1; continue; }
  report=$(imports_of "$f" | awk -F '\t' -v floor="$floor" -v floor_name="$floor_name" -v bin="$(basename "$f")" '
    FNR == NR {
      if ($0 ~ /^#/ || NF < 4) next
      min[tolower($1) "\t" $2] = $3; since[tolower($1) "\t" $2] = $4; dlls[tolower($1)] = 1
      next
    }
    {
      key = $1 "\t" $2
      count++
      if (!($1 in dlls)) { print bin " imports " $1 ", which is not a Windows system DLL of the table"; bad++ }
      else if (!(key in min)) { print bin " imports " $1 "!" $2 ", which the import table does not list"; bad++ }
      else if (min[key] + 0 > floor + 0) {
        print bin " imports " $1 "!" $2 ", which needs " since[key] "; the floor is " floor_name
        bad++
      }
    }
    END { printf "%s: %d imports, %d refused\n", bin, count, bad + 0; exit bad > 0 }' "$table" -) || status=1
  echo "$report"
done
[ "$status" -eq 0 ] && echo "imports: ${#files[@]} binaries import only listed functions of $floor_name or older"
exit $status
