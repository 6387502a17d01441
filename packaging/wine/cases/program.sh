# shellcheck shell=bash
# The migration program as built for Windows, started as a user starts it:
# velk-reqdat.exe writes a req.dat bound to the prefix's product ID,
# velk-access-migration.exe re-binds it to Wine's SMBIOS identity, removes
# the previous generation's folders and keys through hidden cmd.exe
# processes, and a second run changes nothing. The host build's velk-reqdat
# must open the converted file with the identity the Windows build derived
# (HOST_BIN, when the host build is at hand). The 32-bit program does the
# same under WoW64 where this Wine runs 32-bit programs (STAGE/x86).

KEY_VALUE="VK-2F9A-77C1-WINE"

# Windows paths of the Wine user's folders, and their Unix paths.
prefix_paths() {
  local_win=$(wine_run cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
  local_unix=$(winepath -u "$local_win" 2>/dev/null)
  data_win="$local_win\\TESSMAR\\velk\\velk-access"
  data_unix="$local_unix/TESSMAR/velk/velk-access"
}

# The previous generation's data: three folders in the data directory, one
# beside it, and two registry keys of the user.
plant_legacy() {
  mkdir -p "$data_unix/keydata/certs" "$data_unix/keydata_EX" "$data_unix/mig" \
    "$local_unix/Pellacor/velk/velk-access LE"
  echo "old certificate" >"$data_unix/keydata/certs/client.pem"
  echo "old profile" >"$data_unix/mig/profile.ini"
  echo "old LE settings" >"$local_unix/Pellacor/velk/velk-access LE/settings.ini"
  wine_run reg add 'HKCU\Software\Pellacor\velk\access' /v Server /d vpn-old.example /f >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\Pellacor\velk\accessEX' /v Edition /d EX /f >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\Pellacor\velk\keep' /v Kept /d yes /f >/dev/null 2>&1
}


# Runs one of the programs in BIN (a staged folder), from its own folder.
in_bin() { (cd "$BIN" && wine_run "$@"); }

# The migration program, then every process it started.
run_migration() {
  local rc=0
  in_bin velk-access-migration.exe >"$WORK/migration-$1.out" 2>&1 || rc=$?
  timeout "$WINE_TIMEOUT" wineserver -w
  return $rc
}

log_line() { tr -d '\r' <"$data_unix/velk-access-migration.log" | grep -q -E -- "$1"; }

# inspect output of velk-reqdat.exe for the converted file.
inspect_win() { in_bin velk-reqdat.exe inspect "$data_win\\req.dat" "$@" 2>&1 | tr -d '\r'; }

# The whole conversion in the current prefix, by the programs in BIN.
# LABEL names the build in the check lines.
convert_and_check() {
  local label=$1 rc uuid product_id out
  prefix_paths
  [ -n "$local_unix" ] || { not_ok "$label: the Wine user's local application data folder"; return; }
  mkdir -p "$data_unix"
  plant_legacy

  out=$(in_bin velk-reqdat.exe encrypt "$data_win\\req.dat" --value "$KEY_VALUE" --key machine-old 2>&1 | tr -d '\r')
  check "$label: velk-reqdat.exe writes req.dat bound to the product ID" test -s "$data_unix/req.dat"
  cp "$data_unix/req.dat" "$WORK/req.dat.old-$label"

  rc=0
  run_migration "$label-1" || rc=$?
  check_num "$label: velk-access-migration.exe exits with 0" "$rc" -eq 0

  out=$(inspect_win --key machine-new --show-value)
  printf '%s\n' "$out" >"$WORK/inspect-$label.out"
  uuid=$(printf '%s\n' "$out" | sed -n 's/^Binding: machine-new (smbios=\(.*\))$/\1/p')
  check "$label: req.dat opens with the new binding (smbios=$uuid)" \
    test -n "$uuid" -a "$(printf '%s\n' "$out" | grep -c '^Signature: matches$')" -eq 1
  check "$label: the key value is carried over unchanged" grep -q -x -F "Value=$KEY_VALUE" <<<"$out"
  check "$label: req.dat no longer opens with the product ID" \
    grep -q '^Binding: none of the keys tried opens the file$' <<<"$(inspect_win --key machine-old)"

  if [ -n "${HOST_BIN:-}" ] && [ -x "$HOST_BIN/velk-reqdat" ] && [ -n "$uuid" ]; then
    cp "$data_unix/req.dat" "$WORK/req.dat.new-$label"
    out=$("$HOST_BIN/velk-reqdat" inspect "$WORK/req.dat.new-$label" --key "smbios=$uuid" --show-value 2>&1)
    check_num "$label: the host velk-reqdat opens it with smbios=$uuid: one line says the signature matches" \
      "$(grep -c -x -F 'Signature: matches' <<<"$out")" -eq 1
    check_num "$label: the host velk-reqdat opens it with smbios=$uuid: one line gives the same value" \
      "$(grep -c -x -F "Value=$KEY_VALUE" <<<"$out")" -eq 1
    product_id=$(wine_run reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v ProductId 2>/dev/null \
      | tr -d '\r' | sed -n 's/^ *ProductId *REG_SZ *//p')
    out=$("$HOST_BIN/velk-reqdat" inspect "$WORK/req.dat.old-$label" --key "product-id=$product_id" 2>&1)
    check "$label: the host velk-reqdat opens the original with product-id=$product_id" \
      grep -q -x '^Signature: matches$' <<<"$out"
  else
    skip "$label: the host velk-reqdat agrees (no host build at hand)"
  fi

  check_eq "$label: first-run log lines in order" \
    "$(tr -d '\r' <"$data_unix/velk-access-migration.log" | sed -n 's/.*\[info\] //p' | tr '\n' '|')" \
    "InitialStatus : 1|Start converting|Finish converting|"
  check_eq "$label: _completed_mig holds 3" "$(cat "$data_unix/_completed_mig" 2>/dev/null)" 3
  check "$label: req.dat.new is gone" test ! -e "$data_unix/req.dat.new"
  local legacy
  for legacy in "$data_unix/keydata" "$data_unix/keydata_EX" "$data_unix/mig" "$local_unix/Pellacor/velk/velk-access LE"; do
    check "$label: the legacy folder ${legacy#"$local_unix/"} is removed" test ! -e "$legacy"
  done
  check "$label: the access key is removed" not reg_has_key 'HKCU\Software\Pellacor\velk\access'
  check "$label: the accessEX key is removed" not reg_has_key 'HKCU\Software\Pellacor\velk\accessEX'
  check "$label: their parent is kept" reg_has_key 'HKCU\Software\Pellacor\velk\keep'

  cp "$data_unix/req.dat" "$WORK/req.dat.after-$label"
  rc=0
  run_migration "$label-2" || rc=$?
  check_num "$label: a second run exits with 0" "$rc" -eq 0
  check "$label: a second run leaves req.dat byte-identical" cmp -s "$data_unix/req.dat" "$WORK/req.dat.after-$label"
  check_eq "$label: the second run starts from state 3 and converts nothing" \
    "$(tr -d '\r' <"$data_unix/velk-access-migration.log" | sed -n 's/.*\[info\] //p' | tail -n 1)" \
    "InitialStatus : 3"
  # What both builds must write alike: the state file's bytes, and the log
  # without its times.
  cp "$data_unix/_completed_mig" "$OUTPUTS/$label.state"
  tr -d '\r' <"$data_unix/velk-access-migration.log" | sed 's|^[0-9/]* [0-9:]* ||' >"$OUTPUTS/$label.log"

  # A user without a data directory: the error box (MessageBoxW returns at
  # once without a display), exit code 0, nothing created.
  rm -rf "$local_unix/TESSMAR"
  rc=0
  run_migration "$label-nodata" || rc=$?
  check_num "$label: without a data directory: exit code 0" "$rc" -eq 0
  check "$label: without a data directory: nothing created" test ! -e "$local_unix/TESSMAR"
}

case_main() {
  OUTPUTS="$WORK/outputs"
  mkdir -p "$OUTPUTS"
  wine_new_prefix
  BIN="$WORK/x64"
  mkdir -p "$BIN"
  for f in velk-access-migration.exe velk-reqdat.exe; do
    cp "$STAGE/$f" "$BIN/" || { not_ok "$f is staged"; return; }
  done
  convert_and_check x64

  if [ ! -f "$STAGE/x86/velk-access-migration.exe" ]; then
    skip "x86: the 32-bit program (no win32 build staged)"
  elif ! wine_runs_32bit; then
    skip "x86: the 32-bit program (this Wine runs no 32-bit programs: $(bash "$CASE_DIR/../../../tools/ci/i386-probe.sh"))"
  else
    # A fresh prefix: the 64-bit run has converted and cleaned up already.
    wineserver -k 2>/dev/null
    WORK="$WORK/x86-run"
    mkdir -p "$WORK"
    wine_new_prefix
    BIN="$STAGE/x86"
    convert_and_check x86
    check "x86: the state file is byte for byte the x64 build's" cmp -s "$OUTPUTS/x64.state" "$OUTPUTS/x86.state"
    check "x86: the log is the x64 build's but for its times" cmp -s "$OUTPUTS/x64.log" "$OUTPUTS/x86.log"
  fi
}
