# shellcheck shell=sh
# The checks of the tests: counted, a failure named with what tells why; then checks_done.
failures=0 passes=0
pass() { passes=$((passes + 1)); }
fail() {  # fail NAME DETAIL...
  failures=$((failures + 1))
  printf 'FAIL %s\n' "$1"
  shift
  [ $# -eq 0 ] || printf '  %s\n' "$@"
  return 1
}
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then pass; else fail "$1" "expected: $2" "actual:   $3"; fi
}
# The exit status of a command, its output dropped.
status() { "$@" >/dev/null 2>&1; echo $?; }
checks_done() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
