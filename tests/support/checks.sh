# shellcheck shell=sh
# The checks of the command-line tests: each compares what came out with what should have,
# counts, and names a failure with both. A test ends with `checks_done`.
failures=0
passes=0

check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}

# The exit status of a command, its output dropped.
status() { "$@" >/dev/null 2>&1; echo $?; }

checks_done() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
