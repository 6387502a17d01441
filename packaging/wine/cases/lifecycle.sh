# shellcheck shell=bash
# The reference package (packaging/wix) through its whole life in one
# prefix: a previous generation on the machine; the launch condition on
# Windows 7 and an installation on Windows 10; the migration program as
# Active Setup starts it at the user's next logon; a second setup while the
# single-instance mutex is held; a major upgrade (and the older product's
# removal as Windows runs it there); a removal that fails after
# UninstallDevice and is rolled back; the removal; a removal while rollback
# is disabled. The MSI log of every step
# stays in WORK. Wine keeps the adapter's device node on
# removal (its SetupDiSetClassInstallParamsW is a stub, see devices.sh).

KEY_VALUE="VK-LIFE-0042"
ACTIVE_SETUP='SOFTWARE\Microsoft\Active Setup\Installed Components\{5D2E8B47-9C13-4A6F-8E0B-3F7A1C6D9E25}'
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# Display versions of the installed products named velk-access.
installed_versions() {
  wine_run reg query "$UNINSTALL" /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/{name=0} /DisplayName.*REG_SZ *velk-access$/{name=1} name && /DisplayVersion/{print $NF}' | sort
}

# The exports' banners and scope lines in the order the log holds them.
action_order() {
  log_lines "$1" | sed -n 's/^####### \([A-Za-z]*\) log PID=.*/\1/p; s/^I \([A-Za-z]*\) - enter$/\1/p' |
    grep -v -x -e Tovrin -e IsRasExec | awk '!seen[$0]++' | tr '\n' ' '
}

case_main() {
  wine_new_prefix
  local msi1 msi2 log rc out
  msi1=$(bash "$CASE_DIR/../../wix/build.sh" "$STAGE" "$WORK/velk-access-1.0.0.msi" 1.0.0 2>"$WORK/build.err") &&
    msi2=$(bash "$CASE_DIR/../../wix/build.sh" "$STAGE" "$WORK/velk-access-2.0.0.msi" 2.0.0 2>>"$WORK/build.err")
  check "the reference package builds with wixl (1.0.0 and 2.0.0)" test -s "$WORK/velk-access-2.0.0.msi"
  [ -s "$WORK/velk-access-2.0.0.msi" ] || { cat "$WORK/build.err" >&2; return; }
  # 2.0.0 again from the same sources, with a probe that fails a removal
  # after UninstallDevice on demand (lifecycle-probe.wxi).
  local src2="$WORK/velk-access-2.0.0.src" wix="$CASE_DIR/../../wix"
  cp "$CASE_DIR/lifecycle-probe.wxi" "$src2/"
  sed -i 's|^  </Product>|    <?include lifecycle-probe.wxi?>\n  </Product>|' "$src2/velk-access.wxs"
  rm -f "$msi2"
  (cd "$src2" && wixl -a x64 -D WIXL=1 -D VelkVersion=2.0.0 -D VelkLanguage=1033 -o "$msi2" velk-access.wxs >wixl-probe.log 2>&1) &&
    bash "$wix/wixl-rollback.sh" "$msi2" "$src2/Tovrin.wxi" "$src2/velk-access.wxs" "$src2/lifecycle-probe.wxi" &&
    bash "$wix/add-errors.sh" "$msi2" en-us 2>>"$WORK/build.err"
  check "the 2.0.0 package builds with the probe of a failing removal" test -s "$msi2"
  [ -s "$msi2" ] || { cat "$src2/wixl-probe.log" "$WORK/build.err" >&2; return; }

  # msi.dll is linked by ordinal: the ordinals of the module's table are
  # those the prefix's msi.dll exports its functions under.
  out=$(bash "$CASE_DIR/../../../tools/ci/check-msi-ordinals.sh" "$WINEPREFIX/drive_c/windows/system32/msi.dll" 2>&1)
  printf '%s\n' "$out" >"$WORK/msi-ordinals.out"
  check_line "Tovrin64.dll's msi.dll ordinals are those of Wine's msi.dll" "$out" "msi ordinals: $(grep -c NONAME "$CASE_DIR/../../../platform/win32/msi-ordinals.def") of the table, 0 differ from $WINEPREFIX/drive_c/windows/system32/msi.dll"
  check_eq "Tovrin64.dll imports msi.dll by ordinal only" \
    "$(x86_64-w64-mingw32-objdump -p "$STAGE/Tovrin64.dll" | awk '/DLL Name: msi.dll/ {m = 1; next} /DLL Name:/ {m = 0} m && /<none>/ {n++} m && /\t[0-9a-f]+\t/ && !/<none>/ {named++} END {print n + 0 " by ordinal, " named + 0 " by name"}')" \
    "$(grep -c NONAME "$CASE_DIR/../../../platform/win32/msi-ordinals.def") by ordinal, 0 by name"

  local local_win local_unix
  local_win=$(wine_run cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
  local_unix=$(winepath -u "$local_win" 2>/dev/null)
  local former="$local_unix/Pellacor/velk/velk-access" data="$local_unix/TESSMAR/velk/velk-access"
  local data_win="$local_win\\TESSMAR\\velk\\velk-access"
  local program_files="$WINEPREFIX/drive_c/Program Files/TESSMAR/velk-access"

  # The previous generation: the former maker's folder with the key file
  # bound to the product ID and the legacy folders, the user's old keys,
  # the updater's settings, and an older edition registered in HKLM.
  put "$former/connections/office.vpn" "[office]"
  put "$former/keydata/certs/client.pem" "old certificate"
  put "$former/keydata_EX/ex.ini" "old EX"
  put "$former/mig/profile.ini" "old profile"
  (cd "$STAGE" && wine_run velk-reqdat.exe encrypt "$local_win\\Pellacor\\velk\\velk-access\\req.dat" \
    --value "$KEY_VALUE" --key machine-old >"$WORK/reqdat-encrypt.out" 2>&1)
  wine_run reg add 'HKCU\Software\Pellacor\velk\access' /v Server /d vpn-old.example /f >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\Pellacor\velk\accessEX' /v Edition /d EX /f >/dev/null 2>&1
  wine_run reg add 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle' /v CheckForUpdates /d 1 /f >/dev/null 2>&1
  wine_run reg add 'HKLM\Software\Wow6432Node\Pellacor\velk\access' /v InstallDir /d 'C:\velk v1' /f >/dev/null 2>&1
  check "step 1: a previous generation is present: the old-bound req.dat" test -s "$former/req.dat"
  check "step 1: a previous generation is present: the legacy keys" reg_has_key 'HKCU\Software\Pellacor\velk\accessEX'

  # Windows 7 (Wine's default): IsSupportOS flags it, the launch condition refuses.
  log="$WORK/install-win7.log"
  rc=0
  msi_install "$msi1" "$log" || rc=$?
  # Wine logs no text for a failed launch condition under /qn.
  check_num "step 2: on Windows 7 the installation fails (msiexec 1603, cut to 67 by Wine; log $log)" "$rc" -eq 67
  check "step 2: the launch condition refuses" grep -q '^Action ended .*: LaunchConditions\. Return value 0\.$' "$log"
  check "step 2: costing does not start" not grep -q '^Action start .*: CostInitialize\.' "$log"
  check_eq "step 2: RASXX_NOT_SUPPORTOS = 1" "$(log_property "$log" RASXX_NOT_SUPPORTOS)" 1
  check "step 2: nothing is installed" test ! -e "$program_files"
  check "step 2: the previous generation's folder stays" test -d "$former"

  wine_set_version win10
  log="$WORK/install.log"
  rc=0
  msi_install "$msi1" "$log" || rc=$?
  printf '%s\n' "$(log_lines "$log")" >"$WORK/install-lines.txt"
  check_num "step 3: on Windows 10 the installation succeeds (msiexec 0, log $log)" "$rc" -eq 0
  check_eq "step 3: RASXX_NOT_SUPPORTOS is not set" "$(log_property "$log" RASXX_NOT_SUPPORTOS)" ""
  check_eq "step 3: the actions log in sequence order" \
    "$(action_order "$log")" "IsSupportOS CheckMultiExec CheckRasExec ConnectDefMigration InstallDevice "
  check "step 3: the older edition's install folder comes from the registry search" \
    log_has_line "$log" 'I rasV1InstalledPath = C:\\velk v1\\bin\\velk-access.exe'
  check "step 3: the client being installed is a candidate at TARGETDIR" \
    log_has_line "$log" 'I rasTmInstalledPath = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe'
  local file
  for file in bin/velk-access.exe bin/_installed_01 driver/vnettest.inf; do
    check "step 3: the product is installed: $file" test -f "$program_files/$file"
  done
  check_eq "step 3: the product is installed: version 1.0.0" "$(installed_versions)" 1.0.0
  check "step 3: the product is installed: the Active Setup entry has a StubPath" \
    test -n "$(reg_value "HKLM\\$ACTIVE_SETUP" StubPath)"
  check "step 3: the device install runs deferred on its CustomActionData" \
    log_has_line "$log" 'I CustomActionData:/inf="C:\\Program Files\\TESSMAR\\velk-access\\driver\\vnettest\.inf" /hwid=root\\vnettest .*/HelpUrl="https://.*"'
  check "step 3: no system-changing action reads the immediate TovrinData" log_lacks "$log" "TovrinData:/inf="
  check "step 3: the device is registered: UpdateDriverForPlugAndPlayDevices succeeded" \
    log_has_line "$log" 'I UpdateDriverForPlugAndPlayDevices succeeded\. bRebootRequired = 0'
  check_num "step 3: the device is registered: root-enumerated network devices" "$(net_devices)" -ge 1
  for file in connections/office.vpn req.dat; do
    check "step 3: ConnectDefMigration moved the per-user folder: $file" test -f "$data/$file"
  done
  check "step 3: ConnectDefMigration moved the per-user folder: the former maker's folder is gone" \
    test ! -e "$local_unix/Pellacor"

  # The user's next logon: Windows runs StubPath because the user's own
  # Active Setup key lacks the version, then records it.
  local stub version
  stub=$(reg_value "HKLM\\$ACTIVE_SETUP" StubPath)
  version=$(reg_value "HKLM\\$ACTIVE_SETUP" Version)
  reg_has_key "HKCU\\$ACTIVE_SETUP" || {
    # The command line as written, which cmd /c of an argument would requote.
    printf '%s\r\n' "$stub" >"$WORK/logon.cmd"
    wine_run cmd /c "$(winepath -w "$WORK/logon.cmd")" >"$WORK/active-setup.out" 2>&1
    timeout "$WINE_TIMEOUT" wineserver -w
    wine_run reg add "HKCU\\$ACTIVE_SETUP" /v Version /d "$version" /f >/dev/null 2>&1
  }
  out=$(cd "$STAGE" && wine_run velk-reqdat.exe inspect "$data_win\\req.dat" --key machine-new --show-value 2>&1 | tr -d '\r')
  printf '%s\n' "$out" >"$WORK/inspect-after-logon.out"
  check_line "step 4: Active Setup's StubPath ($stub) rebinds req.dat: its signature matches" "$out" "Signature: matches"
  check_line "step 4: the rebound req.dat keeps its value" "$out" "Value=$KEY_VALUE"
  check_eq "step 4: the migration is recorded as complete" "$(cat "$data/_completed_mig" 2>/dev/null)" 3
  check "step 4: the legacy keydata folder is removed" test ! -e "$data/keydata"
  check "step 4: the legacy mig folder is removed" test ! -e "$data/mig"
  check "step 4: the legacy keys are removed" not reg_has_key 'HKCU\Software\Pellacor\velk\accessEX'
  cp "$data/req.dat" "$WORK/req.dat.after-logon"

  # The older edition's client left running (a copy of cmd.exe waiting on
  # its input) during an unattended upgrade (/qn): CheckRasExec shows no
  # box, looks once, flags it, and the launch condition stops the upgrade.
  mkdir -p "$WINEPREFIX/drive_c/velk v1/bin"
  cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$WINEPREFIX/drive_c/velk v1/bin/velk-access.exe"
  keep_running client "$WORK" 'C:\velk v1\bin\velk-access.exe' /k
  sleep 3
  log="$WORK/install-client-running.log"
  rc=0
  MSI_WAIT_ALL=0 msi_install "$msi2" "$log" || rc=$?
  stop_running
  check_num "step 5: with a client left running the setup fails (msiexec 1603, log $log)" "$rc" -eq 67
  check "step 5: the running client is found" log_has_line "$log" 'I module = C:\\velk v1\\bin\\velk-access.exe'
  check_eq "step 5: RASXX_RUNNING = 1" "$(log_property "$log" RASXX_RUNNING)" 1
  check "step 5: the launch condition stops the setup" \
    grep -q '^Action ended .*: LaunchConditions\. Return value 0\.$' "$log"
  check_eq "step 5: 1.0.0 stays installed" "$(installed_versions)" 1.0.0
  check_num "step 5: unattended, no box: one look" \
    "$(grep -c -F 'I module = C:\velk v1\bin\velk-access.exe' "$log")" -eq 1
  check "step 5: unattended, no box: one line saying why" \
    log_has_line "$log" 'W No message box: UILevel is 2 \(no user interface\); the running client is flagged without asking'

  # Another setup holds the single-instance mutex (as its custom-action
  # process does until it ends): the upgrade is refused with 25001.
  keep_running hold "$STAGE" tovrin-load.exe --hold Tovrin64.dll RunCheckMultiExecW
  local _
  for _ in $(seq 1 30); do grep -q HRESULT "$WORK/hold.out" 2>/dev/null && break; sleep 1; done
  log="$WORK/install-while-held.log"
  rc=0
  MSI_WAIT_ALL=0 msi_install "$msi2" "$log" || rc=$?
  stop_running
  check "step 5: the holder took the mutex" grep -q -x "HRESULT: 0x00000000" <(tr -d "\r" <"$WORK/hold.out")
  check_num "step 5: a second setup while the mutex is held fails (msiexec 1603, log $log)" "$rc" -eq 67
  check_eq "step 5: while the mutex is held 1.0.0 stays installed" "$(installed_versions)" 1.0.0
  check "step 5: installer error 25001 with the Error table's text and the HRESULT" \
    grep -q -x -F "Another velk-access setup is running (error -2147467250). Let it finish, then run this setup again." "$log"

  log="$WORK/upgrade.log"
  rc=0
  msi_install "$msi2" "$log" || rc=$?
  check_num "step 6: the major upgrade succeeds (msiexec 0, log $log)" "$rc" -eq 0
  check_eq "step 6: the major upgrade replaces 1.0.0 by 2.0.0" "$(installed_versions)" 2.0.0
  # Windows removes the older product with UPGRADINGPRODUCTCODE set, so its
  # per-user removal stays out; Wine's RemoveExistingProducts sets none and
  # the older package's RemoveRakAll and RemoveSparkleReg run.
  if [ -f "$data/req.dat" ]; then
    check "step 6: the user's data survives the upgrade: req.dat byte-identical" \
      cmp -s "$data/req.dat" "$WORK/req.dat.after-logon"
    check "step 6: the user's data survives the upgrade: the definitions" test -f "$data/connections/office.vpn"
    check "step 6: the user's data survives the upgrade: the updater settings" \
      reg_has_key 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle'
  else
    check "step 6: Wine removed the older product without UPGRADINGPRODUCTCODE: its RemoveRakAll emptied the data" \
      test ! -e "$local_unix/TESSMAR"
    check "step 6: Wine removed the older product without UPGRADINGPRODUCTCODE: its RemoveSparkleReg removed the keys" \
      not reg_has_key 'HKCU\SOFTWARE\TESSMAR'
    skip "step 6: the user's data survives the upgrade (needs UPGRADINGPRODUCTCODE in the older product's removal)"
    put "$data/connections/office.vpn" "[office]"
    cp "$WORK/req.dat.after-logon" "$data/req.dat"
    wine_run reg add 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle' /v CheckForUpdates /d 1 /f >/dev/null 2>&1
  fi
  # The older product's removal as Windows runs it inside an upgrade, then
  # the newer product again.
  log="$WORK/upgrade-removal.log"
  rc=0
  msi_uninstall "$msi2" "$log" 'UPGRADINGPRODUCTCODE={7A3C5E21-0000-4000-8000-000000000002}' || rc=$?
  check_num "step 6: a removal with UPGRADINGPRODUCTCODE succeeds (log $log)" "$rc" -eq 0
  check_eq "step 6: a removal with UPGRADINGPRODUCTCODE removes the device only" "$(action_order "$log")" "UninstallDevice "
  check "step 6: a removal with UPGRADINGPRODUCTCODE keeps req.dat" cmp -s "$data/req.dat" "$WORK/req.dat.after-logon"
  check "step 6: a removal with UPGRADINGPRODUCTCODE keeps the updater settings" \
    reg_has_key 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle'
  rc=0
  msi_install "$msi2" "$WORK/reinstall.log" || rc=$?
  check_num "step 6: 2.0.0 installs again (log $WORK/reinstall.log)" "$rc" -eq 0
  check_eq "step 6: 2.0.0 is installed again" "$(installed_versions)" 2.0.0

  # Files the package did not install: a marker the client made and a
  # note the user left.
  put "$program_files/bin/_installed_05" ""
  put "$program_files/bin/readme.txt" "the user's note"

  # A removal that fails after UninstallDevice (the probe, before
  # RemoveFiles): the installer rolls it back. The adapter is installed
  # again and every user's data stays, since its removal waits for the
  # commit. Wine keeps the device node on removal, so the rollback's
  # adapter comes as one node more.
  local devices_before
  devices_before=$(net_devices)
  log="$WORK/uninstall-failing.log"
  rc=0
  msi_uninstall "$msi2" "$log" VELK_PROBE_FAIL=1 || rc=$?
  printf '%s\n' "$(log_lines "$log")" >"$WORK/uninstall-failing-lines.txt"
  check_num "step 7: a removal failing after UninstallDevice fails (msiexec 1603, cut to 67 by Wine; log $log)" "$rc" -eq 67
  check "step 7: the failing removal ran UninstallDevice first" log_has_line "$log" "I CTovrinModule::RemoveDevice - enter"
  check "step 7: the probe after it failed" log_has_line "$log" 'E SetupDiGetINFClass\(\) = .*'
  check "step 7: the rollback installs the adapter again from its INF with its connection name" \
    log_has_line "$log" 'I CustomActionData:/inf="C:\\Program Files\\TESSMAR\\velk-access\\driver\\vnettest\.inf" /hwid=root\\vnettest /ConnName="velk-access VPN" /HelpUrl="https://.*"'
  check "step 7: the rollback's driver installation succeeds" \
    log_has_line "$log" 'I UpdateDriverForPlugAndPlayDevices succeeded\. bRebootRequired = 0'
  check "step 7: the rollback names the connection" log_has_line "$log" 'I SetConnectionName\("velk-access VPN"\)'
  check_num "step 7: the adapter is back: one root network node more (Wine kept the old one)" \
    "$(net_devices)" -eq $((devices_before + 1))
  check "step 7: no user's data was removed: RemoveRakAll and RemoveSparkleReg did not run" \
    not grep -q -E ' I (RemoveRakAll|RemoveSparkleReg) - enter | (RemoveRakAll|RemoveSparkleReg) log PID' "$log"
  check "step 7: after the failed removal req.dat is byte-identical" cmp -s "$data/req.dat" "$WORK/req.dat.after-logon"
  check "step 7: after the failed removal the definitions stay" test -f "$data/connections/office.vpn"
  check "step 7: after the failed removal the updater settings stay" reg_has_key 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle'
  check "step 7: after the failed removal the client's marker stays" test -f "$program_files/bin/_installed_05"
  # Windows' rollback of a removal restores the product's registration;
  # Wine's unpublishes the product as well, so the case installs it again.
  if grep -q '^Action start .*: UnpublishProduct\.$' "$log"; then
    skip "step 7: after the failed removal 2.0.0 stays registered (Wine's rollback unpublishes the product)"
    rc=0
    msi_install "$msi2" "$WORK/reinstall-after-rollback.log" || rc=$?
    check_num "step 7: 2.0.0 installs again after Wine's rollback (log $WORK/reinstall-after-rollback.log)" "$rc" -eq 0
  else
    check_eq "step 7: after the failed removal 2.0.0 is still installed" "$(installed_versions)" 2.0.0
  fi
  log="$WORK/uninstall.log"
  rc=0
  msi_uninstall "$msi2" "$log" || rc=$?
  printf '%s\n' "$(log_lines "$log")" >"$WORK/uninstall-lines.txt"
  check "step 7: the device removal runs deferred on its CustomActionData" \
    log_has_line "$log" 'I CustomActionData:/hwid=root\\vnettest /clsid=\{4D36E972-E325-11CE-BFC1-08002BE10318\} /HelpUrl="https://.*"'
  check "step 7: the per-user removal runs deferred on its CustomActionData" \
    log_has_line "$log" 'I CustomActionData:/bin="C:\\Program Files\\TESSMAR\\velk-access\\bin\\" /HelpUrl="https://.*"'
  check_num "step 7: the removal succeeds (log $log)" "$rc" -eq 0
  check_eq "step 7: the removal actions log in order" "$(action_order "$log")" "UninstallDevice RemoveRakAll RemoveSparkleReg "
  check "step 7: the per-user data directories are removed" test ! -e "$local_unix/TESSMAR"
  check "step 7: the updater keys are removed" not reg_has_key 'HKCU\SOFTWARE\TESSMAR'
  check "step 7: the user's readme.txt stays" test -f "$program_files/bin/readme.txt"
  check_eq "step 7: the _installed_ markers are gone" \
    "$(find "$program_files/bin" -maxdepth 1 -name '_installed_*' 2>/dev/null)" ""
  check_eq "step 7: no file the package installed is left" \
    "$(cd "$program_files" && find . -type f)" "./bin/readme.txt"
  check_eq "step 7: the product is no longer registered" "$(installed_versions)" ""
  check "step 7: the Active Setup entry is removed" not reg_has_key "HKLM\\$ACTIVE_SETUP"
  # Wine's class installer stub refuses DIF_REMOVE: its device nodes stay.
  check "step 7: UninstallDevice found the adapter" log_has_line "$log" "I CTovrinModule::RemoveDevice - enter"
  check_num "step 7: Wine keeps the adapter's device node" "$(net_devices)" -ge 1

  # Rollback disabled (DISABLEROLLBACK=1; the installer then sets
  # RollbackDisabled, as under the DisableRollback policy): no commit action
  # runs, so the deferred twins remove the data at the end of the script.
  rc=0
  msi_install "$msi2" "$WORK/install-again.log" || rc=$?
  check_num "step 8: 2.0.0 installs again (log $WORK/install-again.log)" "$rc" -eq 0
  put "$data/connections/office.vpn" "[office]"
  wine_run reg add 'HKCU\SOFTWARE\TESSMAR\velk-access\WinSparkle' /v CheckForUpdates /d 1 /f >/dev/null 2>&1
  log="$WORK/uninstall-rollback-disabled.log"
  rc=0
  msi_uninstall "$msi2" "$log" DISABLEROLLBACK=1 || rc=$?
  check_num "step 8: the removal with rollback disabled succeeds (log $log)" "$rc" -eq 0
  check "step 8: with rollback disabled the deferred twins run" \
    eval "grep -q '^Action start .*: Tovrin_RemoveRakAllNoRollback\.\$' '$log' && grep -q '^Action start .*: Tovrin_RemoveSparkleRegNoRollback\.\$' '$log'"
  check "step 8: with rollback disabled no commit action is scheduled" \
    not grep -q -E '^Action start .*: Tovrin_(RemoveRakAll|RemoveSparkleReg)\.$' "$log"
  check "step 8: with rollback disabled the per-user data directories are removed" test ! -e "$local_unix/TESSMAR"
  check "step 8: with rollback disabled the updater keys are removed" not reg_has_key 'HKCU\SOFTWARE\TESSMAR'
  local logs=() name
  for name in "$WORK"/*.log; do
    [ -e "$name" ] || continue
    name=$(basename "$name")
    [ "$name" = wineboot.log ] || logs+=("$name")
  done
  echo "  MSI logs: ${logs[*]} in $WORK"
  # CI keeps them as an artefact when it names a folder.
  if [ -n "${VELK_WINE_ARTIFACTS:-}" ]; then
    mkdir -p "$VELK_WINE_ARTIFACTS/lifecycle" && (cd "$WORK" && cp -- "${logs[@]}" "$VELK_WINE_ARTIFACTS/lifecycle/")
  fi
}
