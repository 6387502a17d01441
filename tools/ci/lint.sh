#!/usr/bin/env bash
# The lint gate: clang-format over the C and C++ files, shellcheck over every
# script, clang-tidy (the root .clang-tidy) over the logic's sources.
#   lint.sh [format] [shell] [tidy]      (none: all three)
# tidy reads build/host/compile_commands.json (the host preset writes it) and
# the headers the host build generates: run it after that build.
# A missing tool fails its check: deps.sh installs all three.
# Exit 0 when every check asked for is clean; the failing ones are named.
set -eu
cd "$(dirname "$0")/../.."
jobs=${VELK_JOBS:-2}
build=${VELK_LINT_BUILD:-build/host}

need() {
  command -v "$1" >/dev/null && return 0
  echo "lint: $1 is not installed (tools/ci/deps.sh all installs it)" >&2
  return 1
}

lint_format() {
  need clang-format || return 1
  git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
}

# Scripts are the .sh files and any tracked file whose first line names a shell.
scripts() {
  git ls-files '*.sh'
  git ls-files -z | while IFS= read -r -d '' f; do
    case $f in *.sh) continue ;; esac
    [ -f "$f" ] || continue
    head -n1 "$f" | grep -qE '^#!(/usr)?/bin/(env +)?(ba|da)?sh( |$)' && printf '%s\n' "$f"
  done
}

lint_shell() {
  need shellcheck || return 1
  local list
  list=$(scripts)
  [ -n "$list" ] || { echo "lint: no scripts found" >&2; return 1; }
  printf '%s\n' "$list" | tr '\n' '\0' | xargs -0 shellcheck -x
}

# The logic's sources the host build compiles; the Windows-only entry points
# have no command in its database and are named as not checked.
tidy_sources() {
  local f
  git ls-files 'Tovrin/*.cpp' 'migration/*.cpp' 'libvelkras2/*.cpp' | while IFS= read -r f; do
    if grep -qF "\"file\": \"$PWD/$f\"" "$build/compile_commands.json"; then
      printf '%s\n' "$f"
    else
      echo "lint tidy: $f is not in the host build, not checked" >&2
    fi
  done
}

lint_tidy() {
  need clang-tidy || return 1
  [ -f .clang-tidy ] || { echo "lint: no .clang-tidy at the root of the tree" >&2; return 1; }
  [ -f "$build/compile_commands.json" ] || {
    echo "lint: $build/compile_commands.json missing (cmake --preset host first)" >&2
    return 1
  }
  local list
  list=$(tidy_sources)
  [ -n "$list" ] || { echo "lint: no sources to check" >&2; return 1; }
  # Each file's findings are printed whole, not interleaved with another's.
  # shellcheck disable=SC2016 # the inner script expands its own arguments
  printf '%s\n' "$list" | tr '\n' '\0' | xargs -0 -r -P"$jobs" -n1 bash -c '
    out=$(clang-tidy --quiet -p "$0" --warnings-as-errors="*" \
          --header-filter="^$PWD/(Tovrin|migration|libvelkras2)/" "$1" 2>&1) && exit 0
    printf "%s\n" "$out"
    exit 1' "$build"
}

checks=("$@")
[ ${#checks[@]} -gt 0 ] || checks=(format shell tidy)
failed=()
for c in "${checks[@]}"; do
  case $c in
    format | shell | tidy) ;;
    *) echo "usage: lint.sh [format] [shell] [tidy]" >&2; exit 2 ;;
  esac
  start=$(date +%s)
  rc=0
  "lint_$c" || rc=$?
  printf 'lint %s: %s (%d s)\n' "$c" "$([ "$rc" -eq 0 ] && echo clean || echo FAILED)" $(($(date +%s) - start))
  [ "$rc" -eq 0 ] || failed+=("$c")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "lint: failed: ${failed[*]}"
  exit 1
fi
