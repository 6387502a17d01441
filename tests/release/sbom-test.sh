#!/usr/bin/env bash
# tools/release/sbom.py on link maps of its own (no Windows build needed):
# the components the maps name go into the SBOM and the notices, the same
# bytes twice, check refuses an SBOM that misses a linked component, and a
# file of a package the script does not know stops it, named.
#
#   tests/release/sbom-test.sh SOURCE_DIR
#
# Exit code: 0 passed, 1 failed, 77 the mingw-w64 packages are missing.
set -u
root=${1:?usage: sbom-test.sh SOURCE_DIR}
gcc_dir=/usr/lib/gcc/x86_64-w64-mingw32/12-posix
for f in "$gcc_dir/crtbegin.o" "$gcc_dir/libstdc++.a" /usr/x86_64-w64-mingw32/lib/libmingwex.a; do
  [ -f "$f" ] || { echo "SKIPPED: $f is missing (mingw-w64)"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/velk-sbom-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
sbom() { python3 "$root/tools/release/sbom.py" "$@"; }

# A build folder: a libcrypto prefix as openssl-mingw.sh leaves it, and two
# binaries with their maps (relative objects are the build's own).
build=$work/build
mkdir -p "$build/bin" "$work/openssl/lib" "$work/release/win64"
: >"$work/openssl/lib/libcrypto.a"
echo "openssl 3.0.99 (Debian 3.0.99-1) for x86_64-w64-mingw32, built gcc" >"$work/openssl/VERSION"
echo "openssl_3.0.99.orig.tar.gz sha256 $(printf '%064d' 7) checked against the signed source index" >"$work/openssl/SOURCE"
printf 'Apache License\nVersion 2.0, probe text\n' >"$work/openssl/LICENSE.txt"
echo "OPENSSL_CRYPTO_LIBRARY:FILEPATH=$work/openssl/lib/libcrypto.a" >"$build/CMakeCache.txt"
map() { # NAME MEMBER-LINES...
  local name=$1
  shift
  {
    echo "Archive member included to satisfy reference by file (symbol)"
    echo
    for member in "$@"; do
      echo "$member"
      echo "                              main.cpp.obj (symbol)"
    done
    echo
    echo "Memory Configuration"
    echo
    echo "Linker script and memory map"
    echo
    echo "LOAD $gcc_dir/../../../../x86_64-w64-mingw32/lib/crt2.o"
    echo "LOAD $gcc_dir/crtbegin.o"
    echo "LOAD main/CMakeFiles/x.dir/main.cpp.obj"
  } >"$build/bin/$name.map"
  echo "$name" >"$build/bin/$name"
  cp "$build/bin/$name" "$work/release/win64/"
}
map one.exe "$gcc_dir/libstdc++.a(del_ops.o)" "/usr/x86_64-w64-mingw32/lib/libmingwex.a(mingw_vfprintf.o)" \
  "/usr/x86_64-w64-mingw32/lib/libpthread.a(libwinpthread_la-thread.o)" \
  "$work/openssl/lib/libcrypto.a(libcrypto-lib-sha256.obj)" "main/libown.a(own.cpp.obj)"
map two.dll "/usr/x86_64-w64-mingw32/lib/libmingwex.a(mingw_vfprintf.o)"

export SOURCE_DATE_EPOCH=1700000000
sbom make "$work/release" 9.8.7.6 0123456789abcdef win64="$build" || fail "make failed"
cdx=$work/release/velk-access.cdx.json
components() { python3 -c 'import json,sys
for f in json.load(open(sys.argv[1]))["components"]:
    print(f["name"], " ".join(c["name"] + "=" + c["version"] for c in f["components"]))' "$1"; }
got=$(components "$cdx")
expected="win64/one.exe libgcc=12.2.0 libstdc++=12.2.0 mingw-w64-crt=10.0.0 openssl=3.0.99 winpthreads=10.0.0
win64/two.dll libgcc=12.2.0 mingw-w64-crt=10.0.0"
[ "$got" = "$expected" ] || fail "components: got
$got
expected
$expected"
grep -q -F '"timestamp": "2023-11-14T22:13:20Z"' "$cdx" || fail "the time is not SOURCE_DATE_EPOCH's"
grep -q -F "\"content\": \"$(printf '%064d' 7)\"" "$cdx" || fail "the OpenSSL source archive's SHA-256 is not in the SBOM"
grep -q -F "\"content\": \"$(sha256sum <"$work/release/win64/one.exe" | cut -d' ' -f1)\"" "$cdx" ||
  fail "one.exe's SHA-256 is not in the SBOM"
notices=$work/release/THIRD-PARTY-NOTICES.txt
grep -q -x -F "Version 2.0, probe text" "$notices" || fail "the notices lack OpenSSL's licence from its source"
grep -q -F "GCC RUNTIME LIBRARY EXCEPTION" "$notices" || fail "the notices lack the GCC runtime's copyright file"
grep -q -x -F "License: ZPL-2.1" "$notices" || fail "the notices lack mingw-w64's copyright file"
grep -q -F "$work" "$cdx" "$notices" && fail "a build path is in the SBOM or the notices"

# The same bytes again.
cp "$cdx" "$work/first.json"
cp "$notices" "$work/first.txt"
sbom make "$work/release" 9.8.7.6 0123456789abcdef win64="$build" || fail "make failed again"
{ cmp -s "$cdx" "$work/first.json" && cmp -s "$notices" "$work/first.txt"; } || fail "a second run gave other bytes"

sbom check "$cdx" win64="$build" >/dev/null || fail "check refuses the SBOM it was made with"
# An SBOM without OpenSSL in one.exe.
python3 -c 'import json,sys
d = json.load(open(sys.argv[1]))
d["components"][0]["components"] = [c for c in d["components"][0]["components"] if c["name"] != "openssl"]
json.dump(d, open(sys.argv[2], "w"))' "$cdx" "$work/missing.json"
out=$(sbom check "$work/missing.json" win64="$build" 2>&1) && fail "check passes an SBOM without openssl"
grep -q -x -F "sbom: win64/one.exe links openssl, which the SBOM does not list for it" <<<"$out" ||
  fail "check does not name the missing component: $out"

# A library of a package the script has no component for.
if library=$(dpkg -L libgtest-dev 2>/dev/null | grep -m1 '/libgtest\.a$'); then
  map three.exe "$library(gtest-all.cc.o)"
  out=$(sbom make "$work/release" 9.8.7.6 0123456789abcdef win64="$build" 2>&1) && fail "make takes an unknown package"
  grep -q -F "sbom: three.exe links libgtest.a(gtest-all.cc.o) of package libgtest-dev (source googletest), a component the SBOM does not list" <<<"$out" ||
    fail "make does not name the unknown component: $out"
else
  echo "skipped: an unknown package's library (libgtest-dev is not installed)"
fi
[ "$failed" -eq 0 ] && echo "sbom.py: components, notices, bytes and refusals as expected"
exit $failed
