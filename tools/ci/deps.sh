#!/usr/bin/env bash
# Installs what the builds need from Debian's packages (as root).
#   deps.sh host     host build, tests and demo
#   deps.sh all      also the lint tools, coverage, the Windows cross build
#                    and its tests (GoogleTest's sources), Wine (with a virtual
#                    display and a Japanese font; its 32-bit half where the
#                    kernel runs i386 programs), fuzzing, the peers and the
#                    SBOM's validator (npm)
set -eu
here=$(dirname "$0")
host_pkgs="cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl"
all_pkgs="$host_pkgs ccache clang libclang-rt-14-dev clang-format clang-tidy shellcheck gcovr dmidecode mingw-w64 make perl msitools wixl wine wine64 procps nodejs
  osslsigncode xvfb xdotool imagemagick fonts-ipafont-gothic googletest"

updated=0
install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  [ "$updated" = 1 ] || { apt-get update -qq; updated=1; }
  apt-get install -y -qq "${missing[@]}" >/dev/null
}

case "${1:-host}" in
  host)
    # shellcheck disable=SC2086
    install $host_pkgs
    ;;
  all)
    # shellcheck disable=SC2086
    install $all_pkgs
    # Wine's 32-bit half, which the x86 programs and tests need, only where
    # the kernel executes i386 programs (asked, never assumed). The cases
    # run Wine through packaging/wine/bin/wine, whose 64-bit loader keeps
    # "wine reg" in a 64-bit prefix the 64-bit tool with it installed.
    if probe=$(bash "$here/i386-probe.sh"); then
      if ! dpkg --print-foreign-architectures | grep -qx i386 && [ "$(id -u)" -eq 0 ]; then
        dpkg --add-architecture i386
        updated=0
      fi
      install wine32:i386
    else
      echo "deps: wine32 not installed: $probe"
    fi
    # Debian's nodejs comes without npm; a machine's own Node.js may carry it.
    command -v npm >/dev/null || install npm
    # The SBOM's validator (tools/ci/check-sbom.sh): the CycloneDX project's
    # library, with the JSON schema packages it validates with, from npm.
    validator=${XDG_CACHE_HOME:-$HOME/.cache}/velk-access/sbom-validator
    [ -d "$validator/node_modules/@cyclonedx/cyclonedx-library" ] ||
      { mkdir -p "$validator" && npm install --prefix "$validator" --no-audit --no-fund --silent \
        @cyclonedx/cyclonedx-library@10 ajv@8 ajv-formats@3 ajv-formats-draft2019@1; }
    ;;
  *) echo "usage: deps.sh host|all" >&2; exit 2 ;;
esac
