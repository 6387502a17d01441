# shellcheck shell=bash
# The custom-action frame: the OS check on three Windows versions, the help
# launcher, and a malformed parameter text in both calling forms.
set -eu
for v in 8.1 10 11; do
  say "IsSupportOS on Windows $v"
  m=$(bash tools/demo/make-machine.sh "$DEMO_ROOT/windows-$v" --windows "$v")
  show tovrin-run --machine "$m" IsSupportOS
done

say "ShowHelp with the HelpUrl property (no handler for it on this machine: error 25000)"
show tovrin-run ShowHelp "TovrinData=/HelpUrl=https://old.example/" "HelpUrl=https://help.velk.example/access"

say "ShowHelp through the command-line form, with a handler that accepts it"
fake=$(mktemp -d)
# shellcheck disable=SC2016 # $1 is the fake handler's own argument
printf '#!/bin/sh\necho "(xdg-open $1)" >&2\n' >"$fake/xdg-open"
chmod +x "$fake/xdg-open"
(PATH="$fake:$PATH" show tovrin-run RunShowHelpW '/HelpUrl="https://help.velk.example/access"')
rm -rf "$fake"

say "A malformed parameter text: installer form (87, nothing reported) and command-line form (E_INVALIDARG)"
show tovrin-run ShowHelp 'TovrinData=/x="unterminated'
show tovrin-run RunShowHelpW '/HelpUrl="unterminated'
