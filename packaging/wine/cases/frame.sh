# shellcheck shell=bash
# The frame under Wine: the log banner and scopes in the MSI log, the OS
# check on Wine's default version (Windows 7: no major version value) and
# on Windows 10, the help launcher, and the command-line form.

case_main() {
  wine_new_prefix
  local msi log
  msi=$(msi_build "$CASE_DIR/frame.wxs") || { not_ok "frame.msi builds"; return; }
  cp "$CASE_DIR/frame.wxs" "$WORK/"

  log="$WORK/install-default.log"
  msi_install "$msi" "$log"
  check "banner line with the process id" grep -q -E '^1: ####### Tovrin log PID=[0-9a-f]{8} ####### $' "$log"
  check "IsSupportOS scope opens" log_has_line "$log" "I IsSupportOS - enter"
  check "Windows 7 has no major version value" log_has "$log" "####### Detect windows8.1 #######"
  check "the failed read is logged with status 2" log_has_line "$log" "E RegQueryValueEx Error2\)"
  check "IsSupportOS scope closes" log_has_line "$log" "I IsSupportOS - leave"
  check_eq "RASXX_NOT_SUPPORTOS = 1" "$(log_property "$log" RASXX_NOT_SUPPORTOS)" 1

  # The help launcher: the HelpUrl property is appended and wins; Wine has
  # no shell window to open it in, so the refusal becomes error 25000.
  check "ShowHelp scope opens" log_has_line "$log" "I ShowHelp - enter"
  check "HelpUrl appended to the parameter text" \
    log_has_line "$log" 'I TovrinData:/x=1 /HelpUrl=C:\\old.htm /HelpUrl="C:\\velk-missing\\help.htm"'
  check "the action's scope" log_has_line "$log" "I CTovrinModule::ShowHelp - leave"
  check "the refusal is logged with its HRESULT" log_has_line "$log" "E .*\(0x8007[0-9a-f]{4}\)"
  check_file_has "installer error 25000 is reported" "$log" 'The error code is 25000.'
  check "ShowHelp scope closes" log_has_line "$log" "I ShowHelp - leave"

  # Windows 10 version values: no flag, the build logged.
  msi_uninstall "$msi" "$WORK/uninstall.log"
  wine_set_version win10
  log="$WORK/install-win10.log"
  msi_install "$msi" "$log"
  check "Windows 10 major version" log_has "$log" "####### IsSupportOS(Major=10) #######"
  check "Windows 10 build logged" grep -q -E '^1: ####### IsSupportOS\(Build=[0-9]+\) ####### $' "$log"
  check "Windows 10 detected" log_has "$log" "####### Detect windows10 #######"
  check_eq "property untouched on Windows 10" "$(log_property "$log" RASXX_NOT_SUPPORTOS)" ""

  # The command-line form through a rundll-style caller that keeps the result.
  local out
  out=$(cd "$WORK" && wine_run tovrin-load.exe Tovrin64.dll RunShowHelpW '/HelpUrl="unterminated' 2>/dev/null | tr -d '\r')
  check_eq "malformed command line gives E_INVALIDARG" "$out" "HRESULT: 0x80070057"
  out=$(cd "$WORK" && wine_run tovrin-load.exe Tovrin64.dll DebugEntryPointW 2>/dev/null | tr -d '\r')
  check_eq "DebugEntryPointW returns 0" "$out" "HRESULT: 0x00000000"
  (cd "$WORK" && wine_run rundll32 Tovrin64.dll,RunShowHelp '/HelpUrl=C:\velk-missing\help.htm' >/dev/null 2>&1)
  check_num "rundll32 runs RunShowHelp" "$?" -eq 0
}
