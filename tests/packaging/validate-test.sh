#!/usr/bin/env bash
# validate.sh on two packages of its own: the kit's actions scheduled as a
# package must (deferred, no impersonation, fed by type-51 actions, a
# TARGETDIR setter of another name) and all immediate without a setter.
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
bash "$root/packaging/wix/add-errors.sh" good.msi && bash "$root/packaging/wix/add-errors.sh" bad.msi || exit 1

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
test "$(grep -c FAIL <<<"$out")" -eq 13 || fail "13 failures expected in the immediate package: $(grep FAIL <<<"$out")"

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
[ "$failed" -eq 0 ] && echo "validate.sh: both packages judged as expected"
exit $failed
