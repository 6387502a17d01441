# shellcheck shell=bash
# The migration program's Windows adapters under Wine, one by one, through
# migration-adapters.exe (the program as a whole runs in the case
# "program"): known folder, files and the completion state over
# them, CopyFileW and DeleteFileW, the key file's MoveFileExW replacement,
# disk-file reads and run mutex, hidden cmd.exe processes removing a
# folder tree, the registry subkeys, the width of a wide character and the
# no-best-fit conversions, the message box and string 515 in
# English and Japanese. A copy of the program named cmd.exe is planted in
# its folder: the hidden interpreter must not be that one. The 32-bit build
# runs the English pass too, where this Wine runs 32-bit programs.

# Each "ok"/"FAIL" line of the program becomes a check of the case.
adapters_run() {
  local lang=$1 want=$2 out
  out=$( (cd "$WORK/app" && export LANG=$lang LC_ALL=$lang && wine_run migration-adapters.exe 'C:\velk-work' "$want") \
    2>/dev/null | tr -d '\r')
  printf '%s\n' "$out" >"$WORK/adapters-$want.out"
  [ -n "$out" ] || { not_ok "migration-adapters.exe runs ($want)"; return; }
  while IFS= read -r line; do
    case "$line" in
      "ok - "*) ok "${ADAPTERS_LABEL:-}${line#ok - }" ;;
      "FAIL - "*) not_ok "${ADAPTERS_LABEL:-}${line#FAIL - }" ;;
      "info - "*) printf '  info - %s\n' "${line#info - }" ;;
    esac
  done <<<"$out"
}

case_main() {
  wine_new_prefix
  mkdir -p "$WORK/app"
  cp "$STAGE/migration-adapters.exe" "$WORK/app/" || { not_ok "migration-adapters.exe is staged"; return; }
  cp "$STAGE/migration-adapters.exe" "$WORK/app/cmd.exe"

  adapters_run en_US.UTF-8 en

  # The user-interface language is the process's; a fresh server picks it up.
  wineserver -k 2>/dev/null
  adapters_run ja_JP.UTF-8 ja

  # The 32-bit build's adapters under WoW64, in a prefix of their own: the
  # 64-bit registry view, the local application data folder, and cmd.exe
  # through the redirected system folder.
  if [ ! -f "$STAGE/x86/migration-adapters.exe" ]; then
    skip "x86: the 32-bit adapters (no win32 build staged)"
  elif ! wine_runs_32bit; then
    skip "x86: the 32-bit adapters (this Wine runs no 32-bit programs: $(bash "$CASE_DIR/../../../tools/ci/i386-probe.sh"))"
  else
    wineserver -k 2>/dev/null
    WORK="$WORK/x86-run"
    mkdir -p "$WORK/app"
    wine_new_prefix
    cp "$STAGE/x86/migration-adapters.exe" "$WORK/app/"
    cp "$STAGE/x86/migration-adapters.exe" "$WORK/app/cmd.exe"
    ADAPTERS_LABEL="x86: " adapters_run en_US.UTF-8 en
  fi
}
