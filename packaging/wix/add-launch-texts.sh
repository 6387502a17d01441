#!/usr/bin/env bash
# Gives a package's two launch conditions of the kit (Installed OR NOT
# RASXX_NOT_SUPPORTOS, Installed OR NOT RASXX_RUNNING) the texts of a .wxl
# (TovrinLaunchOldWindows, TovrinLaunchRunning), imported with msibuild:
# wixl stores no Japanese message text (it crashes on ASCII mixed with
# Japanese and stores Japanese alone as empty). add-errors.sh calls it.
#
#   packaging/wix/add-launch-texts.sh PACKAGE.msi TEXTS.wxl [own]
#
# With the kit's own .wxl a text is replaced only where the package kept
# the kit's English one (TovrinProductName as the product); "own" marks a
# packager's .wxl, whose texts replace whatever the package has. The
# package's code page must already be the .wxl's (add-errors.sh sets it).
set -eu
usage="usage: add-launch-texts.sh PACKAGE.msi TEXTS.wxl [own]"
msi=${1:?$usage}
wxl=${2:?$usage}
own=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/velk-launch-XXXXXX")
trap 'rm -rf "$work"' EXIT
# The .wxl's text of a string id (the last, should it be there twice), XML
# entities read.
text_of() {
  sed -n "s|^ *<String Id=\"$1\">\(.*\)</String>\$|\1|p" "$wxl" | tail -n 1 |
    sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&apos;/'"'"'/g; s/&amp;/\&/g'
}
old_windows=$(text_of TovrinLaunchOldWindows)
running=$(text_of TovrinLaunchRunning)
[ -n "$old_windows$running" ] || exit 0 # the .wxl has no launch texts
msiinfo export "$msi" LaunchCondition | tr -d '\r' >"$work/LaunchCondition.idt"
changed=0
{
  head -n 3 "$work/LaunchCondition.idt"
  while IFS=$'\t' read -r condition message; do
    new=$message
    case $condition in
      "Installed OR NOT RASXX_NOT_SUPPORTOS") kit_tail=" needs Windows 10 or later." text=$old_windows ;;
      "Installed OR NOT RASXX_RUNNING") kit_tail=" is still running. Exit it and run this setup again." text=$running ;;
      *) text="" ;;
    esac
    if [ -n "$text" ]; then
      if [ "$own" = own ]; then
        new=$text
      elif [ "${message%"$kit_tail"}" != "$message" ]; then
        # The kit's English text: the product it names goes into the new one.
        new=${text//\[ProductName\]/${message%"$kit_tail"}}
      fi
    fi
    [ "$new" = "$message" ] || changed=1
    printf '%s\t%s\n' "$condition" "$new"
  done < <(tail -n +4 "$work/LaunchCondition.idt")
} >"$work/new.idt"
[ "$changed" = 1 ] || exit 0
mv "$work/new.idt" "$work/LaunchCondition.idt"
msibuild "$msi" -i "$work/LaunchCondition.idt"
