#!/bin/sh
# The manual pages keep up with the programs: every option (and updtool command) that a usage
# text shows is a word of the page, and groff reads each page without a warning.
# usage: man_pages_test.sh SOURCE_DIR UPDTOOL [UPDATE_WIZARD]
set -u
src=$1 tool=$2 wizard=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"

# Option words ("-o", "--full-package") and the commands of `updtool --help`.
options() { grep -oE '(^|[][ |(,])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[][ |(,]//'; }
commands() { sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p'; }
# in_page PAGE SOURCE FILE: each word FILE lists appears in PAGE (roff's "\-" read as "-").
in_page() {
  sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$src/docs/man/$1" > "$work/page"
  # shellcheck disable=SC2013 # one word a line
  for word in $(sort -u "$3"); do
    if grep -qE -- "(^|[^A-Za-z0-9-])$word([^A-Za-z0-9-]|\$)" "$work/page"; then
      pass
    else
      fail "$1 lacks $word" "$2 shows it"
    fi
  done
}

"$tool" --help > "$work/help"
check "updtool --help" 0 $?
{ options < "$work/help"; commands < "$work/help"; } > "$work/words"
in_page updtool.1 "updtool --help" "$work/words"
# Each command without its arguments: a usage error, with the command's own usage text.
for command in $(commands < "$work/help"); do
  "$tool" "$command" > /dev/null 2> "$work/usage"
  check "updtool $command alone is a usage error" 2 $?
  options < "$work/usage" > "$work/words"
  in_page updtool.1 "updtool $command's usage" "$work/words"
done

if [ -n "$wizard" ]; then
  # A lock folder of its own: an unattended run of the same program elsewhere would refuse it.
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work "$wizard" --auto --bogus 1 \
    > /dev/null 2> "$work/error"
  check "update-wizard --auto --bogus 1" 2 $?
  grep '^usage:' "$work/error" > "$work/usage" ||
    fail "update-wizard's usage error prints no usage line" "$(cat "$work/error")"
  options < "$work/usage" > "$work/words"
  in_page update-wizard.1 "update-wizard's usage line" "$work/words"
fi

if command -v groff > /dev/null; then
  for page in updtool.1 update-wizard.1; do
    check "groff reads $page without a warning" "" \
      "$(LC_ALL=C.UTF-8 groff -man -ww -z "$src/docs/man/$page" 2>&1)"
  done
else
  fail "groff is missing: install the Debian package groff-base"
fi
checks_done
