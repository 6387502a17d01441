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
  check "step 1: Quillon Transit 1.0.0 and 2.0.0 build with wixl and add-errors.sh" test "$built" = yes
  [ "$built" = yes ] || { cat "$WORK"/build-*.log; return; }
  check "step 1: the Error rows name Quillon Transit" \
    grep -q -F "Another Quillon Transit setup is running (error [2])." <(msiinfo export "$WORK/quillon-1.0.0.msi" Error)

  local out rc=0
  out=$(cd "$WORK" && bash "$kit/validate.sh" quillon-1.0.0.msi) || rc=$?
  printf '%s\n' "$out" >"$WORK/validate.out"
  check "step 1: validate.sh passes on the package by its relative path (see $WORK/validate.out)" test "$rc" -eq 0
  grep FAIL <<<"$out" | sed 's/^  FAIL - /         validate.sh: /'

  local program_files="$WINEPREFIX/drive_c/Program Files/Quillon/Transit" log
  log="$WORK/install.log"
  rc=0
  msi_install "$WORK/quillon-1.0.0.msi" "$log" || rc=$?
  check "step 2: the installation succeeds (msiexec 0, log $log)" test "$rc" -eq 0
  check "step 2: files in the package's own folder, version 1.0.0 registered, its Active Setup entry" \
    eval 'test -f "$program_files/bin/velk-access.exe" -a -f "$program_files/bin/_installed_01" -a -f "$program_files/driver/quillon.inf" &&
      test "$(quillon_versions)" = 1.0.0 && test -n "$(reg_value "$QUILLON_ACTIVE_SETUP" StubPath)"'
  check "step 2: the running-client check looks in the folder QuillonPlaceTarget set" \
    log_has_line "$log" 'I rasTmInstalledPath = C:\\Program Files\\Quillon\\Transit\\bin\\velk-access\.exe'
  check "step 2: the kit's actions get the package's help address" grep -q -F 'support.quillon.example/transit' "$log"
  check "step 2: the adapter of quillon.inf is registered" \
    eval 'log_has_line "$log" "I UpdateDriverForPlugAndPlayDevices succeeded\. bRebootRequired = 0" && test "$(net_devices)" -ge 1'

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
      check "step 3: the upgrade stops with 1603 (67 under Wine), RASXX_RUNNING=1 in the log, 1.0.0 stays (log $log)" \
        eval 'test "$rc" -eq 67 && test "$(log_property "$log" RASXX_RUNNING)" = 1 && test "$(quillon_versions)" = 1.0.0'
      if [ -x "$HOST_BIN/velk-msilog" ]; then
        out=$("$HOST_BIN/velk-msilog" "$log" 2>&1)
        check "step 3: velk-msilog names the launch condition and RASXX_RUNNING" \
          eval 'grep -q -x "setup: failed, stopped by LaunchConditions" <<<"$out" && grep -q -x "  RASXX_RUNNING = 1" <<<"$out"'
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
  check "step 4: the removal succeeds (msiexec 0, log $log)" test "$rc" -eq 0
  check "step 4: nothing of the package is left (files, registration, Active Setup entry)" \
    eval 'test -z "$(cd "$program_files" 2>/dev/null && find . -type f)" && test -z "$(quillon_versions)" &&
      ! reg_has_key "$QUILLON_ACTIVE_SETUP"'
}
