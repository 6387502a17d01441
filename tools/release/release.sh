#!/bin/bash
# Makes the release folder of a commit: the shipped Windows binaries of both
# targets (signed when a certificate is set, see sign.sh), the WiX sources
# of the package when there are any, the README, RELEASE.md with the
# versions of the kit, OpenSSL and the compilers, THIRD-PARTY-NOTICES.txt and
# the SBOM velk-access.cdx.json (tools/release/sbom.py), SHA256SUMS over all of it,
# and a reproducible .tar.gz of the folder.
#   release.sh [COMMIT]       (default: HEAD; the folder goes to build/release/)
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$repo/tools/release/common.sh"
commit=${1:-HEAD}
git -C "$repo" rev-parse --verify -q "$commit^{commit}" >/dev/null || { echo "release: no commit $commit"; exit 1; }
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
hash=$(git -C "$repo" rev-parse "$commit")
version=$(git -C "$repo" show "$commit:CMakeLists.txt" | sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p')
[ -n "$version" ] || { echo "release: no project version in CMakeLists.txt"; exit 1; }

work=$repo/build/release
src=$work/source
name=velk-access-$version
out=$work/$name
export_commit "$repo" "$commit" "$src"
rm -rf "$out" "$out.tar.gz"
mkdir -p "$out"

declare -A openssl options compiler
for target in win64 win32; do
  build_shipped "$src" "$target" "$src/build/$target" || exit 1
  mkdir -p "$out/$target"
  for binary in $(shipped_binaries "$target"); do cp "$src/build/$target/bin/$binary" "$out/$target/"; done
  bash "$repo/tools/ci/check-version.sh" "$(mingw_prefix "$target")-windres" "$version" "$out/$target"/* || exit 1
  library=$(sed -n 's/^OPENSSL_CRYPTO_LIBRARY:[A-Z]*=//p' "$src/build/$target/CMakeCache.txt")
  stamp=$(dirname "$library")/../VERSION
  openssl[$target]=$(head -n 1 "$stamp" 2>/dev/null || echo "given by the builder: $library")
  options[$target]=$(sed -n 's/^configured with //p' "$stamp" 2>/dev/null)
  # The compiler the toolchain file names (cmake/mingw-w64.cmake).
  cxx=$(mingw_prefix "$target")-g++-posix
  compiler[$target]=$("$cxx" --version | head -n 1)
done

signing="unsigned (no certificate was set)"
rc=0
bash "$repo/tools/release/sign.sh" "$out"/win64/* "$out"/win32/* || rc=$?
case $rc in
  0) signing="Authenticode, SHA-256$([ -n "${VELK_SIGN_TIMESTAMP_URL:-}" ] && echo ", time-stamped" || echo ", no time stamp")" ;;
  77) ;;
  *) echo "release: signing failed"; exit 1 ;;
esac

cp "$src/README.md" "$out/"
# The package's WiX sources (the Wine test packages are not shipped).
wix=$(cd "$src" && find packaging -name '*.wxs' -not -path 'packaging/wine/*' | sort)
if [ -n "$wix" ]; then
  mkdir -p "$out/wix"
  for f in $wix; do cp "$src/$f" "$out/wix/"; done
fi

# What the binaries are made of, from their link maps: the licence texts
# of every component (THIRD-PARTY-NOTICES.txt) and the SBOM (CycloneDX 1.5),
# validated and checked against the maps again.
python3 "$src/tools/release/sbom.py" make "$out" "$version" "$hash" win64="$src/build/win64" win32="$src/build/win32" ||
  { echo "release: no SBOM"; exit 1; }
rc=0
bash "$src/tools/ci/check-sbom.sh" "$out/velk-access.cdx.json" win64="$src/build/win64" win32="$src/build/win32" || rc=$?
case $rc in
  0) sbom_state="validated (CycloneDX 1.5 schema) and checked against the link maps" ;;
  77) sbom_state="checked against the link maps; NOT validated (the CycloneDX validator is not installed)"
      python3 "$src/tools/release/sbom.py" check "$out/velk-access.cdx.json" win64="$src/build/win64" \
        win32="$src/build/win32" || exit 1 ;;
  *) echo "release: the SBOM is not valid or misses a linked component"; exit 1 ;;
esac

{
  echo "# velk-access installation support kit $version"
  echo
  echo "- Commit: $hash ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"
  echo "- Signatures: $signing"
  for target in win64 win32; do
    echo "- $target: ${compiler[$target]}; ${openssl[$target]}"
  done
  for target in win64 win32; do
    [ -n "${options[$target]}" ] && echo "- $target libcrypto configured with: ${options[$target]}"
  done
  echo "- Resource compiler: $(x86_64-w64-mingw32-windres --version | head -n 1)"
  echo "- Third-party components: THIRD-PARTY-NOTICES.txt (their licence texts), velk-access.cdx.json"
  echo "  (SBOM, $sbom_state)"
  echo
  echo "| file | bytes |"
  echo "|---|---|"
  for target in win64 win32; do
    for binary in $(shipped_binaries "$target"); do
      echo "| $target/$binary | $(stat -c %s "$out/$target/$binary") |"
    done
  done
  echo
  echo "Unsigned binaries are byte-identical when rebuilt from this commit"
  echo "(tools/release/reproducible.sh); SHA256SUMS lists every file here."
} >"$out/RELEASE.md"

# shellcheck disable=SC2094 # find leaves SHA256SUMS out of what it lists
(cd "$out" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner -C "$work" -cf - "$name" |
  gzip -n >"$out.tar.gz"
echo "release: $out"
echo "release: $out.tar.gz sha256 $(sha256sum <"$out.tar.gz" | cut -d' ' -f1)"
cat "$out/SHA256SUMS"
