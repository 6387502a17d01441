#!/usr/bin/env bash
# Makes a fresh demo machine: a folder standing for one Windows PC.
#
#   make-machine.sh DIR [--windows 8.1|10|11]
#
# Users: alice (the current user, logged on) and bob (logged off), the
# three system profiles, and a profile entry without ProfileImagePath.
set -eu
dir=${1:?usage: make-machine.sh DIR [--windows 8.1|10|11]}
windows=10
[ "${2:-}" = "--windows" ] && windows=${3:?}

alice=S-1-5-21-1004336348-1177238915-682003330-1001
bob=S-1-5-21-1004336348-1177238915-682003330-1002
ghost=S-1-5-21-1004336348-1177238915-682003330-1003

rm -rf "$dir"
mkdir -p "$dir/registry" "$dir/drive_c/Users/alice/AppData/Local" "$dir/drive_c/Users/bob/AppData/Local" \
  "$dir/drive_c/Windows/System32/config/systemprofile" "$dir/drive_c/Windows/INF" "$dir/drive_c/Program Files"

cat >"$dir/machine.ini" <<INI
[machine]
acp=1252  ui_language=1033
user=$alice
logged_on=$alice
INI

case "$windows" in
  8.1) version='"CurrentVersion"="6.3"
"CurrentBuild"="9600"' ;;
  10) version='"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000
"CurrentVersion"="6.3"
"CurrentBuild"="19045"' ;;
  11) version='"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000
"CurrentVersion"="6.3"
"CurrentBuild"="22631"' ;;
  *) echo "make-machine: unknown Windows version $windows" >&2; exit 2 ;;
esac

cat >"$dir/registry/HKLM.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]
$version
"ProductId"="00330-80000-00000-AA947"
"ProductName"="Windows 10 Pro"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProfilesDirectory"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,44,00,72,00,69,00,76,00,65,00,25,00,5c,00,55,00,73,00,65,00,72,00,73,00,00,00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-18]
"ProfileImagePath"=hex(2):25,00,73,00,79,00,73,00,74,00,65,00,6d,00,72,00,6f,00,6f,00,74,00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,63,00,6f,00,6e,00,66,00,69,00,67,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,70,00,72,00,6f,00,66,00,69,00,6c,00,65,00,00,00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-19]
"ProfileImagePath"=hex(2):25,00,73,00,79,00,73,00,74,00,65,00,6d,00,72,00,6f,00,6f,00,74,00,25,00,5c,00,53,00,65,00,72,00,76,00,69,00,63,00,65,00,50,00,72,00,6f,00,66,00,69,00,6c,00,65,00,73,00,5c,00,4c,00,6f,00,63,00,61,00,6c,00,53,00,65,00,72,00,76,00,69,00,63,00,65,00,00,00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-20]
"ProfileImagePath"=hex(2):25,00,73,00,79,00,73,00,74,00,65,00,6d,00,72,00,6f,00,6f,00,74,00,25,00,5c,00,53,00,65,00,72,00,76,00,69,00,63,00,65,00,50,00,72,00,6f,00,66,00,69,00,6c,00,65,00,73,00,5c,00,4e,00,65,00,74,00,77,00,6f,00,72,00,6b,00,53,00,65,00,72,00,76,00,69,00,63,00,65,00,00,00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$alice]
"ProfileImagePath"=hex(2):43,00,3a,00,5c,00,55,00,73,00,65,00,72,00,73,00,5c,00,61,00,6c,00,69,00,63,00,65,00,00,00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$bob]
"ProfileImagePath"=hex(2):43,00,3a,00,5c,00,55,00,73,00,65,00,72,00,73,00,5c,00,62,00,6f,00,62,00,00,00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$ghost]
"State"=dword:00000000
REG

for user in alice bob; do
  cat >"$dir/drive_c/Users/$user/NTUSER.DAT" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software]

[HKEY_CURRENT_USER\\Volatile Environment]
"USERNAME"="$user"
REG
done

# Later steps add what their features need (devices, key files, client data).
for extra in "$(dirname "$0")"/machine.d/*.sh; do
  [ -f "$extra" ] && DEMO_MACHINE="$dir" ALICE_SID=$alice BOB_SID=$bob bash "$extra"
done
echo "$dir"
