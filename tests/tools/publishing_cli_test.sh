#!/bin/sh
# keygen, make-ini, lint, sign and verify as a release engineer runs them on a folder of real
# versioned programs, then tampering with each piece; and updtool plan reading the update.ini.
# usage: publishing_cli_test.sh UPDTOOL
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"
# A time zone with daylight saving, in summer: the dates must leave it out.
export TZ=CET-1CEST,M3.5.0,M10.5.0/3
rel=$work/release ini=$work/release/update.ini keys=$work/keys
mkdir -p "$rel/plugins" "$rel/data" "$keys"
for f in Main.exe plugins/Report.dll update.exe; do cp "$tool" "$rel/$f"; done
printf 'templates' > "$rel/data/Templates.dat"
touch -d '2025-07-01 12:00:00' "$rel/data/Templates.dat"
# Usage errors are 2; a second keygen changes nothing and fails.
for case in "2 keygen" "2 keygen a b" "2 sign $rel/x" "2 sign --key" "2 verify --pub k" \
  "2 make-ini" "2 make-ini $rel --frob" "2 lint" "2 lint a b" "1 lint $work/none.ini" \
  "1 make-ini $work/none"; do
  # shellcheck disable=SC2086 # split on purpose: the status, then the arguments
  set -- $case
  shift
  check "status of updtool $*" "${case%% *}" "$(status "$tool" "$@")"
done
check "keygen" 0 "$(status "$tool" keygen "$keys/vendor")"
check "secret key mode" 600 "$(stat -c %a "$keys/vendor.key")"
check "public key is one line of 44" 45 "$(wc -c < "$keys/vendor.pub" | tr -d ' ')"
before=$(cat "$keys/vendor.key" "$keys/vendor.pub" | sha256sum)
check "keygen never overwrites" 1 "$(status "$tool" keygen "$keys/vendor")"
check "keys unchanged" "$before" "$(cat "$keys/vendor.key" "$keys/vendor.pub" | sha256sum)"
"$tool" keygen "$keys/other" >/dev/null
check "make-ini" 0 "$(status "$tool" make-ini "$rel" --contents-en "Faster" \
  --contents-chs "更快" --update-ver 1.0.0.1 -o "$ini")"
line() { grep -a "$@" "$ini" | tr -d '\r'; }  # line [GREP OPTION] PATTERN: of update.ini
key=$(printf '%s' "$("$tool" version "$tool" | cut -f1)")
check "version of a program" "Ver1=$(echo "$key" | sed 's/./&./g; s/\.$//')" "$(line '^Ver1=')"
check "digest as sha256sum" "Sha2561=$(sha256sum < "$tool" | cut -d' ' -f1)" "$(line -m1 '^Sha2561=')"
check "date in standard time" "Date1=2025-07-01 11:00:00" "$(line '^Date1=')"
check "ContentsCHS in code page 936" "$(printf 'ContentsCHS=\270\374\277\354')" "$(line '^ContentsCHS=')"
check "lint --release" 0 "$(status "$tool" lint "$ini" --release "$rel")"
check "sign" 0 "$(status "$tool" sign --key "$keys/vendor.key" "$ini")"
check "no temporary left" "" "$(find "$rel" -maxdepth 1 -name '.update.ini*')"
verify() { status "$tool" verify --pub "$keys/$1.pub" "$ini"; }  # verify KEY: its status
check "verify" 0 "$(verify vendor)"
# The wizard's plan reads it: a copy with the times kept is current, an empty folder gets all.
mkdir -p "$work/app/plugins" "$work/app/data"
for f in Main.exe plugins/Report.dll data/Templates.dat; do cp -p "$rel/$f" "$work/app/$f"; done
plan() { LANG=C "$tool" plan --info "$ini" --self "$tool" "$work/app"; }
check "plan of a current copy" "$(printf 'next\tfinish')" "$(plan)"
touch -d '2025-07-01 11:59:59' "$work/app/data/Templates.dat"  # a second before the release's
check "plan of an older date" "data\\Templates.dat" "$(plan | cut -f1 | head -1)"
# Tampering: each is refused with its reason.
reason() { "$tool" "$@" 2>&1 >/dev/null | sed 's/^.*: //'; }  # its message's last part
cp "$ini" "$work/saved.ini"
printf ' ' >> "$ini"
why() { reason verify --pub "$keys/vendor.pub" "$ini"; }  # why verify refuses it
check "tampered update.ini" "the update information was altered, or signed with another key" "$(why)"
cp "$work/saved.ini" "$ini"
check "another key" 1 "$(verify other)"
printf 'AAAA\n' > "$ini.sig.bad" && cp "$ini.sig" "$work/saved.sig" && mv "$ini.sig.bad" "$ini.sig"
check "malformed signature" 1 "$(verify vendor)"
rm "$ini.sig"
check "missing signature" "there is no signature beside the update information" "$(why)"
cp "$work/saved.sig" "$ini.sig"
printf 'bad key\n' > "$keys/bad.pub"
check "unusable key" 1 "$(verify bad)"
printf 'x' >> "$rel/plugins/Report.dll"
check "lint names it" 1 "$("$tool" lint "$ini" --release "$rel" | grep -c "does not match the release's plugins\\\\Report.dll")"
# make-ini offers nothing it cannot digest: each file missing stops it, and nothing is written.
bare=$work/bare
mkdir "$bare" && cp "$tool" "$bare/Main.exe"
for case in "--update-ver 1 update.exe --update-exe" "--move-ver 1 FileMove.exe --move-exe" \
  "--force-up http://x/S.zip Setup.zip --package"; do
  # shellcheck disable=SC2086 # split on purpose: option, value, file, the option giving it
  set -- $case
  check "make-ini $1 without $3" "1 $1 needs $3 in RELEASE_DIR or $4 FILE" \
    "$(status "$tool" make-ini "$bare" "$1" "$2" -o "$bare/update.ini") $(reason make-ini "$bare" "$1" "$2")"
  check "make-ini $1 wrote nothing" "" "$(find "$bare" -mindepth 1 ! -name Main.exe)"
done
check "make-ini, https package given" 0 "$(status "$tool" make-ini "$bare" \
  --force-up https://x/S.zip --package "$tool" -o "$bare/update.ini")"
# lint: a download without its digest is a warning, and an error in a signed set.
grep -av '^UpSha256=' "$bare/update.ini" > "$work/bare.ini"
check "lint, https and no digest" 0 "$(status "$tool" lint "$work/bare.ini")"
check "lint --signed, no digest" 1 "$(status "$tool" lint "$work/bare.ini" --signed)"
: > "$work/bare.ini.sig"
check "lint beside a .sig, no digest" 1 "$(status "$tool" lint "$work/bare.ini")"
# A name's control bytes reach the terminal escaped.
mkdir "$work/esc" && : > "$work/esc/$(printf 'a\033b')"
check "make-ini escapes a name" 'a\x1bb: holds a control character' \
  "$("$tool" make-ini "$work/esc" 2>&1 >/dev/null | sed 's/^updtool make-ini: //')"
# verify prints the Serial and Expires it accepted; a signed set without them, or past its
# expiry, fails with the reason.
stamped=$work/stamped.ini
"$tool" make-ini "$rel" --serial 41 --expires 2 -o "$stamped" 2>/dev/null
signed() {  # signed FILE: signs it with the vendor's key, then verifies it
  "$tool" sign --key "$keys/vendor.key" "$1" >/dev/null && "$tool" verify --pub "$keys/vendor.pub" "$1"
}
day=$(date -u -d "@$(($(date +%s) + 2 * 86400))" +%Y-%m-%d)
check "verify prints serial and expiry" "serial: 41|expires: $day UTC" \
  "$(signed "$stamped" | sed -n '2p;3s/ [0-9:]* UTC$/ UTC/p' | paste -sd'|')"
grep -av '^Serial=' "$stamped" > "$work/unstamped.ini"
check "verify, no Serial" "1 no Serial in [Update]" \
  "$(status signed "$work/unstamped.ini") $(signed "$work/unstamped.ini" 2>&1 >/dev/null | sed 's/^.*: //')"
check "lint --signed, no Serial" 1 "$("$tool" lint "$work/unstamped.ini" --signed | grep -c 'Serial is missing')"
sed 's/^Expires=.*/Expires=2001-01-01 00:00:00\r/' "$stamped" > "$work/expired.ini"
check "verify, expired" "it expired at 2001-01-01 00:00:00 UTC" \
  "$(signed "$work/expired.ini" 2>&1 >/dev/null | sed 's/^.*: //')"
check "make-ini --serial 0" 2 "$(status "$tool" make-ini "$rel" --serial 0)"
# Compressed files and patches: made beside the file, rebuilt by lint from the given base.
new=$work/forms/new old=$work/forms/old
mkdir -p "$new/d" "$old/d" && seq 30000 > "$old/d/n.txt" && sed 's/^15000$/x/' "$old/d/n.txt" > "$new/d/n.txt"
check "make-ini, six bases" 2 "$(status "$tool" make-ini "$new" --base 1 --base 2 --base 3 --base 4 --base 5 --base 6)"
check "lint --base without --release" 2 "$(status "$tool" lint "$ini" --base "$old")"
check "make-ini --compress --base" 0 "$(status "$tool" make-ini "$new" --ver 1 --compress --base "$old" -o "$new/update.ini")"
patch=$new/d/n.txt.$(sha256sum < "$old/d/n.txt" | cut -c1-16).zpatch
check "forms beside the file" 2 "$(ls "$new/d/n.txt.zst" "$patch" | wc -l | tr -d ' ')"
lint_forms() { "$tool" lint "$new/update.ini" --release "$new" "$@"; }
check "lint rebuilds them" 0 "$(status lint_forms --base "$old")"
check "lint without the base" 1 "$(lint_forms | grep -c 'n.txt.*zpatch not rebuilt: no base with digest')"
printf 'x' >> "$patch"
check "lint rebuilds a spoiled patch" 1 "$(lint_forms --base "$old" | grep -c 'does not rebuild the announced d\\n.txt: there is more input')"
checks_done
