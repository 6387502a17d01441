#!/bin/bash
# A builder's own libcrypto, named the FindOpenSSL way, is the one a mingw
# build links: once by OPENSSL_INCLUDE_DIR with OPENSSL_CRYPTO_LIBRARY, once
# by OPENSSL_ROOT_DIR. The library of an earlier win64 build is copied to a
# folder of its own to stand for it; the cache folder is pointed at an empty
# place, which must stay empty (nothing is fetched or built).
#   check-openssl-given.sh WIN64_BUILD_DIR
# Exit code: 0 both ways link the program, 1 one did not, 77 no libcrypto
# at hand in WIN64_BUILD_DIR.
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: check-openssl-given.sh WIN64_BUILD_DIR}
library=$(sed -n 's/^OPENSSL_CRYPTO_LIBRARY:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
include=$(sed -n 's/^OPENSSL_INCLUDE_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
if [ ! -f "$library" ] || [ ! -f "$include/openssl/evp.h" ]; then
  echo "openssl-given: SKIPPED: no libcrypto in $build"
  exit 77
fi
# Inside the tree so that ccache finds the compiles of the other builds.
scratch=$repo/build/openssl-given
rm -rf "$scratch"
own=$scratch/own-openssl
mkdir -p "$own/lib" "$own/include"
cp "$library" "$own/lib/libcrypto.a"
cp -r "$include/openssl" "$own/include/"

status=0
try() {
  local name=$1 folder=$scratch/$1
  shift
  if ! VELK_OPENSSL_CACHE=$scratch/no-cache cmake -S "$repo" -B "$folder" -G Ninja \
      --toolchain "$repo/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release "$@" >"$folder.log" 2>&1; then
    echo "FAIL $name: configure failed (see $folder.log)"
    status=1
    return
  fi
  local used
  used=$(sed -n 's/^OPENSSL_CRYPTO_LIBRARY:[A-Z]*=//p' "$folder/CMakeCache.txt")
  if grep -q "OpenSSL not found" "$folder.log"; then
    echo "FAIL $name: $(grep -m1 'OpenSSL not found' "$folder.log")"
    status=1
  elif [ "$used" != "$own/lib/libcrypto.a" ]; then
    echo "FAIL $name: the build took ${used:-no libcrypto}, not $own/lib/libcrypto.a"
    status=1
  elif [ -e "$scratch/no-cache" ]; then
    echo "FAIL $name: the build fetched or built a libcrypto of its own"
    status=1
  elif ! cmake --build "$folder" -j"${VELK_JOBS:-2}" --target velk-access-migration >>"$folder.log" 2>&1; then
    echo "FAIL $name: velk-access-migration did not link (see $folder.log)"
    status=1
  else
    echo "ok   $name: velk-access-migration.exe linked with $own/lib/libcrypto.a"
  fi
}
try by-path -DOPENSSL_INCLUDE_DIR="$own/include" -DOPENSSL_CRYPTO_LIBRARY="$own/lib/libcrypto.a"
try by-root -DOPENSSL_ROOT_DIR="$own"
exit $status
