#!/usr/bin/env bash
# The demo: builds the host stand-ins, makes a fresh demo machine and runs
# each step in steps/ on it, printing what happened.
#
#   tools/demo/demo.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/../.."
bash tools/ci/deps.sh host
cmake --preset host >/dev/null
cmake --build build/host -j"${VELK_JOBS:-2}" >/dev/null
export DEMO_BIN=$PWD/build/host/bin
export DEMO_ROOT=$PWD/build/demo
export PATH="$DEMO_BIN:$PATH"
mkdir -p "$DEMO_ROOT"
DEMO_MACHINE=$(bash tools/demo/make-machine.sh "$DEMO_ROOT/machine")
export DEMO_MACHINE
export VELK_MACHINE=$DEMO_MACHINE

say() { printf '\n\033[1m# %s\033[0m\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@" || true; }
export -f say show

for s in tools/demo/steps/*.sh; do
  bash "$s"
done
printf '\nThe demo machine is in %s\n' "$DEMO_MACHINE"
