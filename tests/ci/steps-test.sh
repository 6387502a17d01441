#!/usr/bin/env bash
# test-all.sh's summary counts each step once and names every failing check.
set -u
root=${1:?source folder}
status=0

# expect TITLE EXPECTED-OUTPUT EXPECTED-EXIT SCRIPT: runs SCRIPT with the step
# functions loaded and compares what it prints and its exit code.
expect() {
  local title=$1 want=$2 want_rc=$3 got rc=0
  got=$(
    # shellcheck source=tools/ci/steps.sh
    . "$root/tools/ci/steps.sh"
    eval "$4" >/dev/null
    summary
  ) || rc=$?
  if [ "$got" != "$want" ] || [ "$rc" != "$want_rc" ]; then
    printf 'FAIL %s\n  got (exit %s):\n%s\n  expected (exit %s):\n%s\n' "$title" "$rc" "$got" "$want_rc" "$want"
    status=1
  fi
}

expect "mixed steps" "
Failed checks: win64 win64 version fuzz

Skipped checks (could not run here): wine signing

steps: 1 passed, 2 failed, 1 skipped" 1 '
step host; run_step host true
step cross; run_step win64 false; run_step "win64 version" false; run_step wine sh -c "exit 77"
step signing; run_step signing sh -c "exit 77"
step fuzzing; fail_check fuzz'

expect "all passed" "
steps: 3 passed, 0 failed, 0 skipped" 0 '
step one; run_step a true
step two
step three; run_step b true; run_step c true'

expect "skipped only" "
Skipped checks (could not run here): wine

steps: 1 passed, 0 failed, 1 skipped" 0 '
step one; run_step a true
step two; run_step wine sh -c "exit 77"'

exit $status
