# shellcheck shell=bash
# The device actions under Wine: an adapter from a driver-less Net INF is
# registered and gets its driver through InstallDevice (a deferred MSI
# custom action), UninstallDevice finds it again, and a setup failing after
# the adapter is in runs the rollback action. Wine has no Network
# Connections folder, no DriverInfPath property and only a stub of
# SetupDiSetClassInstallParamsW, so the renaming fails (the installation
# still succeeds) and the removal stops before DIF_REMOVE; the checks
# pin down those lines. The rest is tested on the host build.

case_main() {
  wine_new_prefix
  local msi log lines
  cp "$CASE_DIR/devices.inf" "$WORK/"
  msi=$(msi_build "$CASE_DIR/devices.wxs") || { not_ok "devices.msi builds"; return; }

  log="$WORK/install.log"
  local rc=0
  msi_install "$msi" "$log" || rc=$?
  check_num "installation succeeds (msiexec 0)" "$rc" -eq 0
  lines=$(log_lines "$log")
  printf '%s\n' "$lines" >"$WORK/install-lines.txt"
  check "InstallDevice scope" log_has_line "$log" "I CTovrinModule::InstallDevice - enter"
  check "InstallDevice runs deferred on its CustomActionData, the help address inside" \
    log_has_line "$log" 'I CustomActionData:/inf="C:\\Program Files\\velk-devices-test\\vnettest\.inf" /hwid=root\\vnettest /ConnName="velk test VPN" /HelpUrl="https://help\.example/devices"'
  check "the rollback action stays out of a successful setup" log_lacks "$log" "UninstallDevice - enter"
  check "the INF's class, registration and driver update work" \
    log_has_line "$log" "I UpdateDriverForPlugAndPlayDevices succeeded\. bRebootRequired = 0"
  check "no setup step fails" log_lacks "$log" "() = "
  check "the renaming is asked for" log_has_line "$log" 'I SetConnectionName\("velk test VPN"\)'
  check "the renaming's scope" log_has_line "$log" "I CTovrinModule::SetConnectionName - leave"
  # Wine's Net class installer writes no NetCfgInstanceId: the renaming ends
  # at once (no waits) with the error text of 0x80070002 in Wine's wording;
  # the action still succeeds.
  check "the renaming fails with 0x80070002" log_has_line "$log" "E .*\(0x80070002\)"
  check "no connection key was waited for" log_lacks "$log" "I open SYSTEM"
  check "no connection was renamed" log_lacks "$log" "Change connection name"
  check "InstallDevice result 0 (no installer error)" log_lacks "$log" "The error code is 25000"
  check_num "the device node exists" "$(net_devices)" -ge 1

  log="$WORK/uninstall.log"
  rc=0
  msi_uninstall "$msi" "$log" || rc=$?
  check_num "uninstallation succeeds (msiexec 0)" "$rc" -eq 0
  lines=$(log_lines "$log")
  printf '%s\n' "$lines" >"$WORK/uninstall-lines.txt"
  check "UninstallDevice scope" log_has_line "$log" "I CTovrinModule::UninstallDevice - enter"
  check "UninstallDevice runs deferred on its CustomActionData" \
    log_has_line "$log" 'I CustomActionData:/hwid=root\\vnettest /clsid=\{4D36E972-E325-11CE-BFC1-08002BE10318\}'
  check "the device is found by its hardware id" log_has_line "$log" "I CTovrinModule::RemoveDevice - enter"
  check "DriverInfPath is not known to Wine (1168)" \
    log_has_line "$log" "E SetupDiGetDeviceProperty\(\) = .*\(0x80070490\)"
  # The stub sets no error of its own: the text is that of the last one (1168).
  check "the remove parameters are refused by Wine's stub" \
    log_has_line "$log" "E SetupDiSetClassInstallParams\(\) = .*\(0x8[0-9a-f]{7}\)"
  check "the removal result is logged with the instance id" \
    log_has_line "$log" "I ROOT\\\\NET\\\\[0-9]{4} : RemoveDevice result = 8[0-9a-f]{7}"
  check "the action still succeeds" log_lacks "$log" "The error code is 25000"
  check "no driver package removal is tried without its name" log_lacks "$log" "infPath = "
  check_num "so the device node stays in Wine" "$(net_devices)" -ge 1

  # A setup failing after the adapter is in: the rollback action removes it
  # (as far as Wine's stub lets it, see above) and the setup ends in 1603.
  log="$WORK/install-failing.log"
  rc=0
  msi_install "$msi" "$log" FAIL_AFTER_DEVICE=1 || rc=$?
  printf '%s\n' "$(log_lines "$log")" >"$WORK/install-failing-lines.txt"
  check_num "a setup failing after InstallDevice ends in 1603 (67 under Wine)" "$rc" -eq 67
  check "the failing action is the second InstallDevice" \
    log_has_line "$log" 'I CustomActionData:/inf=C:\\velk-missing\\vnettest\.inf /hwid=root\\vnettest'
  check "the rollback action runs UninstallDevice" log_has_line "$log" "I UninstallDevice - enter"
  check "UninstallDevice removes the device of its CustomActionData" \
    log_has_line "$log" "I CTovrinModule::RemoveDevice - enter"
  check_num "the rollback comes after the failure" \
    "$(log_lines "$log" | grep -n -E 'UninstallDevice - enter|Error 25000|E SetupDiGetINFClass' | head -n 1 | grep -c UninstallDevice)" -eq 0

  # The command-line forms through a rundll-style caller (their log lines
  # reach no installation).
  local out
  out=$(cd "$WORK" && wine_run tovrin-load.exe Tovrin64.dll RunInstallDeviceW '/inf=C:\velk-missing\vnettest.inf' \
    '/hwid=root\vnettest' 2>/dev/null | tr -d '\r')
  check_eq "a missing INF fails the command-line form with 0x80070002" "$out" "HRESULT: 0x80070002"
  out=$(cd "$WORK" && wine_run tovrin-load.exe Tovrin64.dll RunUninstallDeviceW '/hwid=root\vnettest' \
    '/clsid={4D36E972-E325-11CE-BFC1-08002BE10318}' 2>/dev/null | tr -d '\r')
  check_eq "RunUninstallDeviceW only logs the failed removal" "$out" "HRESULT: 0x00000000"
  out=$(cd "$WORK" && wine_run tovrin-load.exe Tovrin64.dll RunUninstallDeviceW '/hwid=root\vnettest' '/clsid=Net' \
    2>/dev/null | tr -d '\r')
  check_eq "a clsid that is no GUID is CO_E_CLASSSTRING" "$out" "HRESULT: 0x800401f3"
}
