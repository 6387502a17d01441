#!/usr/bin/env bash
# What a package reviewer checks in the reference package, read back with
# msidump: every custom action's source and target exist (the DLL in the
# Binary table exports the entry, a property action's folders exist), each
# CustomActionData setter runs right before its deferred action, the checks
# run immediate and the actions that change the machine deferred without
# impersonation, the sequences are in the kit's order, no removal
# action can stop a removal, the Error rows carry the HRESULT (English and
# Japanese builds), the searches and launch conditions are there.
#
#   packaging/wix/validate.sh WIN64_BUILD_DIR   (builds the package first)
#   packaging/wix/validate.sh PACKAGE.msi
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
  msi=$arg
fi
(cd "$work" && mkdir dump && msidump -t -s -d dump "$msi" >/dev/null) || { echo "package validation: msidump failed"; exit 1; }
dump="$work/dump"

# ok, not_ok and check, counting into CASE_PASSED and CASE_FAILED.
# shellcheck source=../wine/lib.sh
. "$here/../wine/lib.sh"
# Rows of a table without its three header lines, fields tab-separated.
rows() { tail -n +4 "$dump/$1.idt" | tr -d '\r'; }
# Keys of a table's rows.
keys() { rows "$1" | cut -f1; }

# Custom actions: DLL from a Binary row (type 1), property set (type 51).
exports=""
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  dll_exports() {
    x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p'
  }
else
  dll_exports() { return 1; }
fi
dirs=$(keys Directory)
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
      case $target in
        IsSupportOS | CheckMultiExec | CheckRasExec | ShowHelp)
          check "$action: immediate (reads and sets properties)" test "$((type & 0x400))" -eq 0 ;;
        *)
          check "$action: deferred without impersonation (changes the machine)" \
            test "$((type & 0xc00))" -eq "$((0xc00))" ;;
      esac
      ;;
    51)
      missing=""
      for ref in $(grep -o '\[[A-Z][A-Za-z0-9_]*\]' <<<"$target" | tr -d '[]'); do
        case $ref in ProgramFiles64Folder | ProgramFilesFolder | HelpUrl) continue ;; esac
        grep -q -x -F "$ref" <<<"$dirs" || missing="$missing $ref"
      done
      check "$action: sets $source from existing folders${missing:+ (missing:$missing)}" test -z "$missing"
      ;;
    *) not_ok "$action: a type the kit uses (1 or 51), not $type" ;;
  esac
done < <(rows CustomAction)

# Sequences: every scheduled custom action exists, numbers are unique, a
# TovrinData setter is followed by its reader.
seq_sorted() { rows "$1" | sort -t$'\t' -k3,3n; }
actions=$(keys CustomAction)
for table in InstallExecuteSequence InstallUISequence; do
  unknown=$(rows $table | cut -f1 | grep -E '^(Tovrin_|SetTargetDir)' | grep -v -x -F "$actions")
  check "$table: every scheduled custom action is defined" test -z "$unknown"
  check "$table: sequence numbers are unique" test -z "$(rows $table | cut -f3 | sort | uniq -d)"
done
order=$(seq_sorted InstallExecuteSequence | cut -f1 | tr '\n' ' ')
expected="FindRelatedProducts AppSearch SetTargetDir Tovrin_IsSupportOS Tovrin_CheckMultiExec Tovrin_CheckRasExec
  LaunchConditions CostFinalize InstallValidate RemoveExistingProducts InstallInitialize Tovrin_UninstallDeviceData
  Tovrin_UninstallDevice Tovrin_RemoveRakAllData Tovrin_RemoveRakAll Tovrin_RemoveSparkleReg RemoveFiles
  Tovrin_ConnectDefMigration InstallFiles Tovrin_InstallDeviceRollbackData Tovrin_InstallDeviceRollback
  Tovrin_InstallDeviceData Tovrin_InstallDevice InstallFinalize"
in_order() {
  local rest=" $order" a
  for a in $expected; do
    case $rest in *" $a "*) rest=${rest#*" $a "}; rest=" $rest" ;; *) echo "    out of order or missing: $a"; return 1 ;; esac
  done
}
check "InstallExecuteSequence: the kit's actions in order around the standard ones" in_order
check "InstallUISequence: IsSupportOS before LaunchConditions" \
  test "$(seq_sorted InstallUISequence | cut -f1 | grep -n -x -e Tovrin_IsSupportOS -e LaunchConditions | cut -d: -f2 | tr '\n' ' ')" \
  = "Tovrin_IsSupportOS LaunchConditions "
while IFS=$'\t' read -r setter reader; do
  check "$setter runs right before $reader" \
    test "$(seq_sorted InstallExecuteSequence | cut -f1 | grep -A1 -x -F "$setter" | tail -n 1)" = "$reader"
done < <(rows CustomAction | awk -F'\t' '$1 ~ /^Tovrin_.*Data$/ {print $1 "\t" $3}')
# A removal must never be stopped by the kit, and a mutex check in the UI
# sequence would lock out its own execute sequence.
blocking=$(rows InstallExecuteSequence | awk -F'\t' '$2 ~ /REMOVE="ALL"/ {print $1}' | while read -r action; do
  type=$(rows CustomAction | awk -F'\t' -v a="$action" '$1 == a {print $2}')
  [ $((type & 0x3f)) -eq 1 ] && [ $((type & 0x40)) -eq 0 ] && echo "$action"
done)
check "removal actions ignore their result${blocking:+ (not: $blocking)}" test -z "$blocking"
check "CheckMultiExec is not in the UI sequence" test -z "$(rows InstallUISequence | cut -f1 | grep -x Tovrin_CheckMultiExec)"
check "per-user data and updater settings stay when an upgrade removes the product" \
  test "$(rows InstallExecuteSequence | grep -E '^Tovrin_(RemoveRakAll|RemoveSparkleReg)' | grep -c 'NOT UPGRADINGPRODUCTCODE')" -eq 3

# Error rows with the HRESULT (field 2), searches, launch conditions.
for number in 25000 25001 25003; do
  check "Error $number is present and shows the HRESULT" grep -q -E "^$number"$'\t'".*\\[2\\]" <(rows Error)
done
for property in RASV1_INSTALLED RASEX_INSTALLED RASLE_INSTALLED; do
  signature=$(rows AppSearch | awk -F'\t' -v p="$property" '$1 == p {print $2}')
  check "$property is searched for in the registry" eval 'test -n "$signature" && keys RegLocator | grep -q -x -F "$signature"'
done
for property in RASXX_NOT_SUPPORTOS RASXX_RUNNING; do
  check "a launch condition uses $property" grep -q -F "NOT $property" <(rows LaunchCondition)
done
check "HelpUrl has a value" grep -q -E $'^HelpUrl\t.+' <(rows Property)

# The Japanese build: its language, code page and the .wxl's texts.
if [ -d "$arg" ]; then
  ja="$work/velk-access-ja.msi"
  if bash "$here/build.sh" "$arg/bin" "$ja" 1.0.0 ja-jp >/dev/null; then
    expected_ja=$(sed -n 's|^ *<String Id="TovrinError\([0-9]*\)">\(.*\)</String>$|\1\t\2|p' "$here/Tovrin.ja-jp.wxl")
    check "Japanese build: language 1041, code page 932" \
      eval 'msiinfo export "$ja" Property | tr -d "\r" | grep -q -x -F "$(printf "ProductLanguage\t1041")" &&
        msiinfo export "$ja" _ForceCodepage | tr -d "\r\0" | grep -q "^932"'
    check "Japanese build: the three Error rows hold the Japanese texts" \
      test "$(msiinfo export "$ja" Error | tail -n +4 | tr -d '\r' | sort)" = "$(sort <<<"$expected_ja")"
  else
    not_ok "Japanese build: the package builds"
  fi
fi

echo "package validation: $CASE_PASSED passed, $CASE_FAILED failed"
[ "$CASE_FAILED" -eq 0 ]
