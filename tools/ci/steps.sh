# shellcheck shell=bash
# Steps and their outcomes for test-all.sh (sourced).
# A step holds one or more checks. A failing or skipped check is named in the
# lists; the step itself counts once: failed if any check failed, else skipped
# if any was skipped, else passed.
failed=()
skipped=()
steps_passed=0
steps_failed=0
steps_skipped=0
step_name=""
step_outcome=passed

# step TITLE: ends the step before and starts the next.
step() {
  end_step
  step_name=$*
  step_outcome=passed
  printf '\n==== %s\n' "$*"
}

end_step() {
  [ -n "$step_name" ] || return 0
  case $step_outcome in
    failed) steps_failed=$((steps_failed + 1)) ;;
    skipped) steps_skipped=$((steps_skipped + 1)) ;;
    *) steps_passed=$((steps_passed + 1)) ;;
  esac
  step_name=""
}

fail_check() {
  failed+=("$1")
  step_outcome=failed
}

skip_check() {
  skipped+=("$1")
  [ "$step_outcome" = failed ] || step_outcome=skipped
}

# run_step NAME COMMAND...: a check of the current step; exit code 77 means it
# could not run here.
run_step() {
  local name=$1 rc=0
  shift
  "$@" || rc=$?
  case $rc in
    0) ;;
    77) skip_check "$name" ;;
    *) fail_check "$name" ;;
  esac
}

# Ends the last step, prints the outcome; fails when a check failed.
summary() {
  end_step
  if [ ${#failed[@]} -gt 0 ]; then
    printf '\nFailed checks: %s\n' "${failed[*]}"
  fi
  if [ ${#skipped[@]} -gt 0 ]; then
    printf '\nSkipped checks (could not run here): %s\n' "${skipped[*]}"
  fi
  printf '\nsteps: %d passed, %d failed, %d skipped\n' "$steps_passed" "$steps_failed" "$steps_skipped"
  [ ${#failed[@]} -eq 0 ]
}
