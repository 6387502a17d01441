#!/usr/bin/env bash
# A static libcrypto for one mingw-w64 target, built from the upstream
# tarball of Debian's own openssl source package and kept in a cache that
# later builds reuse (one folder per OpenSSL version and target).
#
#   cmake/openssl-mingw.sh TRIPLET     (x86_64-w64-mingw32 or i686-w64-mingw32)
#
# Prints the installed prefix (include/, lib/libcrypto.a) as its last line;
# the prefix's name carries a hash of the configure options, so a change of
# options builds anew instead of reusing an older library;
# progress goes to standard error. Environment:
#   VELK_OPENSSL_CACHE    the cache folder (default ~/.cache/velk-access/openssl)
#   VELK_OPENSSL_REFRESH  1: ask the archive again for the newest source version
#
# The source list is derived from the machine's own apt sources (the same
# entries as deb-src) and kept, with its package lists, inside the cache:
# the system's apt state is never touched.
set -euo pipefail

triplet=${1:?usage: openssl-mingw.sh TRIPLET}
case "$triplet" in
  x86_64-w64-mingw32) target=mingw64 ;;
  i686-w64-mingw32) target=mingw ;;
  *) echo "openssl-mingw: unknown target $triplet" >&2; exit 2 ;;
esac
cache=${VELK_OPENSSL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velk-access/openssl}
apt_dir=$cache/apt
say() { echo "openssl-mingw: $*" >&2; }

apt_opts=(
  -o Dir::Etc::SourceList=/dev/null
  -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
  -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir/cache"
  -o Debug::NoLocking=1
  -o APT::Sandbox::User="$(id -un)"
)
apt_private() { apt-get -q "${apt_opts[@]}" "$@"; }

# deb entries of the machine's sources, turned into deb-src entries.
write_source_list() {
  local parts=$apt_dir/sources.list.d f n=0
  rm -rf "$parts"
  mkdir -p "$parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    n=$((n + 1))
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >"$parts/$n.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    n=$((n + 1))
    sed 's/^Types:.*$/Types: deb-src/' "$f" >"$parts/$n.sources"
  done
  [ "$n" -gt 0 ] || { say "no apt sources on this machine"; exit 1; }
}

if [ ! -d "$apt_dir/lists" ] || [ -z "$(ls "$apt_dir"/lists/*Sources* 2>/dev/null)" ] \
   || [ "${VELK_OPENSSL_REFRESH:-0}" = 1 ]; then
  say "reading the source package lists"
  write_source_list
  apt_private update >&2
fi

version=$(apt-cache "${apt_opts[@]}" showsrc openssl 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
[ -n "$version" ] || { say "the archive lists no openssl source package"; exit 1; }
upstream=${version#*:}
upstream=${upstream%-*}

# The kit uses SHA-256 and AES-256-CBC through EVP and nothing else: every
# other algorithm, protocol and facility stays out of the library. The
# kit never reads OpenSSL's error queue, so its texts (no-err) and the
# source file names in it (no-filenames) go too. Built for size (-Os, after
# Configure's own -O3, so it wins): the two digests and ciphers run over a
# few hundred bytes, where speed is not felt and every shipped byte is.
options=(
  no-shared no-tests no-dso no-engine no-asm no-module no-legacy
  no-ui-console no-autoload-config
  no-aria no-bf no-blake2 no-camellia no-cast no-chacha no-cmac no-cms no-comp no-ct
  no-des no-dh no-dsa no-ec no-ec2m no-idea no-md4 no-mdc2 no-ocb no-ocsp no-poly1305
  no-rc2 no-rc4 no-rmd160 no-scrypt no-seed no-siphash no-siv no-sm2 no-sm3 no-sm4
  no-srp no-srtp no-ts no-whirlpool no-sock no-dgram no-ssl no-tls no-dtls
  no-filenames no-err no-async no-multiblock no-psk no-rfc3779
  -Os -ffunction-sections -fdata-sections
)
# The folders OpenSSL compiles into the library (OPENSSLDIR, ENGINESDIR,
# MODULESDIR) name OpenSSL's own places under Program Files, which only an
# administrator can create, never a folder of the build machine: on Windows
# a path like /root/... is a folder at the root of the current drive. The
# library loads nothing from them (no-autoload-config, no-module, no-dso).
# Configure takes only absolute paths of the build machine, so they are set
# as make variables, which the compile lines quote.
places=("OPENSSLDIR=C:/Program Files/Common Files/SSL"
        "ENGINESDIR=C:/Program Files/OpenSSL/lib/engines-3"
        "MODULESDIR=C:/Program Files/OpenSSL/lib/ossl-modules")
# recipe-N changes with the way of building, so that too builds anew.
key=$(printf '%s\n' recipe-2 "$target" "${options[@]}" "${places[@]}" | sha256sum | cut -c1-12)
prefix=$cache/$upstream/$triplet-$key
src=$cache/$upstream/source
tarball=$src/openssl_$upstream.orig.tar.gz
# The tarball, fetched when missing, and checked: its SHA-256 from the
# .dsc where the archive serves one, else from the source index, which the
# archive's signed Release file vouches for. Sets from and have.
verify_tarball() {
  if [ ! -f "$tarball" ]; then
    say "fetching openssl $version"
    mkdir -p "$src"
    # Only the upstream tarball is needed: a missing .dsc or Debian diff is
    # not an error here as long as the tarball came.
    (cd "$src" && apt_private source --download-only "openssl=$version" >&2) || true
    [ -f "$tarball" ] || { say "could not fetch $(basename "$tarball")"; exit 1; }
  fi
  sha_of() { awk '/^Checksums-Sha256:/ {on=1; next} /^[^ ]/ {on=0} on && $3 == name {print $1; exit}' name="$1"; }
  dsc=$src/openssl_${version#*:}.dsc
  if [ -f "$dsc" ]; then
    from=$(basename "$dsc")
    want=$(sha_of "$(basename "$tarball")" <"$dsc")
  else
    from="the signed source index"
    want=$(apt-cache "${apt_opts[@]}" showsrc openssl 2>/dev/null | sha_of "$(basename "$tarball")")
  fi
  have=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [ -z "$want" ]; then
    say "no SHA-256 for $(basename "$tarball") in $from"
    exit 1
  elif [ "$want" != "$have" ]; then
    say "$(basename "$tarball") does not match $from (sha256 $have, expected $want)"
    rm -f "$tarball"
    exit 1
  fi
  say "$(basename "$tarball") matches $from (sha256 $have)"
}
# What a release says of the library: the source archive it came from, as
# checked here, and OpenSSL's licence from that archive.
write_source_facts() {
  printf '%s sha256 %s checked against %s\n' "$(basename "$tarball")" "$have" "$from" >"$1/SOURCE"
  tar -xzf "$tarball" -O --wildcards 'openssl-*/LICENSE.txt' >"$1/LICENSE.txt"
}

if [ -f "$prefix/lib/libcrypto.a" ] && [ -f "$prefix/include/openssl/evp.h" ]; then
  if [ ! -s "$prefix/SOURCE" ] || [ ! -s "$prefix/LICENSE.txt" ]; then
    verify_tarball
    write_source_facts "$prefix"
  fi
  say "using $prefix"
  echo "$prefix"
  exit 0
fi
verify_tarball

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-openssl-XXXXXX")
trap 'rm -rf "$work"' EXIT
tar -xzf "$tarball" -C "$work"
trees=("$work"/openssl-*/)
tree=${trees[0]}
say "building libcrypto $upstream for $triplet (options $key)"
start=$(date +%s)
(
  cd "$tree"
  # The build date OpenSSL records comes from the source, not the clock.
  SOURCE_DATE_EPOCH=$(stat -c %Y "$tree/VERSION.dat")
  export SOURCE_DATE_EPOCH
  ./Configure "$target" --cross-compile-prefix="$triplet-" "${options[@]}" >&2
  make -j"${VELK_JOBS:-2}" "${places[@]}" build_generated >&2
  make -j"${VELK_JOBS:-2}" "${places[@]}" libcrypto.a >&2
)
rm -rf "$prefix.partial"
mkdir -p "$prefix.partial/lib" "$prefix.partial/include/openssl"
cp "$tree/libcrypto.a" "$prefix.partial/lib/"
cp "$tree"/include/openssl/*.h "$prefix.partial/include/openssl/"
{
  printf 'openssl %s (Debian %s) for %s, built %s\n' "$upstream" "$version" "$triplet" \
    "$("$triplet-gcc" --version | head -n 1)"
  printf 'configured with %s; %s\n' "${options[*]}" "${places[*]}"
} >"$prefix.partial/VERSION"
write_source_facts "$prefix.partial"
rm -rf "$prefix"
mv "$prefix.partial" "$prefix"
say "built in $(( $(date +%s) - start )) s: $prefix"
echo "$prefix"
