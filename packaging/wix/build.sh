#!/usr/bin/env bash
# Builds the reference package with wixl from velk-access.wxs and the kit's
# Tovrin.wxi, and adds the kit's Error rows (wixl reads no <UI>) with
# add-errors.sh, as any package including the kit does.
#
#   packaging/wix/build.sh BIN_DIR OUT_MSI [VERSION [CULTURE]]
#
# BIN_DIR holds Tovrin64.dll and velk-access-migration.exe (a win64 build's
# bin/, with THIRD-PARTY-NOTICES.txt or the link maps it is made from). The client is a stand-in: VELK_CLIENT_STANDIN names the program
# installed as bin\velk-access.exe (default: BIN_DIR/velk-reqdat.exe).
# VERSION is the ProductVersion (default: the first three parts of the
# project version in the top CMakeLists.txt); CULTURE picks the
# Tovrin.CULTURE.wxl texts and the package's language (en-us, ja-jp). The staged sources and the
# wixl log are kept beside OUT_MSI, in OUT_MSI's name with ".src".
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:?usage: build.sh BIN_DIR OUT_MSI [VERSION]}
out=${2:?usage: build.sh BIN_DIR OUT_MSI [VERSION]}
version=${3:-$(sed -n 's/^project([^)]* VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$here/../../CMakeLists.txt")}
version=${version:-0.0.0}
culture=${4:-en-us}
case $culture in
  en-us) language=1033 ;;
  ja-jp) language=1041 ;;
  *) echo "build.sh: no texts for culture $culture" >&2; exit 1 ;;
esac
for tool in wixl msibuild; do
  command -v "$tool" >/dev/null || { echo "build.sh: $tool is not installed (msitools, wixl)" >&2; exit 77; }
done

out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
src="${out%.msi}.src"
rm -rf "$src"
mkdir -p "$src"
cp "$bin/Tovrin64.dll" "$bin/velk-access-migration.exe" "$src/"
# The licence texts of what the binaries link, installed beside them (the
# build's third-party-notices target writes them; made here from the link
# maps when it did not run).
if [ -f "$bin/THIRD-PARTY-NOTICES.txt" ]; then
  cp "$bin/THIRD-PARTY-NOTICES.txt" "$src/"
else
  python3 "$here/../../tools/release/sbom.py" notices "$src/THIRD-PARTY-NOTICES.txt" "windows=$bin/.." ||
    { echo "build.sh: no THIRD-PARTY-NOTICES.txt for the binaries in $bin" >&2; exit 1; }
fi
cp "${VELK_CLIENT_STANDIN:-$bin/velk-reqdat.exe}" "$src/velk-access.exe"
cp "$here/../wine/cases/devices.inf" "$src/vnettest.inf"
: >"$src/_installed_01"
: >"$src/_installed_02"
cp "$here/Tovrin.wxi" "$here/velk-access.wxs" "$src/"

(cd "$src" && wixl -a x64 -D WIXL=1 -D "VelkVersion=$version" -D "VelkLanguage=$language" -o "$out" velk-access.wxs >wixl.log 2>&1) || {
  cat "$src/wixl.log" >&2
  exit 1
}

bash "$here/wixl-rollback.sh" "$out" "$src/Tovrin.wxi" "$src/velk-access.wxs"
bash "$here/add-errors.sh" "$out" "$culture"
echo "$out"
