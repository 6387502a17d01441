#!/bin/bash
# Builds the shipped Windows binaries of a commit twice and checks that both
# give the same bytes, and the same notices and SBOM (tools/release/sbom.py),
# which tools/ci/check-sbom.sh validates. The second build stands for another machine: another
# checkout folder (of another depth), another HOME, and so another libcrypto
# cache, where libcrypto is built again from the same verified source (the
# source and package lists are copied over, so nothing is fetched).
#   reproducible.sh [COMMIT [win64|win32 ...]]      (default: HEAD win64)
# The first build may come from ccache; VELK_CCACHE=0 compiles it afresh too.
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$repo/tools/release/common.sh"
commit=${1:-HEAD}
shift $(( $# > 0 ? 1 : 0 ))
targets=("${@:-win64}")
git -C "$repo" rev-parse --verify -q "$commit^{commit}" >/dev/null || { echo "reproducible: no commit $commit"; exit 1; }
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
work=$repo/build/repro
status=0
first=$work/first/velk-access
second=$work/second/checkout/elsewhere/velk-access
home=$work/second/home
rm -rf "$work"
export_commit "$repo" "$commit" "$first"
export_commit "$repo" "$commit" "$second"
mkdir -p "$home"
cache=${VELK_OPENSSL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velk-access/openssl}
other_cache=$home/.cache/velk-access/openssl
if [ -d "$cache/apt/lists" ]; then
  mkdir -p "$other_cache"
  cp -r "$cache/apt" "$other_cache/"
  for source in "$cache"/*/source; do
    [ -d "$source" ] || continue
    mkdir -p "$other_cache/$(basename "$(dirname "$source")")"
    cp -r "$source" "$other_cache/$(basename "$(dirname "$source")")/"
  done
fi
for target in "${targets[@]}"; do
  start=$(date +%s)
  # The second copy always compiles afresh: bytes that a cache handed to
  # both builds would prove nothing.
  build_shipped "$first" "$target" "$first/build/$target" || exit 1
  (
    export HOME=$home XDG_CACHE_HOME="" VELK_OPENSSL_CACHE="" VELK_CCACHE=0
    build_shipped "$second" "$target" "$second/build/$target"
  ) || exit 1
  built=$(sed -n 's/^OPENSSL_CRYPTO_LIBRARY:FILEPATH=//p' "$second/build/$target/CMakeCache.txt")
  case $built in
    "$other_cache"/*) echo "second build's libcrypto: built again in $(dirname "$(dirname "$built")")" ;;
    *) echo "the second build took libcrypto from ${built:-nowhere}, not from its own cache"; status=1 ;;
  esac
  for name in $(shipped_binaries "$target"); do
    a=$(sha256sum <"$first/build/$target/bin/$name" | cut -d' ' -f1)
    b=$(sha256sum <"$second/build/$target/bin/$name" | cut -d' ' -f1)
    if [ "$a" = "$b" ]; then
      echo "same $target/$name $a"
    else
      echo "DIFFERENT $target/$name $a $b"
      status=1
    fi
  done
  # The notices and the SBOM of each build, from its own link maps and
  # libcrypto cache: the same bytes; the first one valid and complete.
  version=$(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' "$first/CMakeLists.txt")
  hash=$(git -C "$repo" rev-parse "$commit")
  for copy in first second; do
    tree=$first
    [ "$copy" = second ] && tree=$second
    mkdir -p "$work/sbom-$copy/$target"
    for name in $(shipped_binaries "$target"); do cp "$tree/build/$target/bin/$name" "$work/sbom-$copy/$target/"; done
    python3 "$repo/tools/release/sbom.py" make "$work/sbom-$copy" "$version" "$hash" "$target=$tree/build/$target" ||
      { echo "$target: no SBOM for the $copy build"; status=1; }
  done
  for file in THIRD-PARTY-NOTICES.txt velk-access.cdx.json; do
    if cmp -s "$work/sbom-first/$file" "$work/sbom-second/$file"; then
      echo "same $target $file $(sha256sum <"$work/sbom-first/$file" | cut -d' ' -f1)"
    else
      echo "DIFFERENT $target $file"
      status=1
    fi
  done
  rc=0
  bash "$repo/tools/ci/check-sbom.sh" "$work/sbom-first/velk-access.cdx.json" "$target=$first/build/$target" || rc=$?
  [ "$rc" = 0 ] || [ "$rc" = 77 ] || status=1
  echo "$target: two builds of $(git -C "$repo" rev-parse --short "$commit") in $(( $(date +%s) - start )) s"
done
exit $status
