# shellcheck shell=bash
# A package of another product, built only as the README tells a packager:
# "Quillon Transit" (quillon.wxs) with its own name, UpgradeCode, install
# folder, TARGETDIR setter QuillonPlaceTarget, help address, INF and a
# client stand-in, built with wixl and add-errors.sh and checked with
# validate.sh. Under Windows 10 it is installed, upgraded unattended (/qn)
# while its client runs, which must stop without a box with 1603 and
# RASXX_RUNNING, and removed.

QUILLON_ACTIVE_SETUP='HKLM\SOFTWARE\Microsoft\Active Setup\Installed Components\{E7A3C1F5-4B92-4D8E-A06C-3F5B8D2E9C17}'

# Display versions of the installed products named Quillon Transit.
quillon_versions() {
  wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/{name=0} /DisplayName.*REG_SZ *Quillon Transit$/{name=1} name && /DisplayVersion/{print $NF}' | sort
}

case_main() {
  wine_new_prefix
  wine_set_version win10
  local kit="$CASE_DIR/../../wix" src="$WORK/quillon-src" version built=yes
  # The package's files as its .wxs names them, with forward slashes.
  mkdir -p "$src/bin" "$src/driver"
  cp "$STAGE/Tovrin64.dll" "$STAGE/velk-access-migration.exe" "$src/bin/"
  # The client stand-in: a copy of Wine's cmd.exe, which runs until its input ends.
  cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$src/bin/velk-access.exe"
  : >"$src/bin/_installed_01"
  cp "$CASE_DIR/quillon.inf" "$src/driver/"
  for version in 1.0.0 2.0.0; do
    (cd "$src" && wixl -a x64 -D WIXL=1 -D "QuillonVersion=$version" -I "$kit" -o "$WORK/quillon-$version.msi" \
      "$CASE_DIR/quillon.wxs" && bash "$kit/add-errors.sh" "$WORK/quillon-$version.msi") >"$WORK/build-$version.log" 2>&1 ||
      built=no
  done
  check_eq "step 1: Quillon Transit 1.0.0 and 2.0.0 build with wixl and add-errors.sh" "$built" yes
  [ "$built" = yes ] || { cat "$WORK"/build-*.log; return; }
  check "step 1: the Error rows name Quillon Transit" \
    grep -q -F "Another Quillon Transit setup is running (error [2])." <(msiinfo export "$WORK/quillon-1.0.0.msi" Error)

  local out rc=0
  out=$(cd "$WORK" && bash "$kit/validate.sh" quillon-1.0.0.msi) || rc=$?
  printf '%s\n' "$out" >"$WORK/validate.out"
  check_num "step 1: validate.sh passes on the package by its relative path (see $WORK/validate.out)" "$rc" -eq 0
  grep FAIL <<<"$out" | sed 's/^  FAIL - /         validate.sh: /'

  local program_files="$WINEPREFIX/drive_c/Program Files/Quillon/Transit" log
  log="$WORK/install.log"
  rc=0
  msi_install "$WORK/quillon-1.0.0.msi" "$log" || rc=$?
  check_num "step 2: the installation succeeds (msiexec 0, log $log)" "$rc" -eq 0
  local file
  for file in bin/velk-access.exe bin/_installed_01 driver/quillon.inf; do
    check "step 2: $file in the package's own folder" test -f "$program_files/$file"
  done
  check_eq "step 2: version 1.0.0 registered" "$(quillon_versions)" 1.0.0
  check "step 2: its Active Setup entry has a StubPath" test -n "$(reg_value "$QUILLON_ACTIVE_SETUP" StubPath)"
  check "step 2: the running-client check looks in the folder QuillonPlaceTarget set" \
    log_has_line "$log" 'I rasTmInstalledPath = C:\\Program Files\\Quillon\\Transit\\bin\\velk-access\.exe'
  check_file_has "step 2: the kit's actions get the package's help address" "$log" 'support.quillon.example/transit'
  check "step 2: the adapter of quillon.inf is registered: UpdateDriverForPlugAndPlayDevices succeeded" \
    log_has_line "$log" 'I UpdateDriverForPlugAndPlayDevices succeeded\. bRebootRequired = 0'
  check_num "step 2: the adapter of quillon.inf is registered: root-enumerated network devices" "$(net_devices)" -ge 1

  # The installed client left running; an unattended upgrade as deployment
  # tools start it. A display is there, so a box would be drawn and wait
  # for OK: the setup must end by itself.
  if display_start; then
    keep_running client "$program_files/bin" 'C:\Program Files\Quillon\Transit\bin\velk-access.exe' /k
    sleep 3
    log="$WORK/upgrade-client-running.log"
    rc=0
    local started=$SECONDS
    WINE_TIMEOUT=90 MSI_WAIT_ALL=0 msi_install "$WORK/quillon-2.0.0.msi" "$log" || rc=$?
    local took=$((SECONDS - started))
    # A box left waiting would hold the prefix: end it (this case's prefix only).
    [ "$rc" -eq 124 ] && wineserver -k 2>/dev/null
    exec 8>&-
    display_stop
    timeout "$WINE_TIMEOUT" wineserver -w
    if [ "$rc" -eq 124 ]; then
      # CheckRasExec found the client and waits on its box: its scope has no
      # leave line in the log.
      local waiting=""
      action_lines "$log" Tovrin_CheckRasExec | grep -q "I CheckRasExec - leave" ||
        waiting="; CheckRasExec has no end in the log: it waits on its box"
      not_ok "step 3: msiexec /qn ends by itself with the client running: ended after ${took} s$waiting (log $log)"
      skip "step 3: the upgrade stops with 1603, RASXX_RUNNING=1 in the log, 1.0.0 stays (msiexec was ended)"
      skip "step 3: velk-msilog names the launch condition and RASXX_RUNNING (msiexec was ended)"
    else
      ok "step 3: msiexec /qn ends by itself with the client running (${took} s): no box waits for OK"
      check_num "step 3: the upgrade stops with 1603 (67 under Wine; log $log)" "$rc" -eq 67
      check_eq "step 3: RASXX_RUNNING = 1 in the log" "$(log_property "$log" RASXX_RUNNING)" 1
      check_eq "step 3: 1.0.0 stays" "$(quillon_versions)" 1.0.0
      if [ -x "$HOST_BIN/velk-msilog" ]; then
        out=$("$HOST_BIN/velk-msilog" "$log" 2>&1)
        check_line "step 3: velk-msilog names the launch condition" "$out" "setup: failed, stopped by LaunchConditions"
        check_line "step 3: velk-msilog names RASXX_RUNNING" "$out" "  RASXX_RUNNING = 1"
      else
        skip "step 3: velk-msilog names the launch condition and RASXX_RUNNING (no host build)"
      fi
    fi
  else
    skip "step 3: the unattended upgrade with the client running (no Xvfb display to show a box on)"
  fi

  # The package installed now (2.0.0 when the upgrade was not stopped).
  local installed
  installed=$(quillon_versions | tail -n 1)
  log="$WORK/uninstall.log"
  rc=0
  msi_uninstall "$WORK/quillon-${installed:-1.0.0}.msi" "$log" || rc=$?
  check_num "step 4: the removal succeeds (msiexec 0, log $log)" "$rc" -eq 0
  check_eq "step 4: no file of the package is left" "$(cd "$program_files" 2>/dev/null && find . -type f)" ""
  check_eq "step 4: the package is no longer registered" "$(quillon_versions)" ""
  check "step 4: its Active Setup entry is removed" not reg_has_key "$QUILLON_ACTIVE_SETUP"
}
