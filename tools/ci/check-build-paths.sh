#!/bin/bash
# Fails when a shipped Windows binary holds a path of the machine that built
# it: the home folder, the libcrypto cache, the build or the source folder.
# Such a path ties the bytes to one builder, and on Windows it names a folder
# at the root of the current drive that any user may create.
#   check-build-paths.sh BUILD_DIR...      (e.g. build/win64 build/win32)
# Folders come from each build's CMakeCache.txt and the environment.
set -u
[ $# -gt 0 ] || { echo "usage: check-build-paths.sh BUILD_DIR..." >&2; exit 2; }
status=0
for build in "$@"; do
  cache_file=$build/CMakeCache.txt
  [ -f "$cache_file" ] || { echo "check-build-paths: no $cache_file"; status=1; continue; }
  value() { sed -n "s/^$1:[A-Z]*=//p" "$cache_file" | head -n 1; }
  library=$(value OPENSSL_CRYPTO_LIBRARY)
  needles=(
    "$HOME"
    "${VELK_OPENSSL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velk-access/openssl}"
    "$(cd "$build" && pwd -P)"
    "$(value CMAKE_HOME_DIRECTORY)"
  )
  # libcrypto's own folder, wherever it came from (.../<prefix>/lib/libcrypto.a).
  [ -n "$library" ] && needles+=("$(dirname "$(dirname "$library")")")
  files=()
  for name in Tovrin64.dll velk-access-migration.exe velk-reqdat.exe; do
    [ -f "$build/bin/$name" ] && files+=("$build/bin/$name")
  done
  [ ${#files[@]} -gt 0 ] || { echo "check-build-paths: no shipped binary in $build/bin"; status=1; continue; }
  for file in "${files[@]}"; do
    found=()
    # Narrow strings and UTF-16 ones, as Windows code keeps both.
    text=$( { strings -a -n 4 "$file"; strings -a -n 4 -e l "$file"; } )
    for needle in "${needles[@]}"; do
      # "/" or a short home would match anything: not a path worth a look.
      [ ${#needle} -ge 5 ] || continue
      hits=$(grep -F -- "$needle" <<<"$text" | sort -u | head -n 3)
      [ -n "$hits" ] && found+=("$hits")
    done
    if [ ${#found[@]} -gt 0 ]; then
      echo "BUILD PATH in $file:"
      printf '%s\n' "${found[@]}" | sort -u | sed 's/^/  /'
      status=1
    else
      echo "no build path in $file"
    fi
  done
done
exit $status
