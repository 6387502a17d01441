# shellcheck shell=bash
# The per-user actions on every profile: the connection-definition
# migration, the data removal and the updater settings removal.
set -eu
m=$DEMO_MACHINE
tree() { (cd "$m/drive_c" && find "$@" -print 2>/dev/null | sort) || true; }

say "Before: the client folders of every profile"
tree Users/alice/AppData/Local/Pellacor Users/alice/AppData/Local/TESSMAR Users/bob/AppData/Local/Pellacor \
  Users/bob/AppData/Local/TESSMAR Windows/System32/config/systemprofile/AppData/Local
show velk-attrib "C:\\Users\\bob\\AppData\\Local\\Pellacor\\velk\\velk-access\\cache\\thumbs.db" \
  "C:\\Users\\bob\\AppData\\Local\\Pellacor\\velk\\velk-access\\cache\\old.tmp"

say "ConnectDefMigration: bob's folder moves; alice has both and keeps both; system profiles are skipped"
show tovrin-run ConnectDefMigration
tree Users/bob/AppData/Local/TESSMAR

say "RemoveRakAll: the profile entry without ProfileImagePath (listed last) stops the walk, so bin stays"
show tovrin-run RemoveRakAll 'TovrinData=/bin="C:\Program Files\TESSMAR\velk\bin\"'
tree Users/alice/AppData/Local/TESSMAR Users/bob/AppData/Local/TESSMAR Windows/System32/config/systemprofile/AppData/Local \
  "Program Files/TESSMAR/velk/bin"

say "RunRemoveRakAllW after the broken entry is gone: the markers in bin go, readme.txt stays"
sed -i '/ProfileList\\S-1-5-21-1004336348-1177238915-682003330-1003\]/,/^$/d' "$m/registry/HKLM.reg"
show tovrin-run RunRemoveRakAllW '/bin="C:\Program Files\TESSMAR\velk\bin"'
tree "Program Files/TESSMAR/velk/bin"

say "RemoveSparkleReg: alice's live hive is changed in place, bob's is mounted, changed and unmounted"
show tovrin-run RemoveSparkleReg
printf '%s\n' "--- alice's NTUSER.DAT"
grep -F 'TESSMAR' "$m/drive_c/Users/alice/NTUSER.DAT" || echo "(no TESSMAR keys left)"
printf '%s\n' "--- bob's NTUSER.DAT"
grep -F 'TESSMAR' "$m/drive_c/Users/bob/NTUSER.DAT" || true
