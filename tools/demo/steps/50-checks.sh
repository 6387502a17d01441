# shellcheck shell=bash
# The installation checks: the single-instance mutex while another installer
# holds it, and the running-client check with a client running from the
# folder being installed (a copy of sleep) and after it has ended.
set -eu
target="C:\\Program Files\\TESSMAR\\velk-access\\"
client="$DEMO_MACHINE/drive_c/Program Files/TESSMAR/velk-access/bin/velk-access.exe"

say "CheckMultiExec with no other installer running"
show tovrin-run CheckMultiExec

say "CheckMultiExec while another installer of this machine holds the mutex (error 25001, 1603)"
# The host mutex is a file of the machine locked by every process that has
# it open; flock stands in for the other installer's process.
mutex="$DEMO_MACHINE/kernel-objects/Global/TESSMAR.Velk.{4B1E9C27-53A0-4D8F-9E26-7C0F3A5D81B4}"
mkdir -p "$(dirname "$mutex")"
flock -s "$mutex" sleep 5 &
holder=$!
sleep 0.2
show tovrin-run CheckMultiExec
show tovrin-run RunCheckMultiExecW
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true

say "CheckRasExec while the client runs from the folder being installed (the message goes to stderr)"
mkdir -p "$(dirname "$client")"
cp /bin/sleep "$client"
"$client" 30 &
pid=$!
show tovrin-run CheckRasExec "TARGETDIR=$target" "RASV1_INSTALLED=C:\\Program Files\\TESSMAR\\velk-access V1\\" </dev/null
kill "$pid"
wait "$pid" 2>/dev/null || true

say "CheckRasExec once the client has ended"
show tovrin-run CheckRasExec "TARGETDIR=$target" </dev/null
