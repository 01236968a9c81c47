#!/usr/bin/env bash
# Runs one GoogleTest program and judges it by its own summary:
#   run-gtest.sh SECONDS COMMAND [ARGS...]
# It passes only when the program exits 0 within SECONDS, its summary counts
# every test that ran as passed or skipped, no test failed, and no unhandled
# exception was reported (Wine prints one and may still exit 0).
set -u
seconds=$1
shift

output=$(mktemp) || exit 1
trap 'rm -f "$output"' EXIT

# The program's output goes to ctest as it comes and is kept for the check.
timeout --kill-after=10 "$seconds" "$@" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}

fail() {
  echo "run-gtest: FAILED: $*" >&2
  exit 1
}

if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  fail "time-out after $seconds s"
fi
if grep -qE '^(wine: )?Unhandled (exception|page fault)|^wine: Unhandled' "$output"; then
  fail "unhandled exception"
fi
ran=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from [0-9]+ test suites? ran\..*/\1/p' "$output" |
      tail -n 1)
[ -n "$ran" ] || fail "no GoogleTest summary (the program ended early, exit status $status)"
passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$output" | tail -n 1)
skipped=$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?, listed below:.*/\1/p' "$output" | tail -n 1)
if grep -qE '^\[  FAILED  \]' "$output"; then
  fail "tests failed"
fi
[ -n "$passed" ] || fail "no count of passed tests in the summary"
if [ $((passed + ${skipped:-0})) -ne "$ran" ]; then
  fail "$ran tests ran, $passed passed, ${skipped:-0} skipped"
fi
[ $status -eq 0 ] || fail "exit status $status after the summary"
exit 0
