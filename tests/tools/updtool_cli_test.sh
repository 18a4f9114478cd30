#!/bin/sh
# updtool from the outside: exit statuses, output formats, server lines in both languages.
# usage: updtool_cli_test.sh UPDTOOL SOURCE_DIR VERSION_KEY
set -u
tool=$1 src=$2 key=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"
# Exit statuses: 2 for a usage error, 1 for a file that cannot be read.
for case in 2 "2 frobnicate" "0 --help" "0 version --help" "2 version" "2 version --entry" \
  "2 server-line a b c de" "2 server-line a,b b c EN" "1 servers $work/none.svr" \
  "1 version $work/none.dll" "2 plan" "2 plan --full-package maybe $work" "1 plan $work"; do
  # shellcheck disable=SC2086 # split on purpose: the status, then the arguments
  set -- $case
  shift
  check "status of updtool $*" "${case%% *}" "$(status "$tool" "$@")"
done
check "missing file message names it" 1 "$("$tool" servers "$work/none.svr" 2>&1 | grep -c none.svr)"
# The tool carries its own product version, as the wizard's executables do.
check "own version" "$(printf '%s\t%s' "$key" "$tool")" "$("$tool" version "$tool")"
# A real PE file: the key is its version resource as binutils' strings reads it, dots removed.
pe=/usr/share/win32/win32-loader.exe
if [ -r "$pe" ]; then
  for entry in ProductVersion FileVersion; do
    expected=$(strings -el "$pe" | grep -A1 -x "$entry" | sed -n 2p | tr -d .)
    check "$entry of a real PE file" "$(printf '%s\t%s' "$expected" "$pe")" \
      "$("$tool" version --entry "$entry" "$pe")"
  done
  check "entry names match without case" "$("$tool" version "$pe")" \
    "$("$tool" version --entry productversion "$pe")"
else
  fail "$pe is missing: install the Debian package win32-loader"
fi
# server-line output is CR LF terminated Base64 that servers reads back.
"$tool" server-line "Main server" "http://127.0.0.1:8080/" "upd/update.ini" EN > "$work/update.svr"
"$tool" server-line "主服务器" "http://127.0.0.1:8081/" "upd/cn.ini" CHS >> "$work/update.svr"
check "CR LF line ends" 2 "$(grep -c "$(printf '\r')\$" "$work/update.svr")"
"$tool" servers "$work/update.svr" > "$work/out.txt"
check "English record" "$(printf 'Main server\thttp://127.0.0.1:8080/\tupd/update.ini\tEN')" \
  "$(sed -n 1p "$work/out.txt")"
check "Chinese record" "$(printf '主服务器\thttp://127.0.0.1:8081/\tupd/cn.ini\tCHS')" \
  "$(sed -n 2p "$work/out.txt")"
check "info file of the last line" "$(printf 'info-file\tupd/cn.ini')" "$(sed -n 3p "$work/out.txt")"
# The Chinese line is GBK underneath: 主 is D6 F7.
check "GBK bytes" "d6f7" \
  "$(sed -n 2p "$work/update.svr" | tr -d '\r' | base64 -d | head -c 2 | od -An -tx1 | tr -d ' \n')"
check "sample has both languages" 2 \
  "$("$tool" servers "$src/resources/samples/update.svr" | cut -f4 | grep -E '^(EN|CHS)$' | sort -u | wc -l | tr -d ' ')"
# plan: the demo's update set against an empty folder plans every file, in plan order; a
# server address of scheme and host keeps the updater's sources full URLs on that host.
ini=$src/resources/demo/server/update/update.ini
check "plan of the demo set" "$(printf 'Main.exe\tMain.exe\tProgram\tfull\t-
plugins\\Report.dll\tplugins\\Report.dll\tLibrary\tfull\t-
data\\Templates.dat\tdata\\Templates.dat\tData file\tfull\t-
next\tdownload')" "$(LANG=C "$tool" plan --info "$ini" --self "$tool" "$work")"
sed 's/^UpdateVer=.*/UpdateVer=9.0/' "$ini" > "$work/update.ini"
check "plan of an older updater" "$(printf 'http://h:81/update.exe\tupdate.exe\tUpdate\tfull\t-
http://h:81/FileMove.exe\tFileMove.exe\tUpdate Assistant\tfull\t-
next\tdownload')" "$(LANG=C "$tool" plan --server http://h:81/ --self "$tool" "$work")"
check "plan deletes nothing" 1 "$(ls "$work" | grep -c '^update.ini$')"
checks_done
