#!/bin/bash
# Builds the shipped Windows binaries of a commit twice, from two copies of
# its files in different folders, and checks that both give the same bytes.
#   reproducible.sh [COMMIT [win64|win32 ...]]      (default: HEAD win64)
# The first build may come from ccache; VELK_CCACHE=0 compiles it afresh too.
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$repo/tools/release/common.sh"
commit=${1:-HEAD}
shift $(( $# > 0 ? 1 : 0 ))
targets=("${@:-win64}")
git -C "$repo" rev-parse --verify -q "$commit^{commit}" >/dev/null || { echo "reproducible: no commit $commit"; exit 1; }
export SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
work=$repo/build/repro
status=0
for copy in first second-elsewhere; do
  export_commit "$repo" "$commit" "$work/$copy/velk-access"
done
for target in "${targets[@]}"; do
  start=$(date +%s)
  # The second copy always compiles afresh: bytes that a cache handed to
  # both builds would prove nothing.
  for copy in first second-elsewhere; do
    src=$work/$copy/velk-access
    if [ "$copy" = first ]; then
      build_shipped "$src" "$target" "$src/build/$target" || exit 1
    else
      VELK_CCACHE=0 build_shipped "$src" "$target" "$src/build/$target" || exit 1
    fi
  done
  for name in $(shipped_binaries "$target"); do
    a=$(sha256sum <"$work/first/velk-access/build/$target/bin/$name" | cut -d' ' -f1)
    b=$(sha256sum <"$work/second-elsewhere/velk-access/build/$target/bin/$name" | cut -d' ' -f1)
    if [ "$a" = "$b" ]; then
      echo "same $target/$name $a"
    else
      echo "DIFFERENT $target/$name $a $b"
      status=1
    fi
  done
  echo "$target: two builds of $(git -C "$repo" rev-parse --short "$commit") in $(( $(date +%s) - start )) s"
done
exit $status
