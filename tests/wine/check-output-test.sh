#!/bin/bash
# The Wine cases' checks: a passing one prints its ok line, a failing one its
# FAIL line with what it got and what was expected under it, and each counts
# once. They only compare, so no Wine is needed.
root=${1:?source folder}
# shellcheck source=packaging/wine/lib.sh
. "$root/packaging/wine/lib.sh"

status=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf 'first line\nI module = C:\\velk\\bin\n' >"$scratch/case.log"

# expect WANT COMMAND...: the command prints exactly WANT.
expect() {
  local want=$1 got
  shift
  got=$("$@")
  if [ "$got" != "$want" ]; then
    printf 'FAIL: %s\n--- printed:\n%s\n--- wanted:\n%s\n' "$*" "$got" "$want"
    status=1
  fi
}

expect $'  ok   - same' check_eq same "HRESULT: 0x0" "HRESULT: 0x0"
expect $'  FAIL - differs\n  #   got: HRESULT: 0x80070002\n  #   expected: HRESULT: 0x0' \
  check_eq differs "HRESULT: 0x80070002" "HRESULT: 0x0"
expect $'  FAIL - unset\n  #   got: (empty)\n  #   expected: 1' check_eq unset "" 1
expect $'  FAIL - set\n  #   got: 1\n  #   expected: (empty)' check_eq set 1 ""
expect $'  FAIL - lines\n  #   got: a\n  #   got: b\n  #   expected: a b' check_eq lines $'a\nb' "a b"

expect $'  ok   - at least' check_num "at least" 2 -ge 1
expect $'  FAIL - exit code\n  #   got: 67\n  #   expected: -eq 0' check_num "exit code" 67 -eq 0
expect $'  FAIL - no number\n  #   got: (empty)\n  #   expected: -ge 1' check_num "no number" "" -ge 1

expect $'  ok   - a line' check_line "a line" $'Signature: matches\nValue=1' "Value=1"
expect $'  FAIL - part of a line\n  #   got: Value=12\n  #   expected: a line: Value=1' \
  check_line "part of a line" "Value=12" "Value=1"

expect $'  ok   - in the log' check_file_has "in the log" "$scratch/case.log" 'module = C:\velk\bin'
expect "  FAIL - not in the log
  #   got: no such line in $scratch/case.log
  #   expected: a line with: module = C:\\velk\\bin\\x" \
  check_file_has "not in the log" "$scratch/case.log" 'module = C:\velk\bin\x'

expect $'  ok   - command' check command true
expect $'  FAIL - command fails\n  #   got: exit code 1 from: grep -q -F missing /dev/null\n  #   expected: exit code 0' \
  check "command fails" grep -q -F missing /dev/null
expect $'  FAIL - negated\n  #   got: exit code 1 from: not true\n  #   expected: exit code 0' check negated not true

# The counts the case reports: one each, a failure never as passed.
check_eq counted 1 2 >/dev/null
check_num counted 1 -eq 1 >/dev/null
if [ "$CASE_PASSED $CASE_FAILED $CASE_SKIPPED" != "1 1 0" ]; then
  echo "FAIL: counted $CASE_PASSED passed, $CASE_FAILED failed, $CASE_SKIPPED skipped; wanted 1 1 0"
  status=1
fi
exit $status
