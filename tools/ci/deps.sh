#!/usr/bin/env bash
# Installs what the builds need from Debian's packages (as root).
#   deps.sh host     host build, tests and demo
#   deps.sh all      also the lint tools, coverage, the Windows cross build
#                    and its tests (GoogleTest's sources), Wine (with a virtual
#                    display and a Japanese font; its 32-bit half where the
#                    kernel runs i386 programs), fuzzing and the peers
set -eu
host_pkgs="cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl"
all_pkgs="$host_pkgs ccache clang libclang-rt-14-dev clang-format clang-tidy shellcheck gcovr dmidecode mingw-w64 make perl msitools wixl wine wine64 procps nodejs
  osslsigncode xvfb xdotool imagemagick fonts-ipafont-gothic googletest"
case "${1:-host}" in
  host) pkgs=$host_pkgs ;;
  all)
    pkgs=$all_pkgs
    # wine32 only on request (VELK_WINE32=1) and where the kernel runs i386
    # programs. With it installed, a plain "wine reg" in a 64-bit prefix runs
    # the 32-bit reg.exe, whose view of HKLM\Software is redirected, and the
    # 64-bit cases' registry checks read the wrong keys; until those checks
    # name the 64-bit tool, the x86 steps are skipped with the reason.
    if [ "${VELK_WINE32:-0}" = 1 ] && bash "$(dirname "$0")/i386-probe.sh" >/dev/null; then
      dpkg --print-foreign-architectures | grep -qx i386 || [ "$(id -u)" -ne 0 ] || dpkg --add-architecture i386
      pkgs="$pkgs wine32:i386"
    fi
    ;;
  *) echo "usage: deps.sh host|all" >&2; exit 2 ;;
esac
# The SBOM's validator (tools/ci/check-sbom.sh): the CycloneDX project's
# library, with the JSON schema packages it validates with, from npm.
if [ "${1:-host}" = all ] && command -v npm >/dev/null; then
  validator=${XDG_CACHE_HOME:-$HOME/.cache}/velk-access/sbom-validator
  [ -d "$validator/node_modules/@cyclonedx/cyclonedx-library" ] ||
    { mkdir -p "$validator" && npm install --prefix "$validator" --no-audit --no-fund --silent \
      @cyclonedx/cyclonedx-library@10 ajv@8 ajv-formats@3 ajv-formats-draft2019@1; }
fi
missing=()
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
