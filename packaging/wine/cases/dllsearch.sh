# shellcheck shell=bash
# DLL search: the shipped programs confine their own DLL search to the
# system folder first thing, so a DLL planted beside them is not loaded.
# Wine prefers its builtin DLLs, so the plant is made preferred here
# (WINEDLLOVERRIDES name=n,b), as a DLL in the program's folder is on
# Windows; dll-search.exe then loads that name late, as a program does,
# once without and once after the programs' restriction.

PLANTED=dwmapi

# Calls of SetDefaultDllDirectories a program makes, as Wine relays them.
relay_restriction() {
  local program=$1
  shift
  (cd "$WORK/app" && WINEDEBUG=+relay wine_run "$program" "$@" >"$WORK/$program.out" 2>"$WORK/$program.relay")
  grep -E 'KERNEL32\.SetDefaultDllDirectories' "$WORK/$program.relay" | tr -d '\r'
}

case_main() {
  wine_new_prefix
  for need in dll-search.exe planted-dll.dll velk-reqdat.exe velk-access-migration.exe; do
    [ -f "$STAGE/$need" ] || { not_ok "$need is not built"; return; }
  done
  mkdir -p "$WORK/app"
  cp "$STAGE/dll-search.exe" "$STAGE/velk-reqdat.exe" "$STAGE/velk-access-migration.exe" "$WORK/app/"
  cp "$STAGE/planted-dll.dll" "$WORK/app/$PLANTED.dll"
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$PLANTED=n,b"

  # The plant is taken when nothing restricts the search: the check can fail.
  local out
  out=$(cd "$WORK/app" && wine_run dll-search.exe --unrestricted "$PLANTED.dll" 2>&1 | tr -d '\r')
  check "without the restriction the planted $PLANTED.dll is loaded ($out)" test -f "$WORK/app/$PLANTED.dll.loaded"
  rm -f "$WORK/app/$PLANTED.dll.loaded"

  out=$(cd "$WORK/app" && wine_run dll-search.exe "$PLANTED.dll" 2>&1 | tr -d '\r')
  check "after the restriction the planted $PLANTED.dll is ignored" test ! -f "$WORK/app/$PLANTED.dll.loaded"
  check "after the restriction the system's $PLANTED.dll is loaded" \
    grep -q -i -x "loaded C:\\\\windows\\\\system32\\\\$PLANTED.dll" <<<"$out"

  # The shipped programs make that same restriction (only this call is relayed).
  wine_run reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'kernel32.SetDefaultDllDirectories' /f >/dev/null 2>&1
  local program calls
  for program in velk-reqdat.exe velk-access-migration.exe; do
    if [ "$program" = velk-reqdat.exe ]; then calls=$(relay_restriction "$program" --version); else calls=$(relay_restriction "$program"); fi
    check "$program restricts its DLL search to the system folder" \
      grep -q 'Call KERNEL32.SetDefaultDllDirectories(00000800)' <<<"$calls"
    check "$program: the restriction succeeds" \
      grep -q 'Ret  KERNEL32.SetDefaultDllDirectories() retval=00000001' <<<"$calls"
    check "$program does not load the planted $PLANTED.dll" test ! -f "$WORK/app/$PLANTED.dll.loaded"
  done
}
