#!/usr/bin/env bash
# wixl (msitools 0.101) compiles a custom action with Execute="rollback" as
# an immediate one. This sets the rollback and in-script bits (0x100, 0x400)
# on every custom action that the WiX sources mark so; WiX 3's candle needs
# no such step.
#
#   packaging/wix/wixl-rollback.sh PACKAGE.msi SOURCE.wxs|.wxi ...
set -eu
msi=${1:?usage: wixl-rollback.sh PACKAGE.msi SOURCE ...}
shift
ids=$(cat "$@" | tr '\r\n' '  ' | grep -o '<CustomAction [^>]*>' | grep 'Execute="rollback"' |
  sed -n 's/.* Id="\([^"]*\)".*/\1/p')
for id in $ids; do
  type=$(msiinfo export "$msi" CustomAction | tr -d '\r' | awk -F'\t' -v a="$id" '$1 == a {print $2}')
  [ -n "$type" ] || continue
  new=$((type | 0x500))
  [ "$new" -eq "$type" ] || msibuild "$msi" -q "UPDATE CustomAction SET Type = $new WHERE Action = '$id'"
done
