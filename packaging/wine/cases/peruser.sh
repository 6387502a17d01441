# shellcheck shell=bash
# The per-user actions under Wine on its single profile (logged on: its
# hive is used in place) and on a second profile added to the profile list,
# whose hive file was saved with RegSaveKeyW (mounted and unmounted by the
# action). Wine loses writes into a loaded hive when it is unloaded: the
# second profile's keys are deleted while mounted, yet the file keeps them.

SECOND_SID=S-1-5-21-1-2-3-1002
PROFILE_LIST='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList'

# The SID and home directory of Wine's own profile, from its profile list.
wine_profile() {
  sed -n '/ProfileList\\\\S-1-5-21-/{s/^\[.*ProfileList\\\\\(S-[0-9-]*\)\].*/\1/p;q}' "$WINEPREFIX/system.reg"
}


case_main() {
  wine_new_prefix
  local sid home msi log user
  sid=$(wine_profile)
  home=$(sed -n "/ProfileList\\\\\\\\$sid\]/,/^\$/s/^\"ProfileImagePath\"=\"\(.*\)\"/\1/p" "$WINEPREFIX/system.reg" | sed 's/\\\\/\\/g')
  check "Wine lists its profile ($sid at $home)" test -n "$sid" -a -n "$home"
  user=${home##*\\}
  local unixLocal="$WINEPREFIX/drive_c/users/$user/AppData/Local"
  local winLocal="$home\\AppData\\Local"

  # Wine's profile: the former folder with hidden and read-only files, and
  # a system file in the " LE" folder beside the data directory.
  put "$unixLocal/Pellacor/velk/velk-access/connections/office.vpn" "[office]"
  put "$unixLocal/Pellacor/velk/velk-access/logs/velk-access.log" "log"
  put "$unixLocal/Pellacor/velk/velk-access/state/settings.ini" "[ui]"
  # Deeper than MAX_PATH once moved: the removal reaches it all the same.
  local deep
  deep=$(printf 'd%.0s' $(seq 1 120))
  put "$unixLocal/Pellacor/velk/velk-access/deep/$deep/$deep/$deep/leaf.txt" "deep"
  put "$unixLocal/Pellacor/velk/velk-access LE/cache/thumbs.db" "cache"
  wine_run cmd /c attrib +h "$winLocal\\Pellacor\\velk\\velk-access\\logs\\velk-access.log" >/dev/null 2>&1
  wine_run cmd /c attrib +r "$winLocal\\Pellacor\\velk\\velk-access\\state\\settings.ini" >/dev/null 2>&1
  wine_run cmd /c attrib +s "$winLocal\\Pellacor\\velk\\velk-access LE\\cache\\thumbs.db" >/dev/null 2>&1
  wine_run reg add 'HKCU\SOFTWARE\TESSMAR\velk-access' /v Language /d en /f >/dev/null 2>&1
  wine_run reg add 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle' /v CheckForUpdates /d 1 /f >/dev/null 2>&1

  # The second profile, not logged on: its own folders and a saved hive.
  local unix2="$WINEPREFIX/drive_c/users/second"
  put "$unix2/AppData/Local/Pellacor/velk/velk-access/connections/home.vpn" "[home]"
  (cd "$WORK" && cp "$STAGE"/velk-hive.exe . && wine_run velk-hive.exe save 'C:\users\second\NTUSER.DAT' \
    'SOFTWARE\TESSMAR\velk-access\WinSparkle' 'SOFTWARE\TESSMAR\velk-notes' >/dev/null 2>&1)
  check "second hive saved with RegSaveKeyW" test -s "$unix2/NTUSER.DAT"
  wine_run reg add "$PROFILE_LIST\\$SECOND_SID" /v ProfileImagePath /t REG_EXPAND_SZ /d 'C:\users\second' /f >/dev/null 2>&1

  # The bin folder of the installation.
  put "$WINEPREFIX/drive_c/velk-bin/_installed_01" ""
  put "$WINEPREFIX/drive_c/velk-bin/_installed_xy" ""
  put "$WINEPREFIX/drive_c/velk-bin/readme.txt" "velk"
  wineserver -w

  msi=$(msi_build "$CASE_DIR/peruser.wxs") || { not_ok "peruser.msi builds"; return; }
  cp "$CASE_DIR/peruser.wxs" "$WORK/"

  # Installed: ConnectDefMigration.
  log="$WORK/install.log"
  msi_install "$msi" "$log"
  check "migration banner" grep -q -E '^1: ####### ConnectDefMigration log PID=[0-9a-f]{8} ####### $' "$log"
  check "Found the former folder" log_has_line "$log" "I Found ${winLocal//\\/\\\\}\\\\Pellacor\\\\velk"
  check "Not Found the current maker folder" log_has_line "$log" "I Not Found ${winLocal//\\/\\\\}\\\\TESSMAR"
  check "migrated" log_has_line "$log" "I Success to migrate ${winLocal//\\/\\\\}\\\\TESSMAR\\\\velk"
  check "the former maker folder removed" log_has_line "$log" "I Success to remove ${winLocal//\\/\\\\}\\\\Pellacor"
  check "second profile migrated" log_has_line "$log" 'I Success to migrate C:\\users\\second\\AppData\\Local\\TESSMAR\\velk'
  check "walk ends" log_has_line "$log" "I RegEnumKey end"
  check "the definitions moved" test -f "$unixLocal/TESSMAR/velk/velk-access/connections/office.vpn"
  check "the former folder is gone" test ! -e "$unixLocal/Pellacor"
  check "second profile's definitions moved" test -f "$unix2/AppData/Local/TESSMAR/velk/velk-access/connections/home.vpn"

  # Removed: RemoveRakAll, then RemoveSparkleReg.
  log="$WORK/uninstall.log"
  msi_uninstall "$msi" "$log"
  check "RemoveRakAll scope" log_has_line "$log" "I CTovrinModule::RemoveRakAll - leave"
  # shellcheck disable=SC1003 # the pattern ends in an escaped backslash
  check "RemoveRakAll runs deferred on its CustomActionData" log_has_line "$log" 'I CustomActionData:/bin=C:\\velk-bin\\'
  check "the enumerator's scope" log_has_line "$log" "I CProfileDirectoryEnumerator<_pde>::Enumerate - enter"
  check "data directory removed (hidden, read-only and files deeper than MAX_PATH included)" \
    test ! -e "$unixLocal/TESSMAR/velk/velk-access" -a -d "$unixLocal/TESSMAR/velk"
  check "system file skipped" log_has_line "$log" "W skipped system file thumbs.db"
  check "system file stays" test -f "$unixLocal/TESSMAR/velk/velk-access LE/cache/thumbs.db"
  check "its folder stays with a Warning" log_has_line "$log" "W remove failed - .*velk-access LE\\\\cache\\\\ .*\(0x80070091\)"
  check "second profile's data and empty parents removed" test ! -e "$unix2/AppData/Local/TESSMAR"
  check "bin markers removed" test ! -e "$WINEPREFIX/drive_c/velk-bin/_installed_01" -a ! -e "$WINEPREFIX/drive_c/velk-bin/_installed_xy"
  check "bin readme stays" test -f "$WINEPREFIX/drive_c/velk-bin/readme.txt"
  check "one Warning for the bin folder" log_has_line "$log" 'W remove failed - C:\\velk-bin\\ .*\(0x80070091\)'

  check "updater removal banner" grep -q -E '^1: ####### RemoveSparkleReg log PID=[0-9a-f]{8} ####### $' "$log"
  check "no hive errors" log_lacks "$log" "RegLoadKey Error"
  check "no unload errors" log_lacks "$log" "RegUnLoadKey Error"
  check "every updater key was found (the second hive was mounted)" log_lacks "$log" "RegOpenKeyEx Error"
  check "the updater walk ends" log_has_line "$log" "I RegEnumKey end"
  check "Wine profile's keys gone (live hive)" \
    sh -c '! timeout 60 wine reg query "HKCU\SOFTWARE\TESSMAR" >/dev/null 2>&1'
  check "second hive unmounted after the action" \
    sh -c "! timeout 60 wine reg query 'HKU\\$SECOND_SID' >/dev/null 2>&1"
  local held
  held=$(cd "$WORK" && wine_run velk-hive.exe has 'C:\users\second\NTUSER.DAT' 'SOFTWARE\TESSMAR\velk-access\WinSparkle' 2>/dev/null | tr -d '\r')
  check_eq "Wine lost the writes into the loaded hive at unload: the file still holds the updater key" "$held" present
}
