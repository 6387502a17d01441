# shellcheck shell=bash
# The migration program on alice's profile: req.dat bound to the product
# ID is re-bound to the SMBIOS identity, the old folders and registry keys
# go, and the completion state ends at "3". A second run only cleans up.
set -eu
data="$DEMO_MACHINE/drive_c/Users/alice/AppData/Local/TESSMAR/velk/velk-access"
product_id=$(sed -n 's/^"ProductId"="\(.*\)"$/\1/p' "$DEMO_MACHINE/registry/HKLM.reg")

say "req.dat before the migration: bound to the product ID"
show velk-reqdat inspect "$data/req.dat"

say "The previous generation's folders and registry keys"
(cd "$DEMO_MACHINE/drive_c/Users/alice/AppData/Local" && find TESSMAR Pellacor -mindepth 3 | sort)
grep -F '[HKEY_CURRENT_USER\Software\Pellacor' "$DEMO_MACHINE/drive_c/Users/alice/NTUSER.DAT"

say "velk-access-migration (no arguments, exit code 0)"
printf '$ velk-access-migration\n'
velk-access-migration </dev/null
echo "exit code: $?"
# The hidden interpreters run on their own; give them a moment.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  [ -e "$data/keydata" ] || [ -e "$data/mig" ] || break
  sleep 0.2
done

say "The log"
cat "$data/velk-access-migration.log"

say "req.dat after the migration: bound to the SMBIOS identity, signed anew"
show velk-reqdat inspect "$data/req.dat"
show velk-reqdat inspect "$data/req.dat" --key "product-id=$product_id"

say "Completion state, folders and registry keys after the run"
printf '_completed_mig: %s\n' "$(cat "$data/_completed_mig")"
(cd "$DEMO_MACHINE/drive_c/Users/alice/AppData/Local" && find TESSMAR Pellacor -mindepth 3 | sort)
grep -F '[HKEY_CURRENT_USER\Software\Pellacor' "$DEMO_MACHINE/drive_c/Users/alice/NTUSER.DAT" || true

say "A second run: state 3, no conversion, only the clean-up"
show velk-access-migration
tail -n 1 "$data/velk-access-migration.log"

say "A user without a data directory (bob): the error box, no log, exit code 0"
bob=$(mktemp -d)
cp -r "$DEMO_MACHINE/." "$bob/"
bob_sid=$(grep -o 'S-1-5-21-[0-9-]*-1002' "$bob/registry/HKLM.reg" | head -n 1)
sed -i "s/^user=.*/user=$bob_sid/" "$bob/machine.ini"
(
  export VELK_MACHINE=$bob
  printf '$ velk-access-migration\n'
  velk-access-migration </dev/null 2>&1
  echo "exit code: $?"
)
printf "entries in bob's local application data folder: %s\n" "$(find "$bob/drive_c/Users/bob/AppData/Local" -mindepth 1 | wc -l)"
rm -rf "$bob"
