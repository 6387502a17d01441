#!/usr/bin/env bash
# What a package reviewer checks in a package that includes the kit, read
# back with msidump: every kit action's source and target exist (the DLL in
# the Binary table exports the entry, a property action's references
# exist); the actions that change the system run deferred without
# impersonation, each fed by a type-51 action setting the property of its
# own name (the kit's own right before it); the checks stay immediate; something sets TARGETDIR before the
# running-client check; the sequences are in the kit's order; no removal
# action can stop a removal; the Error rows carry the HRESULT; the searches
# and launch conditions are there. With a build folder it builds and checks
# the reference package (English and Japanese).
#
#   packaging/wix/validate.sh WIN64_BUILD_DIR   (builds the reference package first)
#   packaging/wix/validate.sh PACKAGE.msi       (any package, relative or absolute path)
#
# Exit code: 0 all passed, 1 a failure, 77 msitools or wixl missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
arg=${1:?usage: validate.sh WIN64_BUILD_DIR | PACKAGE.msi}
for tool in msidump msiinfo; do
  command -v "$tool" >/dev/null || { echo "package validation: SKIPPED: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/velk-validate-XXXXXX)
trap 'rm -rf "$work"' EXIT
if [ -d "$arg" ]; then
  msi="$work/velk-access.msi"
  rc=0
  bash "$here/build.sh" "$arg/bin" "$msi" 1.0.0 >/dev/null || rc=$?
  [ "$rc" -eq 77 ] && { echo "package validation: SKIPPED: wixl is not installed"; exit 77; }
  [ "$rc" -eq 0 ] || { echo "package validation: the package does not build"; exit 1; }
else
  [ -f "$arg" ] || { echo "package validation: $arg: no such file"; exit 1; }
  msi=$(cd "$(dirname "$arg")" && pwd)/$(basename "$arg")
fi
(cd "$work" && mkdir dump && msidump -t -s -d dump "$msi" >/dev/null) || { echo "package validation: msidump failed"; exit 1; }
dump="$work/dump"

passed=0
failed=0
ok() { passed=$((passed + 1)); printf '  ok   - %s\n' "$*"; }
not_ok() { failed=$((failed + 1)); printf '  FAIL - %s\n' "$*"; }
# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else not_ok "$what"; fi
}
# Rows of a table without its three header lines, fields tab-separated.
rows() { tail -n +4 "$dump/$1.idt" | tr -d '\r'; }
# Keys of a table's rows.
keys() { rows "$1" | cut -f1; }

# Custom actions of the kit: its DLL from a Binary row (type 1). Property
# (51) and directory (35) actions of any name: what they refer to exists.
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  dll_exports() {
    x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p'
  }
else
  dll_exports() { return 1; }
fi
# What a formatted value may name: a folder, a property of the package, or
# one of the installer's own folder properties.
known=$(keys Directory; keys Property)
# Actions that change the system: deferred (0x400), not impersonated (0x800).
system_actions="Tovrin_InstallDevice Tovrin_UninstallDevice Tovrin_ConnectDefMigration Tovrin_RemoveRakAll Tovrin_RemoveSparkleReg
  Tovrin_InstallDeviceRollback Tovrin_UninstallDeviceRollback Tovrin_RemoveRakAllNoRollback Tovrin_RemoveSparkleRegNoRollback"
# Checks that read and set properties: immediate.
check_actions="Tovrin_IsSupportOS Tovrin_CheckMultiExec Tovrin_CheckRasExec"
type_of() { rows CustomAction | awk -F'\t' -v a="$1" '$1 == a {print $2}'; }
while IFS=$'\t' read -r action type source target _; do
  base=$((type & 0x3f))
  case $base in
    1)
      stream="$dump/_Streams/Binary.$source"
      if [ ! -s "$stream" ]; then
        not_ok "$action: Binary $source exists"
      elif exports=$(dll_exports "$stream"); then
        check "$action: $source exports $target" grep -q -x -F "$target" <<<"$exports"
      else
        not_ok "$action: the exports of $source could be read (no mingw objdump)"
      fi
      ;;
    35 | 51)
      missing=""
      for ref in $(grep -o '\[[A-Za-z_][A-Za-z0-9_.]*\]' <<<"$target" | tr -d '[]'); do
        case $ref in *Folder | *Folder64) continue ;; esac
        grep -q -x -F "$ref" <<<"$known" || missing="$missing $ref"
      done
      check "$action: sets $source from existing folders and properties${missing:+ (missing:$missing)}" test -z "$missing"
      ;;
    *) case $action in Tovrin_*) not_ok "$action: a type the kit uses (1 or 51), not $type" ;; esac ;;
  esac
done < <(rows CustomAction)
for action in $system_actions; do
  type=$(type_of "$action")
  if [ -z "$type" ]; then
    not_ok "$action is defined"
    continue
  fi
  check "$action: deferred without impersonation (type $type, needs bits 0x400 and 0x800)" \
    test $((type & 0xc00)) -eq $((0xc00))
done
# ICE68: the no-impersonation bit (0x800) only with the in-script bit
# (0x400); wixl sets it everywhere, wixl-rollback.sh clears it.
stray=$(rows CustomAction | awk -F'\t' '{t = $2 + 0; if (int(t / 2048) % 2 == 1 && int(t / 1024) % 2 == 0) print $1 " (" t ")"}')
# shellcheck disable=SC2086 # the action names, one word each, on one line
check "ICE68: no immediate custom action has the no-impersonation bit 0x800${stray:+ (not:$(printf ' %s' $stray))}" test -z "$stray"
# immediate TYPE: a custom action type without the deferred bit.
immediate() { [ -n "$1" ] && [ $(($1 & 0x400)) -eq 0 ]; }
for action in $check_actions; do
  type=$(type_of "$action")
  check "$action: immediate (reads and sets properties; type ${type:-missing})" immediate "$type"
done

# Sequences: every scheduled kit action exists, numbers are unique.
seq_sorted() { rows "$1" | sort -t$'\t' -k3,3n; }
actions=$(keys CustomAction)
for table in InstallExecuteSequence InstallUISequence; do
  unknown=$(rows $table | cut -f1 | grep -E '^Tovrin_' | grep -v -x -F "$actions")
  check "$table: every scheduled kit action is defined" test -z "$unknown"
  check "$table: sequence numbers are unique" test -z "$(rows $table | cut -f3 | sort | uniq -d)"
done
# The sequence number of an action in the execute sequence (empty: absent).
at() { rows InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a {print $3}'; }
# before A B: A and B are scheduled and A comes first.
before() {
  local a b
  a=$(at "$1")
  b=$(at "$2")
  [ -n "$a" ] && [ -n "$b" ] && [ "$a" -lt "$b" ]
}
for pair in "AppSearch Tovrin_CheckRasExec" \
  "Tovrin_IsSupportOS LaunchConditions" "Tovrin_CheckMultiExec LaunchConditions" "Tovrin_CheckRasExec LaunchConditions" \
  "InstallInitialize Tovrin_UninstallDevice" "Tovrin_UninstallDevice RemoveFiles" \
  "InstallFiles Tovrin_InstallDevice" "Tovrin_InstallDevice InstallFinalize" \
  "Tovrin_ConnectDefMigration InstallFiles"; do
  read -r first second <<<"$pair"
  check "InstallExecuteSequence: $first before $second" before "$first" "$second"
done
# Rollback and commit. The adapter's installation and removal each have a
# rollback action (0x100 in the script) calling the other export, written
# into the script before them under the same condition. The removals that
# no rollback can undo are commit actions (0x200), skipped while rollback is
# disabled; a deferred twin on the same export, conditioned on
# RollbackDisabled, then runs them at the end of the script.
entry_of() { rows CustomAction | awk -F'\t' -v a="$1" '$1 == a {print $4}'; }
condition_of() { rows InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a {print $2}'; }
in_script_kind() {  # ACTION: rollback, commit, deferred or immediate
  local type
  type=$(type_of "$1")
  if [ -z "$type" ] || [ $((type & 0x400)) -eq 0 ]; then echo immediate
  elif [ $((type & 0x100)) -ne 0 ]; then echo rollback
  elif [ $((type & 0x200)) -ne 0 ]; then echo commit
  else echo deferred; fi
}
# Kit actions of a kind calling an export, scheduled in the execute sequence.
scheduled_calls() {  # KIND ENTRY
  rows CustomAction | awk -F'\t' -v e="$2" '$1 ~ /^Tovrin_/ && $4 == e {print $1}' | while read -r a; do
    [ -n "$(at "$a")" ] && [ "$(in_script_kind "$a")" = "$1" ] && echo "$a"
  done
}
for pair in "Tovrin_InstallDevice UninstallDevice" "Tovrin_UninstallDevice InstallDevice"; do
  read -r action undo <<<"$pair"
  [ -n "$(at "$action")" ] || continue
  found=""
  for rollback in $(scheduled_calls rollback "$undo"); do
    before "$rollback" "$action" && [ "$(condition_of "$rollback")" = "$(condition_of "$action")" ] && found=$rollback
  done
  check "$action is undone by a rollback action calling $undo, before it, on its condition${found:+ ($found)}" \
    test -n "$found"
done
# not_rolled_back CONDITION: a condition that excludes RollbackDisabled.
not_rolled_back() { grep -q -E '(^|[ (])NOT RollbackDisabled($|[ )])' <<<"$1"; }
only_rolled_back() { grep -q -E '(^|[ (])RollbackDisabled($|[ )])' <<<"${1//NOT RollbackDisabled/}"; }
last_in_script() {  # ACTION: after RemoveFiles and every other kit action of the script, before InstallFinalize
  local other
  before RemoveFiles "$1" && before "$1" InstallFinalize || return 1
  for other in $(rows CustomAction | cut -f1 | grep '^Tovrin_' | grep -v 'NoRollback'); do
    [ -n "$(at "$other")" ] && [ "$(in_script_kind "$other")" != immediate ] && ! before "$other" "$1" && return 1
  done
  return 0
}
for action in Tovrin_RemoveRakAll Tovrin_RemoveSparkleReg; do
  [ -n "$(type_of "$action")" ] || continue
  check "$action: a commit action (type $(type_of "$action"), needs 0x200 with 0x400)" \
    test "$(in_script_kind "$action")" = commit
  check "$action: skipped while rollback is disabled (NOT RollbackDisabled)" not_rolled_back "$(condition_of "$action")"
  entry=$(entry_of "$action")
  twin=""
  for other in $(scheduled_calls deferred "$entry"); do
    only_rolled_back "$(condition_of "$other")" && last_in_script "$other" && twin=$other
  done
  check "$action: while rollback is disabled a deferred action calling $entry runs instead, at the end of the script${twin:+ ($twin)}" \
    test -n "$twin"
done
# Deferred actions run from the script, written between InstallInitialize
# and InstallFinalize.
in_script() { before InstallInitialize "$1" && before "$1" InstallFinalize; }
while IFS=$'\t' read -r action type _; do
  [ $((type & 0x400)) -ne 0 ] || continue
  [ -n "$(at "$action")" ] || continue
  check "$action: deferred, so between InstallInitialize and InstallFinalize" \
    in_script "$action"
done < <(rows CustomAction)
# A deferred action reads only CustomActionData: the property of its own
# name, set by a type-51 action scheduled before it.
for action in $system_actions; do
  feeders=$(rows CustomAction | awk -F'\t' -v a="$action" '$3 == a && $2 % 64 == 51 {print $1}')
  fed=""
  for feeder in $feeders; do
    before "$feeder" "$action" && fed=$feeder
  done
  check "$action is fed by a type-51 action setting $action before it${fed:+ ($fed)}" test -n "$fed"
done
check "InstallUISequence: IsSupportOS before LaunchConditions" \
  test "$(seq_sorted InstallUISequence | cut -f1 | grep -n -x -e Tovrin_IsSupportOS -e LaunchConditions | cut -d: -f2 | tr '\n' ' ')" \
  = "Tovrin_IsSupportOS LaunchConditions "
while IFS=$'\t' read -r setter reader; do
  check "$setter runs right before $reader" \
    test "$(seq_sorted InstallExecuteSequence | cut -f1 | grep -A1 -x -F "$setter" | tail -n 1)" = "$reader"
done < <(rows CustomAction | awk -F'\t' '$1 ~ /^Tovrin_.*Data$/ {print $1 "\t" $3}')

# The running-client check looks for TARGETDIR\bin\velk-access.exe: a
# property (51) or directory (35) action on TARGETDIR, whatever its name,
# must run before it.
setters=$(rows CustomAction | awk -F'\t' '$3 == "TARGETDIR" && ($2 % 64 == 51 || $2 % 64 == 35) {print $1}')
set_before=""
for setter in $setters; do
  before "$setter" Tovrin_CheckRasExec && set_before=$setter
done
if [ -n "$set_before" ]; then
  ok "TARGETDIR is set before Tovrin_CheckRasExec ($set_before)"
elif [ -n "$setters" ]; then
  # shellcheck disable=SC2086 # the action names, one word each, on one line
  not_ok "TARGETDIR is set before Tovrin_CheckRasExec (not:$(printf ' %s' $setters) after it or unscheduled)"
else
  not_ok "TARGETDIR is set before Tovrin_CheckRasExec: no type-51 or type-35 action sets TARGETDIR (the running-client check would look for a relative bin\\velk-access.exe)"
fi

# A removal must never be stopped by the kit, and a mutex check in the UI
# sequence would lock out its own execute sequence.
blocking=$(rows InstallExecuteSequence | awk -F'\t' '$2 ~ /REMOVE="ALL"/ {print $1}' | while read -r action; do
  type=$(type_of "$action")
  [ -n "$type" ] && [ $((type & 0x3f)) -eq 1 ] && [ $((type & 0x40)) -eq 0 ] && echo "$action"
done)
check "removal actions ignore their result${blocking:+ (not: $blocking)}" test -z "$blocking"
check "CheckMultiExec is not in the UI sequence" test -z "$(rows InstallUISequence | cut -f1 | grep -x Tovrin_CheckMultiExec)"
for action in Tovrin_RemoveRakAll Tovrin_RemoveSparkleReg Tovrin_RemoveRakAllNoRollback Tovrin_RemoveSparkleRegNoRollback; do
  check "$action: per-user data and updater settings stay when an upgrade removes the product" \
    grep -q -E "^$action"$'\t'".*NOT UPGRADINGPRODUCTCODE" <(rows InstallExecuteSequence)
done

# The driver: the INF that InstallDevice gets (/inf="[DRIVERDIR]NAME" in
# the text its type-51 feeder sets, TovrinInf) must be a file of the
# package in DRIVERDIR, and its hardware id (/hwid=, TovrinHwid) must be in
# a models section of that INF; otherwise the install fails with
# "SetupDiGetINFClass() = File not found" or "Invalid data" and nothing
# says which name was wrong.

# param_value TEXT NAME: the value of /NAME= in a parameter text.
# (through the environment: awk -v would read backslashes as escapes)
param_value() {
  TEXT=$1 NAME=$2 awk 'BEGIN {
    text = ENVIRON["TEXT"]; name = ENVIRON["NAME"]
    at = index(" " text, " /" name "=")
    if (!at) exit
    rest = substr(text, at + length(name) + 2)
    if (substr(rest, 1, 1) == "\"") { rest = substr(rest, 2); end = index(rest, "\"") }
    else end = index(rest, " ")
    print (end ? substr(rest, 1, end - 1) : rest)
  }'
}
# driver_files: the long names of the package's files in DRIVERDIR.
driver_files() {
  local components
  components=$(rows Component | awk -F'\t' '$3 == "DRIVERDIR" {print $1}')
  rows File | awk -F'\t' -v list="$components" 'BEGIN { n = split(list, c, "\n"); for (i = 1; i <= n; i++) in_dir[c[i]] = 1 }
    in_dir[$2] { name = $3; sub(/^[^|]*\|/, "", name); print name }'
}
# inf_hardware_ids INF: the hardware and compatible ids of the INF's models
# sections (those [Manufacturer] names, with each of their decorations).
inf_hardware_ids() {
  local text
  if [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" = fffe ]; then
    text=$(iconv -f UTF-16 -t UTF-8 "$1")
  else
    text=$(cat "$1")
  fi
  printf '%s\n' "$text" | tr -d '\r' | awk '
    function trim(s) { gsub(/^[ \t"]+|[ \t"]+$/, "", s); return s }
    { sub(/;.*/, "") }
    /^[ \t]*\[/ { section = tolower(trim(substr($0, index($0, "[") + 1, index($0, "]") - index($0, "[") - 1))); next }
    index($0, "=") == 0 { next }
    { key = substr($0, 1, index($0, "=") - 1); value = substr($0, index($0, "=") + 1) }
    section == "manufacturer" {
      n = split(value, part, ",")
      base = tolower(trim(part[1])); models[base] = 1
      for (i = 2; i <= n; i++) models[base "." tolower(trim(part[i]))] = 1
      next
    }
    { lines[NR] = section "\t" value }
    END {
      for (l in lines) {
        split(lines[l], f, "\t")
        if (!(f[1] in models)) continue
        n = split(f[2], part, ",")
        for (i = 2; i <= n; i++) if (trim(part[i]) != "") print trim(part[i])
      }
    }' | LC_ALL=C sort -u
}
check_driver_inf() {
  local data inf hwid name files found ids
  data=$(rows CustomAction | awk -F'\t' '$3 == "Tovrin_InstallDevice" && $2 % 64 == 51 {print $4; exit}')
  [ -n "$data" ] || return 0 # the feeder check above names a missing one
  inf=$(param_value "$data" inf)
  hwid=$(param_value "$data" hwid)
  case $inf in
    "[DRIVERDIR]"?*) name=${inf#"[DRIVERDIR]"} ;;
    *)
      not_ok "Tovrin_InstallDevice: /inf names a file in [DRIVERDIR] (it is \"$inf\")"
      return
      ;;
  esac
  files=$(driver_files)
  if ! grep -q -i -x -F "$name" <<<"$files"; then
    not_ok "TovrinInf $name is a file of the package in DRIVERDIR (files there: $(tr '\n' ' ' <<<"${files:-none}" | sed 's/ $//'))"
    return
  fi
  ok "TovrinInf $name is a file of the package in DRIVERDIR"
  if [ -z "$hwid" ]; then
    not_ok "Tovrin_InstallDevice: its text has a /hwid= (TovrinHwid)"
    return
  fi
  if ! command -v msiextract >/dev/null; then
    not_ok "TovrinHwid $hwid is in a models section of $name (msiextract is missing: the INF cannot be read)"
    return
  fi
  mkdir -p "$work/files"
  (cd "$work/files" && msiextract "$msi" >/dev/null 2>&1)
  found=$(find "$work/files" -type f -iname "$name" | head -n 1)
  if [ -z "$found" ]; then
    not_ok "TovrinHwid $hwid is in a models section of $name (the file is not in the package's cabinet)"
    return
  fi
  ids=$(inf_hardware_ids "$found")
  if grep -q -i -x -F "$hwid" <<<"$ids"; then
    ok "TovrinHwid $hwid is in a models section of $name"
  else
    not_ok "TovrinHwid $hwid is in a models section of $name (its ids: $(tr '\n' ' ' <<<"${ids:-none}" | sed 's/ $//'))"
  fi
}
check_driver_inf

# Error rows with the HRESULT (field 2), searches, launch conditions.
for number in 25000 25001 25003; do
  check "Error $number is present and shows the HRESULT" grep -q -E "^$number"$'\t'".*\\[2\\]" <(rows Error)
done
# in_registry SIGNATURE: the signature is a registry search's.
in_registry() { [ -n "$1" ] && keys RegLocator | grep -q -x -F "$1"; }
for property in RASV1_INSTALLED RASEX_INSTALLED RASLE_INSTALLED; do
  signature=$(rows AppSearch | awk -F'\t' -v p="$property" '$1 == p {print $2}')
  check "$property is searched for in the registry" in_registry "$signature"
done
for property in RASXX_NOT_SUPPORTOS RASXX_RUNNING; do
  check "a launch condition uses $property" grep -q -F "NOT $property" <(rows LaunchCondition)
done
check "HelpUrl has a value" grep -q -E $'^HelpUrl\t.+' <(rows Property)

# The Japanese build: its language, code page and the .wxl's texts.
japanese_codes() {
  msiinfo export "$1" Property | tr -d '\r' | grep -q -x -F "$(printf 'ProductLanguage\t1041')" &&
    msiinfo export "$1" _ForceCodepage | tr -d '\r\0' | grep -q '^932'
}
# japanese_launch_texts MSI: the kit's two launch conditions hold the texts
# of Tovrin.ja-jp.wxl (add-launch-texts.sh, through add-errors.sh).
japanese_launch_texts() {
  local expected
  expected=$(sed -n 's|^ *<String Id="TovrinLaunch[A-Za-z]*">\(.*\)</String>$|\1|p' "$here/Tovrin.ja-jp.wxl" | sort)
  test "$(msiinfo export "$1" LaunchCondition | tail -n +4 | tr -d '\r' | grep -F RASXX_ | cut -f2 | sort)" = "$expected"
}
if [ -d "$arg" ]; then
  ja="$work/velk-access-ja.msi"
  if bash "$here/build.sh" "$arg/bin" "$ja" 1.0.0 ja-jp >/dev/null; then
    expected_ja=$(sed -n 's|^ *<String Id="TovrinError\([0-9]*\)">\(.*\)</String>$|\1\t\2|p' "$here/Tovrin.ja-jp.wxl" |
      sed 's/\[ProductName\]/velk-access/g')
    check "Japanese build: language 1041, code page 932" japanese_codes "$ja"
    check "Japanese build: the three Error rows hold the Japanese texts" \
      test "$(msiinfo export "$ja" Error | tail -n +4 | tr -d '\r' | sort)" = "$(sort <<<"$expected_ja")"
    check "Japanese build: the launch conditions hold the Japanese texts" japanese_launch_texts "$ja"
  else
    not_ok "Japanese build: the package builds"
  fi
fi

echo "package validation: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
