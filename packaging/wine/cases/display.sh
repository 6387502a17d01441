# shellcheck shell=bash
# What the user sees, under a real display (Xvfb): the running-client box
# of CheckRasExec in msiexec at reduced UI (the client closed before OK, or
# still running at OK; English and Japanese), no box at basic UI (/qb,
# /passive) where msiexec goes on by itself, the migration program's error box for a
# user without a data directory (English and Japanese), and the help page
# opened through the prefix's URL handler. The boxes are read and pressed
# through the windows themselves by velk-window.exe, not through the kit's
# log. Each box is kept as a screenshot in WORK; the cut-out boxes go to
# BUILD/wine-pictures and are compared by size with those in docs/.
#
# Differs from Windows: the boxes are drawn on a Wine desktop in Wine's
# own style.

BOX_WAIT=90  # seconds for a box to appear: msiexec starts slowly under load
HOLD=3       # seconds a box stays up before it is pressed

STRING_103_EN="velk-access app is running. Exit the velk-access app and select OK."
STRING_103_JA="velk-accessアプリの実行を検出しました。velk-accessアプリを終了してOKボタンを押してください。"
STRING_515_EN='An error occurred so the Connection Definition File Update Tool will now exit.\r\n\r\n\r\nIf the same message is displayed again, contact the velk-box admin.'
STRING_515_JA='エラーが発生したため、接続定義ファイルバージョンアップツールを終了します。\r\n\r\n\r\n再度実行しても同じメッセージが表示される場合、velk-box責任者へお問い合わせください。'
HELP_URL='http://help.example/velk-access/index.html?topic=install&lang=en'

now() { date +%s.%N; }
# later A B: whether time B is not before time A.
later() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(b >= a) }'; }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

window() { (cd "$WORK" && wine_run velk-window.exe "$@" 2>>"$WORK/velk-window.err" | tr -d '\r'); }
field() { sed -n "s/^$1=//p" "$2"; }

# Wine writes a Japanese user's MSI log in code page 932, in Japanese.
log_utf8() { if [ "${LANG:-}" = ja_JP.UTF-8 ]; then iconv -f CP932 -t UTF-8 "$1"; else cat "$1"; fi; }
action_succeeded() {
  log_utf8 "$1" | grep -q -E "^(Action ended|アクション終了) .*: $2(\.|。) (Return value|戻り値) 1(\.|。)\$"
}

# read_box NAME: waits for the box, keeps what it shows in WORK/NAME.box,
# a screenshot in WORK/NAME.png and the box alone in PICTURES/NAME.png.
read_box() {
  local name=$1 rect left top width height
  window read "$BOX_WAIT" >"$WORK/$name.box"
  screenshot "$name"
  rect=$(field rect "$WORK/$name.box")
  if [ -n "$rect" ] && [ -f "$WORK/$name.png" ]; then
    read -r left top width height <<<"$rect"
    mkdir -p "$PICTURES"
    convert "$WORK/$name.png" -crop "${width}x${height}+${left}+${top}" +repage "$PICTURES/$name.png" 2>/dev/null
  fi
}

# check_box NAME PROCESS CAPTION TEXT ICON: what the box showed.
check_box() {
  local name=$1 box="$WORK/$1.box"
  check_eq "$name: a box appears, shown by $2" "$(field process "$box")" "$2"
  check_eq "$name: caption \"$3\"" "$(field caption "$box")" "$3"
  check_eq "$name: the text, exactly" "$(field text "$box")" "$4"
  check_eq "$name: icon $5" "$(field icon "$box")" "$5"
  check_eq "$name: one button, OK" "$(field button "$box")" "1 OK"
}

# check_picture NAME: the box alone, about the size of the one in docs/.
check_picture() {
  local made="$PICTURES/$1.png" kept="$DOCS_PICTURES/$1.png" a b
  if ! command -v import >/dev/null; then
    skip "$1: picture compared with docs/ (ImageMagick is missing)"
    return
  fi
  if [ ! -f "$kept" ]; then
    skip "$1: picture compared with docs/ (none kept there)"
    return
  fi
  a=$(identify -format '%w %h' "$made" 2>/dev/null)
  b=$(identify -format '%w %h' "$kept" 2>/dev/null)
  check "$1: picture $made ($a) about the size of docs' ($b)" \
    awk -v a="$a" -v b="$b" 'BEGIN { split(a, x, " "); split(b, y, " ");
      exit !(x[1] > 0 && x[1] >= y[1] * 0.75 && x[1] <= y[1] * 1.25 && x[2] >= y[2] * 0.75 && x[2] <= y[2] * 1.25) }'
}

# The client stand-in, a copy of cmd.exe in the target folder, runs until
# its input ends: client_stop ends the feeding sleep (which ends by itself
# within the time limit of a Wine step, should the case stop early).
client_start() {
  rm -f "$WORK/client.in"
  mkfifo "$WORK/client.in"
  sleep "$WINE_TIMEOUT" >"$WORK/client.in" &
  CLIENT_FEED=$!
  timeout "$WINE_TIMEOUT" wine 'C:\velk-target\bin\velk-access.exe' /k <"$WORK/client.in" >/dev/null 2>&1 &
  CLIENT=$!
  sleep 3
}
client_stop() {
  kill "$CLIENT_FEED" 2>/dev/null
  wait "$CLIENT" 2>/dev/null
  wait "$CLIENT_FEED" 2>/dev/null
}

# install_start LOG [UI]: msiexec in the background with a reduced user
# interface (the kit shows its box only at full or reduced UI: /qb, /passive
# and /qn show none) or the UI option given; LOG.end gets its exit code and
# the time it ended.
install_start() {
  local log=$1 ui=${2:-/qr}
  echo "$log" >>"$WORK/msi-logs.list"
  (
    rc=0
    timeout "$WINE_TIMEOUT" wine msiexec /i "$(winepath -w "$MSI" 2>/dev/null)" "$ui" \
      /l*v "$(winepath -w "$log" 2>/dev/null)" "TARGETDIR=C:\\velk-target\\" >"$log.out" 2>&1 || rc=$?
    echo "$rc $(now)" >"$log.end"
  ) &
  INSTALL=$!
}

# running_client NAME CLOSE TEXT: the install meets a running client; the
# box stays up for HOLD seconds; with CLOSE=yes the client ends before OK.
running_client() {
  local name=$1 close=$2 text=$3 log="$WORK/$1.log" shown pressed rc ended
  client_start
  install_start "$log"
  read_box "$name"
  shown=$(now)
  check_box "$name" msiexec.exe velk-access "$text" none
  sleep "$HOLD"
  check "$name: msiexec still runs while the box is up" eval "kill -0 $INSTALL 2>/dev/null && test ! -e '$log.end'"
  [ "$close" = yes ] && client_stop
  pressed=$(now)
  window press 1 30 >/dev/null
  wait "$INSTALL"
  read -r rc ended <"$log.end" 2>/dev/null
  printf '  info - %s: box up %s s before OK; msiexec ended %s s after OK\n' "$name" \
    "$(seconds_between "$shown" "$pressed")" "$(seconds_between "$pressed" "${ended:-0}")"
  check "$name: the action waited for OK (msiexec ended after it)" later "$pressed" "${ended:-0}"
  check_num "$name: the install succeeds" "${rc:-1}" -eq 0
  msi_log_to_text "$log"
  check "$name: CheckRasExec returns 0" action_succeeded "$log" CA_CheckRasExec
  if [ "$close" = yes ]; then
    check_eq "$name: RASXX_RUNNING not set" "$(log_property "$log" RASXX_RUNNING)" ""
  else
    check_eq "$name: RASXX_RUNNING = 1" "$(log_property "$log" RASXX_RUNNING)" 1
    client_stop
  fi
  timeout "$WINE_TIMEOUT" wineserver -w
  msi_uninstall "$MSI" "$WORK/$name-uninstall.log"
}

# unattended_ui NAME OPTION LEVEL: at basic UI the install meets a running
# client, shows no box and goes on by itself (a box would hold msiexec until
# its time limit), flagging the client.
unattended_ui() {
  local name=$1 option=$2 level=$3 log="$WORK/$1.log" rc ended
  client_start
  install_start "$log" "$option"
  wait "$INSTALL"
  read -r rc ended <"$log.end" 2>/dev/null
  client_stop
  check_num "$name: msiexec $option ends by itself with the client running" "${rc:-1}" -eq 0
  msi_log_to_text "$log"
  check "$name: no box, one line saying why" \
    log_has_line "$log" "W No message box: UILevel is $level; the running client is flagged without asking"
  check_eq "$name: RASXX_RUNNING = 1" "$(log_property "$log" RASXX_RUNNING)" 1
  timeout "$WINE_TIMEOUT" wineserver -w
  msi_uninstall "$MSI" "$WORK/$name-uninstall.log"
}

# error_box NAME TEXT KEY: the migration program for a user without a data
# directory; KEY=yes presses OK with the Return key instead of the driver.
error_box() {
  local name=$1 text=$2 key=$3 shown pressed rc=0 ended
  ( (cd "$WORK/bin" && wine_run velk-access-migration.exe >"$WORK/$name.out" 2>&1) || rc=$?
    echo "$rc $(now)" >"$WORK/$name.end") &
  local program=$!
  read_box "$name"
  shown=$(now)
  check_box "$name" velk-access-migration.exe "" "$text" error
  sleep "$HOLD"
  check "$name: the program still runs while the box is up" eval "kill -0 $program 2>/dev/null && test ! -e '$WORK/$name.end'"
  pressed=$(now)
  if [ "$key" = yes ] && command -v xdotool >/dev/null; then
    xdotool key Return
  else
    [ "$key" = yes ] && skip "$name: OK pressed with the Return key (xdotool is missing)"
    window press 1 30 >/dev/null
  fi
  wait "$program"
  read -r rc ended <"$WORK/$name.end" 2>/dev/null
  printf '  info - %s: box up %s s before OK; the program ended %s s after OK\n' "$name" \
    "$(seconds_between "$shown" "$pressed")" "$(seconds_between "$pressed" "${ended:-0}")"
  check "$name: exit code 0, only after OK" eval "test '${rc:-1}' -eq 0 && later $pressed ${ended:-0}"
  check "$name: nothing created" test -n "$local_unix" -a ! -e "$local_unix/TESSMAR"
}

# A URL handler that writes the address it receives to WORK/opened.txt.
register_browser() {
  cat >"$WORK/browser.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$@" >>"$WORK/opened.txt"
EOF
  chmod +x "$WORK/browser.sh"
  wine_run reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$WORK/browser.sh" /f >/dev/null 2>&1
}
opened() {
  local _
  for _ in $(seq 50); do
    [ -s "$WORK/opened.txt" ] && break
    sleep 0.2
  done
  cat "$WORK/opened.txt" 2>/dev/null
  rm -f "$WORK/opened.txt"
}

help_page() {
  register_browser
  local log="$WORK/help.log" out msi
  cp "$CASE_DIR/help.wxs" "$WORK/"
  msi=$(msi_build "$CASE_DIR/help.wxs") || { not_ok "help.msi builds"; return; }
  msi_install "$msi" "$log"
  check_eq "help: msiexec's ShowHelp opens exactly the URL" "$(opened)" "$HELP_URL"
  check "help: ShowHelp returns 0" action_succeeded "$log" CA_ShowHelp
  out=$(cd "$WORK" && wine_run tovrin-load.exe Tovrin64.dll RunShowHelpW "/HelpUrl=\"$HELP_URL\"" 2>/dev/null | tr -d '\r')
  check_eq "help: RunShowHelpW returns 0" "$out" "HRESULT: 0x00000000"
  check_eq "help: RunShowHelpW opens exactly the URL" "$(opened)" "$HELP_URL"
  # Unquoted: Wine would escape the quotes of an argument on rundll32's
  # command line, which the export receives as it is.
  (cd "$WORK" && wine_run rundll32 Tovrin64.dll,RunShowHelp "/HelpUrl=$HELP_URL" >/dev/null 2>&1)
  check_eq "help: rundll32 Tovrin64.dll,RunShowHelp opens exactly the URL" "$(opened)" "$HELP_URL"
}

case_main() {
  if ! display_start; then
    skip "the kit's windows under a display (Xvfb is missing or did not start)"
    return
  fi
  printf '  info - display %s\n' "$DISPLAY"
  PICTURES="$BUILD/wine-pictures"
  DOCS_PICTURES="$CASE_DIR/../../../docs/pictures"
  wine_new_prefix
  display_desktop
  MSI=$(msi_build "$CASE_DIR/checks.wxs") || { not_ok "checks.msi builds"; return; }
  mkdir -p "$WINEPREFIX/drive_c/velk-target/bin" "$WORK/bin"
  cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$WINEPREFIX/drive_c/velk-target/bin/velk-access.exe"
  cp "$STAGE/velk-access-migration.exe" "$WORK/bin/"
  local local_win local_unix
  local_win=$(wine_run cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
  local_unix=$(winepath -u "$local_win" 2>/dev/null)

  running_client client-en yes "$STRING_103_EN"
  running_client client-running no "$STRING_103_EN"
  unattended_ui basic-ui /qb '3 \(basic user interface\)'
  unattended_ui passive-ui /passive '3 \(basic user interface\)'
  error_box error-en "$STRING_515_EN" no
  help_page

  # A Japanese user: the same boxes in Japanese.
  display_japanese_fonts
  timeout "$WINE_TIMEOUT" wineserver -k 2>/dev/null
  # Wine reads the names; the host need not have the locale.
  { export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8; } 2>/dev/null
  running_client client-ja yes "$STRING_103_JA"
  error_box error-ja "$STRING_515_JA" yes

  local p
  for p in client-en client-ja error-en error-ja; do check_picture "$p"; done
}
