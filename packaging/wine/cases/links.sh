# shellcheck shell=bash
# A profile's owner plants a link: Wine's profile gets a Unix symbolic link at
# AppData\Local\TESSMAR that leads to a folder outside the prefix holding what
# the actions would act on. The reference package's installation
# (ConnectDefMigration) and removal (RemoveRakAll, RemoveSparkleReg) run
# through msiexec; nothing outside changes, and each refusal is logged. Wine
# lists such a link as a reparse point with tag 0 and follows it on open.

case_main() {
  wine_new_prefix
  local sid home user msi log
  sid=$(sed -n '/ProfileList\\\\S-1-5-21-/{s/^\[.*ProfileList\\\\\(S-[0-9-]*\)\].*/\1/p;q}' "$WINEPREFIX/system.reg")
  home=$(sed -n "/ProfileList\\\\\\\\$sid\]/,/^\$/s/^\"ProfileImagePath\"=\"\(.*\)\"/\1/p" "$WINEPREFIX/system.reg" | sed 's/\\\\/\\/g')
  check "Wine lists its profile ($sid at $home)" test -n "$sid" -a -n "$home"
  user=${home##*\\}
  local unixLocal="$WINEPREFIX/drive_c/users/$user/AppData/Local"
  local winLocal="$home\\AppData\\Local"

  # Outside the prefix: what the link leads to.
  local outside="$WORK/outside"
  put "$outside/velk/velk-access/precious.txt" "precious"
  put "$outside/velk/velk-access LE/kept.ini" "kept"
  put "$outside/other/readme.txt" "other"
  mkdir -p "$unixLocal"
  ln -s "$outside" "$unixLocal/TESSMAR"
  # The user's own former folder, which the migration would move into it.
  put "$unixLocal/Pellacor/velk/velk-access/connections/office.vpn" "[office]"
  put "$WINEPREFIX/drive_c/velk-bin/_installed_01" ""
  wine_run reg add 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle' /v CheckForUpdates /d 1 /f >/dev/null 2>&1
  wineserver -w
  local before after
  before=$(cd "$outside" && find . -printf '%y %p\n' -type f -exec sha256sum {} + | sort)

  msi=$(msi_build "$CASE_DIR/peruser.wxs") || { not_ok "peruser.msi builds"; return; }
  log="$WORK/install.log"
  msi_install "$msi" "$log"
  check "the migration found the former folder" log_has_line "$log" "I Found ${winLocal//\\/\\\\}\\\\Pellacor\\\\velk"
  check "the link at the maker folder is refused" log_has_line "$log" "W skipped link ${winLocal//\\/\\\\}\\\\TESSMAR"
  check "nothing migrated" log_lacks "$log" "Success to migrate"
  check "the former folder stays where it was" test -f "$unixLocal/Pellacor/velk/velk-access/connections/office.vpn"
  after=$(cd "$outside" && find . -printf '%y %p\n' -type f -exec sha256sum {} + | sort)
  check_eq "the migration changed nothing outside the profile" "$after" "$before"

  log="$WORK/uninstall.log"
  msi_uninstall "$msi" "$log"
  check "the removal refuses the link" log_has_line "$log" "W skipped link ${winLocal//\\/\\\\}\\\\TESSMAR"
  check "the bin step still runs" test ! -e "$WINEPREFIX/drive_c/velk-bin/_installed_01"
  check "the link stays" test -L "$unixLocal/TESSMAR"
  after=$(cd "$outside" && find . -printf '%y %p\n' -type f -exec sha256sum {} + | sort)
  check_eq "the removal changed nothing outside the profile" "$after" "$before"
  check "the updater removal ran" log_has_line "$log" "I RegEnumKey end"
  # Wine's reg and advapi32 make no registry link (REG_OPTION_CREATE_LINK),
  # so the hive's side of the attack is shown by the host tests only.
  skip "a registry link in the hive: Wine cannot create one"
}
