#!/usr/bin/env bash
# Client data of the per-user actions on the demo machine: connection
# definitions in the maker's former folder (bob) and in both folders
# (alice), data directories with hidden, read-only and system files, the
# updater's settings in both users' hives, and an installation's bin folder.
set -eu
m=${DEMO_MACHINE:?}
c=$m/drive_c
attrib=$(command -v velk-attrib || echo "$(cd "$(dirname "$0")/../../.." && pwd)/build/host/bin/velk-attrib")
put() { mkdir -p "$(dirname "$c/$1")"; printf '%s\n' "${2:-x}" >"$c/$1"; }
mark() { "$attrib" --machine "$m" "$@"; }

# alice: both product folders (the migration leaves both), data with attributes.
a=Users/alice/AppData/Local
put "$a/Pellacor/velk/velk-access/connections/office.vpn" "[office] host=vpn.old.example"
put "$a/TESSMAR/velk/velk-access/connections/office.vpn" "[office] host=vpn.velk.example"
put "$a/TESSMAR/velk/velk-access/logs/velk-access.log" "log"
put "$a/TESSMAR/velk/velk-access/state/settings.ini" "[ui] lang=en"
put "$a/TESSMAR/velk/velk-access LE/settings.ini" "[le]"
put "$a/Microsoft/Windows/UsrClass.dat" ""
mark +H 'C:\Users\alice\AppData\Local\TESSMAR\velk\velk-access\logs\velk-access.log'
mark +R 'C:\Users\alice\AppData\Local\TESSMAR\velk\velk-access\state\settings.ini'

# bob: only the former folder; after the move a system file keeps its folders.
b=Users/bob/AppData/Local
put "$b/Pellacor/velk/velk-access/connections/home.vpn" "[home] host=vpn.velk.example"
put "$b/Pellacor/velk/velk-access/cache/thumbs.db" "cache"
put "$b/Pellacor/velk/velk-access/cache/old.tmp" "tmp"
put "$b/Pellacor/velk/velk-access LE/settings.ini" "[le]"
put "$b/Microsoft/Windows/UsrClass.dat" ""
mark +S +H 'C:\Users\bob\AppData\Local\Pellacor\velk\velk-access\cache\thumbs.db'
mark +R +H 'C:\Users\bob\AppData\Local\Pellacor\velk\velk-access\cache\old.tmp'

# The system account: its former folder is never migrated, its data
# directory is visited by the data removal like any other profile's.
s=Windows/System32/config/systemprofile
put "$s/AppData/Local/Pellacor/velk/velk-access/service.ini" "[svc]"
put "$s/AppData/Local/TESSMAR/velk/velk-access/service.log" "svc"

# The updater's settings: alice (logged on) only the client's chain; bob
# (logged off) has another product of the maker, which keeps the maker's key.
cat >>"$c/Users/alice/NTUSER.DAT" <<'REG'

[HKEY_CURRENT_USER\SOFTWARE\TESSMAR]

[HKEY_CURRENT_USER\SOFTWARE\TESSMAR\velk-access]
"Language"="en"

[HKEY_CURRENT_USER\SOFTWARE\TESSMAR\velk-access\WinSparkle]
"CheckForUpdates"="1"
"LastCheckTime"="1715936587"
REG
cat >>"$c/Users/bob/NTUSER.DAT" <<'REG'

[HKEY_CURRENT_USER\SOFTWARE\TESSMAR]

[HKEY_CURRENT_USER\SOFTWARE\TESSMAR\velk-access]

[HKEY_CURRENT_USER\SOFTWARE\TESSMAR\velk-access\WinSparkle]
"CheckForUpdates"="0"

[HKEY_CURRENT_USER\SOFTWARE\TESSMAR\velk-notes]
"Installed"=dword:00000001
REG

# An installation's bin folder with its markers.
put "Program Files/TESSMAR/velk/bin/_installed_01" ""
put "Program Files/TESSMAR/velk/bin/_installed_xy" ""
put "Program Files/TESSMAR/velk/bin/readme.txt" "velk-access"
