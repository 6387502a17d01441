# shellcheck shell=bash
# The kit's capture program on a Wine prefix, its folder imported on the
# host with velk-machine, and the same actions on both sides: IsSupportOS
# and ConnectDefMigration must log the same lines (timestamps and process
# ids aside) and leave the same folders through tovrin-run on the imported
# machine as under msiexec on the prefix. Then a round trip: a regedit
# export becomes a machine, an action changes it on the host, and Wine's
# regedit takes the written hive back.
#
# The host half needs a host build (HOST_BIN from e2e.sh: VELK_HOST_BUILD,
# else the host folder beside the Windows build, with velk-machine and
# tovrin-run). Without it those checks are reported as skipped.

# Custom-action lines, the banner's process id masked.
normalised_lines() { sed 's/PID=[0-9a-f]\{8\}/PID=*/'; }
# The lines the custom actions sent into an msiexec log, without the time
# and process prefix (other "1: " lines of the installer left out).
action_log_lines() {
  sed -n -E 's/^1: (####### .*) $/\1/p; s/^1: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12} [0-9A-F]{8} (.*) $/\1/p' "$1"
}
# tovrin-run's output as the same lines: its own result lines dropped, the
# time and process prefix of a log line cut.
runner_lines() {
  grep -v -E '^(Result|Property): ' | sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12} [0-9A-F]{8} //' |
    normalised_lines
}
# The folders and files below a local application data folder, sorted.
layout() { (cd "$1" && find TESSMAR Pellacor 2>/dev/null | LC_ALL=C sort); }

case_main() {
  wine_new_prefix
  wine_set_version win10
  cp "$STAGE"/velk-capture.exe "$WORK/"

  # The former maker's folder in Wine's own profile, planted before the capture.
  local unixUsers="$WINEPREFIX/drive_c/users" user="" entry
  for entry in "$unixUsers"/*; do
    [ -e "$entry" ] || continue
    entry=$(basename "$entry")
    [ "${entry,,}" = public ] && continue
    user=$entry
    break
  done
  local unixLocal="$unixUsers/$user/AppData/Local"
  mkdir -p "$unixLocal/Pellacor/velk/velk-access/connections" "$unixLocal/Pellacor/velk/velk-access/logs"
  printf '[office]\n' >"$unixLocal/Pellacor/velk/velk-access/connections/office.vpn"
  printf 'secret\n' >"$unixLocal/Pellacor/velk/velk-access/req.dat"
  wine_run cmd /c attrib +h "C:\\users\\$user\\AppData\\Local\\Pellacor\\velk\\velk-access\\logs" >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\TESSMAR\velk-access\WinSparkle' /v CheckForUpdates /d 1 /f >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\TESSMAR\velk-notes' /v Kept /d 1 /f >/dev/null 2>&1
  wineserver -w

  (cd "$WORK" && wine_run velk-capture.exe 'C:\capture' >capture.out 2>&1)
  wineserver -w
  local cap="$WINEPREFIX/drive_c/capture"
  check "the capture wrote machine.txt, folders.txt and smbios.bin" \
    test -s "$cap/machine.txt" -a -s "$cap/folders.txt" -a -s "$cap/smbios.bin"
  check "the capture exported the version key as regedit does (UTF-16LE)" \
    sh -c "head -c 2 '$cap/registry/hklm-00.reg' | od -An -tx1 | grep -q 'ff fe'"
  check "the capture lists the former folder by name and attributes" \
    grep -q -E '^00000012 C:\\users\\[^\\]+\\AppData\\Local\\Pellacor\\velk\\velk-access\\logs' "$cap/folders.txt"
  check "the capture never copies file contents" sh -c "! grep -r -q secret '$cap'"
  rm -rf "$WORK/capture"
  cp -r "$cap" "$WORK/capture"

  # The actions on the prefix itself.
  local msi log
  msi=$(msi_build "$CASE_DIR/capture.wxs") || { not_ok "capture.msi builds"; return; }
  log="$WORK/install.log"
  msi_install "$msi" "$log"
  action_log_lines "$log" | normalised_lines >"$WORK/wine.lines"
  check "msiexec ran both actions" grep -q 'ConnectDefMigration log PID' "$WORK/wine.lines"
  layout "$unixLocal" >"$WORK/wine.layout"

  if [ -z "$HOST_BIN" ] || [ ! -x "$HOST_BIN/velk-machine" ] || [ ! -x "$HOST_BIN/tovrin-run" ]; then
    skip "host half: set VELK_HOST_BUILD to a host build folder (with velk-machine and tovrin-run)"
    return
  fi
  local machine="$WORK/machine"
  rm -rf "$machine"
  check "velk-machine imports the capture" "$HOST_BIN/velk-machine" import "$machine" --capture "$WORK/capture"
  {
    "$HOST_BIN/tovrin-run" --machine "$machine" IsSupportOS
    "$HOST_BIN/tovrin-run" --machine "$machine" ConnectDefMigration
  } 2>&1 | runner_lines >"$WORK/host.lines"
  check "the same log lines on the imported machine as under msiexec" diff "$WORK/wine.lines" "$WORK/host.lines"
  layout "$machine/drive_c/users/$user/AppData/Local" >"$WORK/host.layout"
  check "the same folders afterwards" diff "$WORK/wine.layout" "$WORK/host.layout"
  check "the moved folder kept its name and place" \
    grep -q -x 'TESSMAR/velk/velk-access/connections/office.vpn' "$WORK/host.layout"

  # Round trip: regedit exports -> machine -> RemoveSparkleReg on the host ->
  # Wine's regedit imports the written hive -> reg query shows the change.
  local sid trip="$WORK/trip"
  sid=$(sed -n 's/^user=\(.*\)\r$/\1/p' "$WORK/capture/machine.txt")
  wine_run regedit /E 'C:\trip-user.reg' 'HKEY_CURRENT_USER\Software\TESSMAR' >/dev/null 2>&1
  wine_run regedit /E 'C:\trip-profiles.reg' \
    'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList' >/dev/null 2>&1
  wineserver -w
  rm -rf "$trip"
  check "velk-machine imports regedit's own exports" "$HOST_BIN/velk-machine" import "$trip" \
    "$WINEPREFIX/drive_c/trip-profiles.reg" --user "$sid" "$WINEPREFIX/drive_c/trip-user.reg"
  "$HOST_BIN/tovrin-run" --machine "$trip" RemoveSparkleReg >"$WORK/trip.out" 2>&1
  local hive
  hive=$(find "$trip/drive_c" -iname NTUSER.DAT | head -n 1)
  check "the hive is written back as regedit wrote it (UTF-16LE)" \
    sh -c "head -c 2 '$hive' | od -An -tx1 | grep -q 'ff fe'"
  cp "$hive" "$WINEPREFIX/drive_c/trip-back.reg"
  wine_run reg delete 'HKCU\Software\TESSMAR' /f >/dev/null 2>&1
  wine_run regedit /S 'C:\trip-back.reg' >/dev/null 2>&1
  wineserver -w
  check "reg query: the updater key is gone" sh -c "! timeout 60 wine reg query 'HKCU\\Software\\TESSMAR\\velk-access' >/dev/null 2>&1"
  check "reg query: the other key is back" sh -c "timeout 60 wine reg query 'HKCU\\Software\\TESSMAR\\velk-notes' /v Kept >/dev/null 2>&1"
}
