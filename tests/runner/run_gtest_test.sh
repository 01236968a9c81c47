#!/usr/bin/env bash
# Checks that the runner passes a test program only when its own summary
# says so: run_gtest_test.sh RUNNER COMMAND... (COMMAND: the probe, with the
# emulator that runs it, if any).
set -u
runner=$1
shift

failures=0
# expect VERDICT REASON MODE: the runner's exit status (pass or fail) and,
# for a failure, a part of its message.
expect() {
  local verdict=$1 reason=$2 mode=$3 output status
  shift 3
  output=$("$runner" 20 "$@" "$mode" 2>&1)
  status=$?
  if [ "$verdict" = pass ] && [ $status -ne 0 ]; then
    echo "FAILED: mode $mode should pass; the runner said:"; echo "$output" | tail -n 5
    failures=$((failures + 1))
  elif [ "$verdict" = fail ] && { [ $status -eq 0 ] || ! grep -q "run-gtest: FAILED: .*$reason" <<<"$output"; }; then
    echo "FAILED: mode $mode should fail with \"$reason\" (status $status); the runner said:"
    echo "$output" | tail -n 5
    failures=$((failures + 1))
  else
    echo "ok: $mode ($verdict)"
  fi
}

# One run first, untimed: making a new Wine prefix is no part of what is judged.
"$@" pass >/dev/null 2>&1

expect pass "" pass "$@"
expect fail "tests failed" fail "$@"
expect fail "" crash "$@"
expect fail "" throw "$@"
expect fail "no GoogleTest summary" silent "$@"
expect fail "exit status 3 after the summary" exit-after "$@"
# A short time-out for the one that hangs.
output=$("$runner" 3 "$@" hang 2>&1)
if [ $? -ne 0 ] && grep -q "run-gtest: FAILED: time-out after 3 s" <<<"$output"; then
  echo "ok: hang (fail)"
else
  echo "FAILED: mode hang should fail with a time-out; the runner said:"; echo "$output" | tail -n 5
  failures=$((failures + 1))
fi

[ $failures -eq 0 ] && echo "runner: all checks passed"
exit $((failures != 0))
