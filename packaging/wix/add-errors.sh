#!/usr/bin/env bash
# Adds the kit's Error rows (25000, 25001, 25003) to a package that wixl
# built from a .wxs including Tovrin.wxi: wixl reads no <UI>, so the rows
# and the package's code page are imported with msibuild afterwards. It
# also gives the kit's rollback action its rollback type, which wixl drops
# (wixl-rollback.sh): without it the adapter would be removed at once.
#
#   packaging/wix/add-errors.sh PACKAGE.msi [CULTURE [TEXTS.wxl]]
#
# CULTURE picks the kit's Tovrin.CULTURE.wxl (en-us, ja-jp); without it the
# package's ProductLanguage decides (1041 ja-jp, anything else en-us).
# TEXTS.wxl replaces the kit's texts with the package's own (the same
# String Ids, TovrinError<number>); its Codepage becomes the package's.
# "[ProductName]" in a text is replaced with the package's ProductName, so
# the message names the product even where the installer formats no
# properties.
#
# Exit code: 0 done, 1 a failure, 77 msitools missing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: add-errors.sh PACKAGE.msi [CULTURE [TEXTS.wxl]]"
msi=${1:?$usage}
for tool in msibuild msiinfo; do
  command -v "$tool" >/dev/null || { echo "add-errors.sh: $tool is not installed (msitools)" >&2; exit 77; }
done
[ -f "$msi" ] || { echo "add-errors.sh: $msi: no such file" >&2; exit 1; }
msi=$(cd "$(dirname "$msi")" && pwd)/$(basename "$msi")

property() { msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' -v p="$1" '$1 == p {print $2}'; }
culture=${2:-}
if [ -z "$culture" ]; then
  case $(property ProductLanguage) in 1041) culture=ja-jp ;; *) culture=en-us ;; esac
fi
wxl=${3:-$here/Tovrin.$culture.wxl}
[ -f "$wxl" ] || { echo "add-errors.sh: no texts for culture $culture ($wxl)" >&2; exit 1; }
codepage=$(sed -n 's/.*<WixLocalization .*Codepage="\([0-9]*\)".*/\1/p' "$wxl")
[ -n "$codepage" ] || { echo "add-errors.sh: $wxl names no Codepage" >&2; exit 1; }
product=$(property ProductName)
bash "$here/wixl-rollback.sh" "$msi" "$here/Tovrin.wxi"

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-errors-XXXXXX")
trap 'rm -rf "$work"' EXIT
# msibuild reads UTF-8 and stores text in the code page forced first.
printf '\n\n%s\t_ForceCodepage\n' "$codepage" >"$work/_ForceCodepage.idt"
{
  printf 'Error\tMessage\ni2\tL0\nError\tError\n'
  while read -r number; do
    text=$(sed -n "s|^ *<String Id=\"TovrinError$number\">\(.*\)</String>\$|\1|p" "$wxl")
    [ -n "$text" ] || { echo "add-errors.sh: $wxl has no text TovrinError$number" >&2; exit 1; }
    text=${text//\[ProductName\]/$product}
    text=$(sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&apos;/'"'"'/g; s/&amp;/\&/g' <<<"$text")
    printf '%s\t%s\n' "$number" "$text"
  done < <(sed -n 's|^ *<Error Id="\([0-9]*\)">.*|\1|p' "$here/Tovrin.wxi")
} >"$work/Error.idt"
msibuild "$msi" -i "$work/_ForceCodepage.idt"
msibuild "$msi" -i "$work/Error.idt"
# The launch conditions' texts in the package's language (wixl keeps none).
bash "$here/add-launch-texts.sh" "$msi" "$wxl" ${3:+own}
