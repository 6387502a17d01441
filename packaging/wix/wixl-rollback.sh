#!/usr/bin/env bash
# Puts right the custom action types that wixl (msitools 0.101) writes:
# - it compiles Execute="rollback" and Execute="commit" as immediate
#   actions: this sets the rollback bit (0x100) or the commit bit (0x200)
#   with the in-script bit (0x400) on every action the sources mark so;
# - it sets the no-impersonation bit (0x800) on immediate actions and
#   type-51 property setters too, which ICE68 refuses (the bit means
#   something only in the script): it is cleared on every row without 0x400.
# WiX 3's candle needs no such step. Running it again changes nothing; run
# it with a package's own sources before add-errors.sh, which runs it with
# the kit's (the 0x800 of a rollback action not yet marked would go).
#
#   packaging/wix/wixl-rollback.sh PACKAGE.msi SOURCE.wxs|.wxi ...
set -eu
msi=${1:?usage: wixl-rollback.sh PACKAGE.msi SOURCE ...}
shift
# "Id<TAB>bits" for each rollback (0x500) and commit (0x600) action of the sources.
marked=$(cat "$@" | tr '\r\n' '  ' | grep -o '<CustomAction [^>]*>' | while read -r element; do
  case $element in
    *'Execute="rollback"'*) bits=$((0x500)) ;;
    *'Execute="commit"'*) bits=$((0x600)) ;;
    *) continue ;;
  esac
  printf '%s\t%s\n' "$(sed -n 's/.* Id="\([^"]*\)".*/\1/p' <<<"$element")" "$bits"
done)
msiinfo export "$msi" CustomAction | tr -d '\r' | tail -n +4 | cut -f1,2 | while IFS=$'\t' read -r id type; do
  bits=$(awk -F'\t' -v a="$id" '$1 == a {print $2; exit}' <<<"$marked")
  new=$((type | ${bits:-0}))
  [ $((new & 0x400)) -ne 0 ] || new=$((new & ~0x800))
  [ "$new" -eq "$type" ] || msibuild "$msi" -q "UPDATE CustomAction SET Type = $new WHERE Action = '$id'"
done
