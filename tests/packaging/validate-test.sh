#!/usr/bin/env bash
# validate.sh on packages of its own: the kit's actions scheduled as a
# package must (deferred, no impersonation, fed by type-51 actions, a
# TARGETDIR setter of another name, rollback and commit pairs), all
# immediate without a setter, with wixl's stray 0x800 bit (ICE68), and with
# pairs broken. add-errors.sh and wixl-rollback.sh set the types right.
# The DLL is a stub exporting the kit's entry points.
#
#   tests/packaging/validate-test.sh SOURCE_DIR
#
# Exit code: 0 passed, 1 failed, 77 wixl, msitools or mingw missing.
set -u
root=${1:?usage: validate-test.sh SOURCE_DIR}
for tool in wixl msibuild msidump msiinfo x86_64-w64-mingw32-gcc; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/velk-validate-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

cd "$work" || exit 1
for entry in IsSupportOS CheckMultiExec CheckRasExec ConnectDefMigration InstallDevice UninstallDevice RemoveRakAll RemoveSparkleReg; do
  echo "__declspec(dllexport) unsigned __stdcall $entry(unsigned long h) { (void)h; return 0; }"
done >stub.c
x86_64-w64-mingw32-gcc -shared -o Tovrin64.dll stub.c || exit 1
echo probe >probe.exe
# The probe's INF: the hardware id in a decorated models section, a
# compatible id after it, comments and CR LF as Windows editors write them;
# the id holds "\v", which a reader taking escapes would turn into a tab.
# shellcheck disable=SC2016 # the INF's own text
printf '%s\r\n' '[Version]' 'Signature = "$Windows NT$"' 'Class = Net' \
  'ClassGUID = {4d36e972-e325-11ce-bfc1-08002be10318}' '[Manufacturer]' '%Maker% = Probe, NTamd64 ; 64-bit only' \
  '[Probe.NTamd64]' '%Desc% = Probe.Install, ROOT\VNetProbe, probe_compat' '[Probe.Install]' 'Characteristics = 0x1' \
  '[Other]' '%Desc% = Other.Install, root\elsewhere' '[Strings]' 'Maker = "probe"' 'Desc = "probe adapter"' >probe.inf
cp "$root/tests/packaging/scheduling.wxs" .
wixl -a x64 -D Deferred=1 -o good.msi scheduling.wxs && wixl -a x64 -o bad.msi scheduling.wxs || exit 1
# wixl's stray no-impersonation bit on immediate actions (ICE68), before
# add-errors.sh clears it.
wixl_type=$(msiinfo export good.msi CustomAction | tr -d '\r' | awk -F'\t' '$1 == "Tovrin_CheckRasExec" {print $2}')
bash "$root/packaging/wix/add-errors.sh" good.msi && bash "$root/packaging/wix/add-errors.sh" bad.msi || exit 1
# The package's own rollback and commit actions, as the README says.
bash "$root/packaging/wix/wixl-rollback.sh" good.msi scheduling.wxs || exit 1
type_of() { msiinfo export "$1" CustomAction | tr -d '\r' | awk -F'\t' -v a="$2" '$1 == a {print $2}'; }
[ "$wixl_type" = 2049 ] || echo "note: wixl no longer sets 0x800 on immediate actions (type $wixl_type)"
for pair in "Tovrin_CheckRasExec 1" "ProbeTarget 51" "FeedInstallDevice 51" "Tovrin_IsSupportOS 65" "Tovrin_InstallDevice 3073" \
  "Tovrin_RemoveRakAll 3649" "Tovrin_UninstallDeviceRollback 3393" "Tovrin_RemoveRakAllNoRollback 3137"; do
  read -r action want <<<"$pair"
  got=$(type_of good.msi "$action")
  [ "$got" = "$want" ] || fail "$action: type $got after add-errors.sh and wixl-rollback.sh, wanted $want"
done
# Running it again changes nothing.
before=$(msiinfo export good.msi CustomAction)
bash "$root/packaging/wix/wixl-rollback.sh" good.msi scheduling.wxs "$root/packaging/wix/Tovrin.wxi" || exit 1
[ "$(msiinfo export good.msi CustomAction)" = "$before" ] || fail "a second wixl-rollback.sh run changes the types"

# A relative path, from another folder.
mkdir sub
out=$(cd sub && bash "$root/packaging/wix/validate.sh" ../good.msi) || fail "the deferred package fails validation: $(grep FAIL <<<"$out")"
grep -q -x -F "  ok   - TARGETDIR is set before Tovrin_CheckRasExec (ProbeTarget)" <<<"$out" || fail "the setter ProbeTarget is not accepted"

out=$(bash "$root/packaging/wix/validate.sh" "$work/bad.msi") && fail "the immediate package passes validation"
for action in InstallDevice UninstallDevice ConnectDefMigration RemoveRakAll RemoveSparkleReg; do
  grep -q -F "  FAIL - Tovrin_$action: deferred without impersonation" <<<"$out" || fail "Tovrin_$action is not refused as immediate"
  grep -q -F "  FAIL - Tovrin_$action is fed by a type-51 action setting Tovrin_$action" <<<"$out" || fail "Tovrin_$action's missing feeder is not named"
done
grep -q -F "  FAIL - TARGETDIR is set before Tovrin_CheckRasExec: no type-51 or type-35 action sets TARGETDIR" <<<"$out" ||
  fail "the missing TARGETDIR setter is not named"
test "$(grep -c FAIL <<<"$out")" -eq 31 || fail "31 failures expected in the immediate package: $(grep FAIL <<<"$out")"

# ICE68: an immediate action with the no-impersonation bit is refused.
cp good.msi stray.msi
msibuild stray.msi -q "UPDATE CustomAction SET Type = 2049 WHERE Action = 'Tovrin_CheckRasExec'" || exit 1
out=$(bash "$root/packaging/wix/validate.sh" "$work/stray.msi") && fail "a stray 0x800 bit passes validation"
grep -q -x -F "  FAIL - ICE68: no immediate custom action has the no-impersonation bit 0x800 (not: Tovrin_CheckRasExec (2049))" <<<"$out" ||
  fail "the stray 0x800 bit is not named: $(grep FAIL <<<"$out")"
test "$(grep -c FAIL <<<"$out")" -eq 1 || fail "one failure expected for the stray bit: $(grep FAIL <<<"$out")"

# A removal of user data that is no commit action, or without its twin for
# a disabled rollback, or an adapter removal without its rollback.
cp good.msi unpaired.msi
msibuild unpaired.msi -q "UPDATE CustomAction SET Type = 3137 WHERE Action = 'Tovrin_RemoveRakAll'" \
  -q "DELETE FROM InstallExecuteSequence WHERE Action = 'Tovrin_RemoveSparkleRegNoRollback'" \
  -q "DELETE FROM InstallExecuteSequence WHERE Action = 'Tovrin_UninstallDeviceRollback'" || exit 1
out=$(bash "$root/packaging/wix/validate.sh" "$work/unpaired.msi") && fail "an unpaired package passes validation"
for line in "Tovrin_RemoveRakAll: a commit action (type 3137, needs 0x200 with 0x400)" \
  "Tovrin_RemoveSparkleReg: while rollback is disabled a deferred action calling RemoveSparkleReg runs instead, at the end of the script" \
  "Tovrin_UninstallDevice is undone by a rollback action calling InstallDevice, before it, on its condition"; do
  grep -q -x -F "  FAIL - $line" <<<"$out" || fail "not refused: $line: $(grep FAIL <<<"$out")"
done

# The driver's names: an INF that is not among the package's files, and a
# hardware id in no models section of the INF (root\elsewhere is in a
# section that is not one), each refused with the name that did not match.
wixl -a x64 -D Deferred=1 -D ProbeInf=vnet.inf -o wrong-inf.msi scheduling.wxs &&
  wixl -a x64 -D Deferred=1 -D 'ProbeHwid=root\elsewhere' -o wrong-hwid.msi scheduling.wxs &&
  bash "$root/packaging/wix/add-errors.sh" wrong-inf.msi && bash "$root/packaging/wix/add-errors.sh" wrong-hwid.msi || exit 1
grep -q -x -F "  ok   - TovrinHwid root\vnetprobe is in a models section of probe.inf" <<<"$(bash "$root/packaging/wix/validate.sh" good.msi)" ||
  fail "the hardware id of the good package is not found in its INF"
out=$(bash "$root/packaging/wix/validate.sh" wrong-inf.msi) && fail "a package without its INF passes validation"
grep -q -x -F "  FAIL - TovrinInf vnet.inf is a file of the package in DRIVERDIR (files there: probe.inf)" <<<"$out" ||
  fail "the missing INF is not named: $(grep FAIL <<<"$out")"
out=$(bash "$root/packaging/wix/validate.sh" wrong-hwid.msi) && fail "a package whose hardware id is not in its INF passes validation"
grep -q -x -F "  FAIL - TovrinHwid root\elsewhere is in a models section of probe.inf (its ids: ROOT\VNetProbe probe_compat)" <<<"$out" ||
  fail "the unknown hardware id is not named: $(grep FAIL <<<"$out")"

# The Error rows name the package's product.
msiinfo export good.msi Error | tr -d '\r' | grep -q -x -F "$(printf '25001\tAnother Scheduling probe setup is running (error [2]). Let it finish, then run this setup again.')" ||
  fail "the Error row 25001 does not name the product"
# Launch-condition texts: a package's own English texts stay in a ja-jp
# package; a packager's own .wxl replaces them, in any language.
launch() { msiinfo export "$1" LaunchCondition | tr -d '\r' | awk -F'\t' -v c="$2" '$1 == c {print $2}'; }
wixl -a x64 -D Deferred=1 -o ja.msi scheduling.wxs && bash "$root/packaging/wix/add-errors.sh" ja.msi ja-jp || exit 1
[ "$(launch ja.msi "Installed OR NOT RASXX_RUNNING")" = "Running." ] || fail "the package's own launch text was replaced"
sed 's|</WixLocalization>|  <String Id="TovrinLaunchRunning">Probe läuft noch: [ProductName] beenden.</String>\n</WixLocalization>|' \
  <(sed '/TovrinLaunch/d' "$root/packaging/wix/Tovrin.en-us.wxl") >own.wxl
wixl -a x64 -D Deferred=1 -o own.msi scheduling.wxs && bash "$root/packaging/wix/add-errors.sh" own.msi en-us own.wxl || exit 1
[ "$(launch own.msi "Installed OR NOT RASXX_RUNNING")" = "Probe läuft noch: [ProductName] beenden." ] ||
  fail "the packager's launch text is not in the package: $(launch own.msi "Installed OR NOT RASXX_RUNNING")"
[ "$(launch own.msi "Installed OR NOT RASXX_NOT_SUPPORTOS")" = "Too old." ] || fail "a launch text the .wxl does not give changed"
[ "$failed" -eq 0 ] && echo "validate.sh: every package judged as expected"
exit $failed
