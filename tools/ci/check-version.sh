#!/bin/bash
# Reads the VERSIONINFO resource back from built Windows binaries and checks
# it against the project version: both language blocks, every field.
#   check-version.sh WINDRES VERSION FILE...
set -u
windres=$1 version=$2
shift 2
[ $# -gt 0 ] || { echo "check-version: no binaries given"; exit 1; }
commas=${version//./, }
failures=0
fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }

for file in "$@"; do
  name=$(basename "$file")
  before=$failures
  rc=$("$windres" -i "$file" -O rc 2>/dev/null | sed -n '/VERSIONINFO/,$p')
  [ -n "$rc" ] || { fail "$name" "no VERSIONINFO resource"; continue; }
  grep -qx " FILEVERSION $commas" <<<"$rc" || fail "$name" "FILEVERSION is not $commas"
  grep -qx " PRODUCTVERSION $commas" <<<"$rc" || fail "$name" "PRODUCTVERSION is not $commas"
  grep -q 'VALUE "Translation", 0x409, 1200, 0x411, 1200' <<<"$rc" || fail "$name" "translations are not English and Japanese"
  for block in 040904b0 041104b0; do
    # The block's own lines, up to its END.
    values=$(sed -n "/BLOCK \"$block\"/,/^    END/p" <<<"$rc")
    [ -n "$values" ] || { fail "$name" "no block $block"; continue; }
    for expect in "CompanyName\", \"TESSMAR\"" "ProductName\", \"velk-access\"" \
                  "FileVersion\", \"$version\"" "ProductVersion\", \"$version\"" \
                  "OriginalFilename\", \"$name\""; do
      grep -qF "VALUE \"$expect" <<<"$values" || fail "$name" "block $block lacks $expect"
    done
    grep -qE 'VALUE "FileDescription", L?"[^"]+"' <<<"$values" || fail "$name" "block $block has no FileDescription"
  done
  # The Japanese description is Japanese text, not the English one again.
  sed -n '/BLOCK "041104b0"/,/^    END/p' <<<"$rc" | grep -q 'FileDescription", L"' ||
    fail "$name" "Japanese FileDescription has no Japanese text"
  [ "$failures" -eq "$before" ] && echo "ok $name $version"
done
exit $((failures > 0))
