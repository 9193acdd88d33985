# Sourced by the test scripts: runs named steps and counts how they ended. Exit status 77 means
# the step could not run on this machine and is counted as skipped, never as passed.

passed=0
failed=0
skipped=0
failures=()

# step NAME COMMAND...: returns the command's status, so a failed build can stop what needs it.
step() {
  local name=$1
  shift
  echo
  echo "=== $name"
  local start=$SECONDS
  "$@"
  local status=$?
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    echo "=== $name: passed ($((SECONDS - start)) s)"
  elif [ "$status" -eq 77 ]; then
    skipped=$((skipped + 1))
    echo "=== $name: skipped ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name: FAILED ($((SECONDS - start)) s)"
  fi
  return "$status"
}

# steps_summary LABEL: the last line of a run; succeeds when no step failed.
steps_summary() {
  echo
  if [ "$failed" -gt 0 ]; then
    echo "Failed: ${failures[*]}"
  fi
  echo "$1: $passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}
