# shellcheck shell=bash
# The installation checks under Wine: the single-instance mutex held by the
# installer's custom-action process (a second check in the same install
# fails with 25001 and the install rolls back), and the running-client check
# against a client started from a candidate path (a copy of Wine's cmd.exe
# waiting on its input). The installs run unattended (msiexec /qn, UILevel
# 2): the check shows no box, looks once and sets RASXX_RUNNING (display.sh
# has the box of an install with a user interface). The privilege step is not tested here: Wine's one user
# holds every privilege (the host tests and fakes cover the refusals).

registered() {
  wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    grep -q -F 'Tovrin checks test'
}
not_registered() { ! registered; }

case_main() {
  wine_new_prefix
  local msi log rc
  msi=$(msi_build "$CASE_DIR/checks.wxs") || { not_ok "checks.msi builds"; return; }
  cp "$CASE_DIR/checks.wxs" "$WORK/"
  local product="$WINEPREFIX/drive_c/Program Files/velk-checks-test/readme.txt"

  # Twice in one install: the second finds the mutex the first keeps.
  log="$WORK/install-twice.log"
  rc=0
  msi_install "$msi" "$log" SECOND_CHECK=1 || rc=$?
  check_num "the install fails (1603, cut to 67 by Wine)" "$rc" -eq 67
  check_num "the first check passes" "$(action_lines "$log" CA_CheckMultiExec | grep -c -F 'CTovrinModule::CheckMultiExec - leave')" -ge 1
  check "the second check fails with the HRESULT" log_has_line "$log" "E .*\(0x8000400e\)"
  check_file_has "installer error 25001" "$log" 'The error code is 25001.'
  check "the install rolled back" test ! -e "$product"
  check "the product is not registered" not_registered
  check "the running-client check did not run" log_lacks "$log" "CheckRasExec - enter"

  # A client running from the candidate path of the client being installed.
  local client='C:\velk-target\bin\velk-access.exe'
  mkdir -p "$WINEPREFIX/drive_c/velk-target/bin" "$WINEPREFIX/drive_c/velk v1/bin"
  cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$WINEPREFIX/drive_c/velk-target/bin/velk-access.exe"
  # A copy in a folder that is no candidate must not count.
  cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$WINEPREFIX/drive_c/velk v1/bin/velk-access-ex.exe"
  # The clients end when their input does: msi_install waits for every
  # process of the prefix, so they must not outlive the install by much.
  (sleep 40 | timeout "$WINE_TIMEOUT" wine "$client" /k >/dev/null 2>&1 &)
  (sleep 40 | timeout "$WINE_TIMEOUT" wine 'C:\velk v1\bin\velk-access-ex.exe' /k >/dev/null 2>&1 &)
  sleep 3

  log="$WORK/install-running.log"
  rc=0
  msi_install "$msi" "$log" "TARGETDIR=C:\\VELK-TARGET\\" 'RASV1_INSTALLED=C:\velk v1' || rc=$?
  check_num "the install succeeds" "$rc" -eq 0
  check_num "one single-instance check, passed" "$(grep -c -F 'CTovrinModule::CheckMultiExec - leave' "$log")" -eq 1
  check "candidate of the client being installed" \
    log_has_line "$log" 'I rasTmInstalledPath = C:\\VELK-TARGET\\bin\\velk-access.exe'
  check "candidate of the old edition" log_has_line "$log" 'I rasV1InstalledPath = C:\\velk v1\\bin\\velk-access.exe'
  check "the client is found (other letter case)" log_has_line "$log" 'I module = C:\\velk-target\\bin\\velk-access.exe'
  check "found in the session list" log_has_line "$log" "I bRasTmRunning = TRUE"
  check_num "found once: unattended, nobody is asked to exit it" \
    "$(grep -c -F 'I module = C:\velk-target\bin\velk-access.exe' "$log")" -eq 1
  check "one line says why no box was shown" \
    log_has_line "$log" 'W No message box: UILevel is 2 \(no user interface\); the running client is flagged without asking'
  check "the copy elsewhere is not the client" log_lacks "$log" 'module = C:\velk v1'
  check_eq "RASXX_RUNNING = 1" "$(log_property "$log" RASXX_RUNNING)" 1
  check "CheckRasExec returns 0" grep -q -E 'Action ended .*: CA_CheckRasExec\. Return value 1\.' "$log"
  check "the product is installed" test -e "$product"
  check "the product is registered" registered

  # No client: no flag.
  msi_uninstall "$msi" "$WORK/uninstall.log"
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  log="$WORK/install-idle.log"
  rc=0
  msi_install "$msi" "$log" "TARGETDIR=C:\\velk-target\\" || rc=$?
  check_num "without a client the install succeeds" "$rc" -eq 0
  check "without a client nothing is found" log_lacks "$log" "module = "
  check_eq "without a client no flag" "$(log_property "$log" RASXX_RUNNING)" ""
}
