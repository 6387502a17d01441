# shellcheck shell=bash
# Functions for the Wine end-to-end cases. A case file defines case_main
# and runs in a subshell of its own with a fresh Wine prefix.
#
#   STAGE    folder holding the Windows binaries (Tovrin64.dll, tovrin-load.exe ...)
#   WORK     the case's own scratch folder (MSI files, logs)
#   WINEPREFIX  the case's prefix, made by wine_new_prefix

WINE_TIMEOUT=${WINE_TIMEOUT:-120}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

CASE_PASSED=0
CASE_FAILED=0
CASE_SKIPPED=0

ok() { CASE_PASSED=$((CASE_PASSED + 1)); printf '  ok   - %s\n' "$*"; }
not_ok() { CASE_FAILED=$((CASE_FAILED + 1)); printf '  FAIL - %s\n' "$*"; }
# A check that could not run here: counted apart, never as passed.
skip() { CASE_SKIPPED=$((CASE_SKIPPED + 1)); printf '  SKIP - %s\n' "$*"; }

# What a failed check saw and what it wanted, one "#" line each under its
# FAIL line (a value of several lines gives several).
got_expected() {
  local label value
  for label in got expected; do
    value=$1
    shift
    [ -n "$value" ] || value="(empty)"
    printf '%s\n' "$value" | sed "s/^/  #   $label: /"
  done
}

# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
  local what=$1 rc=0
  shift
  "$@" || rc=$?
  if [ "$rc" -eq 0 ]; then
    ok "$what"
  else
    not_ok "$what"
    got_expected "exit code $rc from: $*" "exit code 0"
  fi
}

# not COMMAND...: succeeds when the command fails (for check).
not() { ! "$@"; }

# check_eq DESCRIPTION GOT EXPECTED: the two texts are the same.
check_eq() {
  if [ "$2" = "$3" ]; then ok "$1"; else
    not_ok "$1"
    got_expected "$2" "$3"
  fi
}

# check_num DESCRIPTION GOT OP NUMBER: an integer comparison as test(1)
# makes it (OP: -eq -ne -lt -le -gt -ge).
check_num() {
  if test "$2" "$3" "$4" 2>/dev/null; then ok "$1"; else
    not_ok "$1"
    got_expected "$2" "$3 $4"
  fi
}

# check_line DESCRIPTION TEXT LINE: one line of TEXT is LINE exactly.
check_line() {
  if grep -q -x -F -- "$3" <<<"$2"; then ok "$1"; else
    not_ok "$1"
    got_expected "$2" "a line: $3"
  fi
}

# check_file_has DESCRIPTION FILE TEXT: a line of FILE holds TEXT.
check_file_has() {
  if grep -q -F -- "$3" "$2" 2>/dev/null; then ok "$1"; else
    not_ok "$1"
    got_expected "no such line in $2" "a line with: $3"
  fi
}

# A fresh prefix for this case; Windows 7 version values unless told.
wine_new_prefix() {
  export WINEPREFIX="$WORK/prefix"
  rm -rf "$WINEPREFIX"
  timeout "$WINE_TIMEOUT" wine wineboot -i >"$WORK/wineboot.log" 2>&1
  timeout "$WINE_TIMEOUT" wineserver -w
}

wine_run() { timeout "$WINE_TIMEOUT" wine "$@"; }

# Registry of the prefix: whether a key exists, and one value's data.
reg_has_key() { wine_run reg query "$1" >/dev/null 2>&1; }
reg_value() {
  wine_run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# Root-enumerated network devices. reg.exe may answer nothing on a loaded
# machine: it is asked again then.
net_devices() {
  local out="" _
  for _ in 1 2 3; do
    out=$(wine_run reg query 'HKLM\System\CurrentControlSet\Enum\Root' /s 2>/dev/null | tr -d '\r')
    [ -n "$out" ] && break
    sleep 2
  done
  printf '%s\n' "$out" | grep -c -i 'Enum\\Root\\NET\\[0-9]*$'
}

# put FILE [TEXT]: a file with one line of text, its folders made.
put() { mkdir -p "$(dirname "$1")"; printf '%s\n' "${2:-x}" >"$1"; }

# Whether this Wine runs 32-bit programs (needs Debian's wine32): the
# staged 32-bit velk-reqdat.exe answers a call without arguments with its
# usage exit code 2.
wine_runs_32bit() {
  [ -f "$STAGE/x86/velk-reqdat.exe" ] || return 1
  local rc=0
  timeout "$WINE_TIMEOUT" wine "$STAGE/x86/velk-reqdat.exe" >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 2 ]
}

# Sets the Windows version the prefix reports (win7, win10 ...).
wine_set_version() {
  timeout "$WINE_TIMEOUT" wine winecfg /v "$1" >/dev/null 2>&1
  timeout "$WINE_TIMEOUT" wineserver -w
}

# Makes WORK/NAME.msi from the case's WiX source; the source names the
# staged binaries by their file names.
msi_build() {
  local wxs=$1 name
  name=$(basename "$wxs" .wxs)
  cp "$STAGE"/* "$WORK/" 2>/dev/null
  (cd "$WORK" && wixl -a x64 -o "$name.msi" "$wxs" >"$name.wixl.log" 2>&1 &&
    bash "$CASE_DIR/../../wix/wixl-rollback.sh" "$name.msi" "$wxs" >>"$name.wixl.log" 2>&1) || {
    cat "$WORK/$name.wixl.log"
    return 1
  }
  echo "$WORK/$name.msi"
}

# msi_exec /i|/x MSI LOG [PROPERTY=VALUE ...]: installs or removes quietly
# with a verbose log (made plain text); the exit code is msiexec's, cut to
# 8 bits by Wine. It then waits for every process of the prefix, unless
# MSI_WAIT_ALL=0 (another process must stay alive meanwhile).
msi_exec() {
  local verb=$1 msi=$2 log=$3
  shift 3
  local rc=0
  echo "$log" >>"$WORK/msi-logs.list"
  timeout "$WINE_TIMEOUT" wine msiexec "$verb" "$(winepath -w "$msi" 2>/dev/null)" /qn /l*v "$(winepath -w "$log" 2>/dev/null)" "$@" \
    >"$log.out" 2>&1 || rc=$?
  [ "${MSI_WAIT_ALL:-1}" = 0 ] || timeout "$WINE_TIMEOUT" wineserver -w
  msi_log_to_text "$log"
  return $rc
}
msi_install() { msi_exec /i "$@"; }
msi_uninstall() { msi_exec /x "$@"; }

# keep_running NAME DIR PROGRAM [ARG ...]: starts a Windows program from DIR
# that lives until its input ends (stop_running); its output goes to
# WORK/NAME.out.
keep_running() {
  local name=$1 dir=$2
  shift 2
  mkfifo "$WORK/$name.in"
  (cd "$dir" && timeout "$WINE_TIMEOUT" wine "$@" <"$WORK/$name.in" >"$WORK/$name.out" 2>&1 &)
  exec 8>"$WORK/$name.in"
}
stop_running() {
  exec 8>&-
  timeout "$WINE_TIMEOUT" wineserver -w
}

# Wine writes the log as ANSI text, Windows as UTF-16: make it plain text.
msi_log_to_text() {
  local log=$1
  [ -f "$log" ] || return 0
  if [ "$(head -c 2 "$log" | od -An -tx1 | tr -d ' ')" = "fffe" ]; then
    iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' >"$log.txt"
  else
    tr -d '\r' <"$log" >"$log.txt"
  fi
  mv "$log.txt" "$log"
}

# The text MSI logs for a line sent by a custom action: "1: <line> ".
log_has() { grep -q -F -- "1: $2 " "$1"; }
# A custom-action line with its time, thread and level prefix.
log_has_line() { grep -q -E -- "^1: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12} [0-9A-F]{8} $2 " "$1"; }
log_lacks() { ! grep -q -F -- "$2" "$1"; }
# Lines sent by the custom actions, without their prefix, in order.
log_lines() { sed -n 's/^1: \(....-..-.. ..:..:..\.... ........ \)\?\(.*\) $/\2/p' "$1"; }

# The value of a property as the end of the install logged it.
log_property() { sed -n "s/^Property(S): $2 = \(.*\)$/\1/p" "$1" | tail -n 1; }

# The lines of the log between a custom action's start and end.
action_lines() { sed -n "/^Action start .*: $2\.\$/,/^Action ended .*: $2\./p" "$1"; }

# A real display for the cases that need one (message boxes, the help
# page). Other cases run without: there MessageBoxW returns -1 at once.
unset DISPLAY
DISPLAY_PID=""

# Starts Xvfb on a display number it finds free itself and exports DISPLAY.
# Fails (without a display) when Xvfb is missing or does not come up.
display_start() {
  command -v Xvfb >/dev/null || return 1
  local numfile="$WORK/xvfb.display" _
  : >"$numfile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" >"$WORK/xvfb.log" 2>&1 &
  DISPLAY_PID=$!
  for _ in $(seq 100); do
    if [ -s "$numfile" ]; then
      DISPLAY=":$(tr -d '\n' <"$numfile")"
      export DISPLAY
      return 0
    fi
    kill -0 "$DISPLAY_PID" 2>/dev/null || break
    sleep 0.1
  done
  display_stop
  return 1
}

# Stops the Xvfb display_start started, if any; Wine first, so that no
# client of the display outlives it.
display_stop() {
  [ -n "$DISPLAY_PID" ] || return 0
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
  kill "$DISPLAY_PID" 2>/dev/null
  wait "$DISPLAY_PID" 2>/dev/null
  DISPLAY_PID=""
  unset DISPLAY
}

# screenshot NAME: the whole screen as WORK/NAME.png, named in the output.
screenshot() {
  local png="$WORK/$1.png"
  if [ -n "${DISPLAY:-}" ] && import -window root "$png" 2>/dev/null; then
    printf '  info - screenshot %s\n' "$png"
  else
    printf '  info - no screenshot %s\n' "$png"
  fi
}

# Windows draw their own frames and title bars on a Wine desktop the size
# of the screen (an X server without a window manager shows neither).
display_desktop() {
  wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  timeout "$WINE_TIMEOUT" wineserver -w
}

# Japanese text in Wine's dialogs needs its Japanese UI fonts, which a
# prefix lacks: they are replaced with the IPA Gothic fonts of the host.
display_japanese_fonts() {
  local font
  for font in "MS UI Gothic" "MS Gothic"; do
    wine_run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d IPAGothic /f >/dev/null 2>&1
  done
  wine_run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS PGothic" /d IPAPGothic /f >/dev/null 2>&1
  timeout "$WINE_TIMEOUT" wineserver -w
}

# velk-msilog read the log: exit 0 (the setup succeeded), 1 (it failed) or
# 4 (the log ends first); 2 and 3 mean it could not.
msilog_summary() {
  local rc=0
  "$HOST_BIN/velk-msilog" "$1" >"$1.summary" 2>&1 || rc=$?
  [ "$rc" = 0 ] || [ "$rc" = 1 ] || [ "$rc" = 4 ]
}

# Every MSI log of the case (msi_exec lists them) must be one velk-msilog
# can summarise; its summary is kept beside the log.
msilog_all() {
  local list="$WORK/msi-logs.list" log
  [ -s "$list" ] || return 0
  if [ ! -x "${HOST_BIN:-}/velk-msilog" ]; then
    skip "velk-msilog summarises the case's MSI logs (no host build)"
    return 0
  fi
  while read -r log; do
    [ -f "$log" ] || continue
    check "velk-msilog summarises $(basename "$log")" msilog_summary "$log"
  done < <(sort -u "$list")
}
