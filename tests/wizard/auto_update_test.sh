#!/usr/bin/env bash
# update-wizard --auto end to end: a real nginx serves update sets of every kind (files,
# the updater, the full package, nothing to do, a file missing on the server, signed and
# tampered releases, attacks), reached directly, through danted (SOCKS5) and through
# tinyproxy (HTTP proxy), over http and https. Each case is a row of the table at the end:
# the set, the route, what is done to a fresh application folder first, and what the run
# must give (exit status, output, the folder afterwards).
#
# usage: auto_update_test.sh UPDATE_WIZARD UPDTOOL    (as root, like the other peer tests)
# KEEP=1 keeps the test's folder (servers' files, application folders) for a look afterwards.
set -u
wizard=${1:?usage: auto_update_test.sh UPDATE_WIZARD UPDTOOL}
updtool=${2:?usage: auto_update_test.sh UPDATE_WIZARD UPDTOOL}
# shellcheck source=SCRIPTDIR/../support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/peers/peers.sh"
for need in nginx danted tinyproxy; do
    command -v "$need" >/dev/null || { echo "$need is missing"; exit 1; }
done

PEERS_DIR=$(mktemp -d /tmp/upd-auto.XXXXXX) || exit 1
trap 'peers_cleanup; [[ -n ${KEEP:-} ]] || rm -rf "$PEERS_DIR"' EXIT
chmod 755 "$PEERS_DIR"
www=$PEERS_DIR/nginx/www work=$PEERS_DIR/work
mkdir -p "$www" "$PEERS_DIR/nginx/www2" "$work/bin"
# The lock of the single-instance check, kept inside the test.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The desktop's opener: records what it was asked to open.
printf '#!/bin/sh\nprintf "%%s" "$1" >"%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod 755 "$work/bin/xdg-open"
export PATH=$work/bin:$PATH
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

failures=0 checks=0
check() { # DESCRIPTION COMMAND...
    checks=$((checks + 1))
    "${@:2}" || { failures=$((failures + 1)) && echo "FAIL: $1"; }
}
ini() { printf '%s\r\n' "$@"; }

peers_start nginx 2 nginx_conf user password || exit 1
origin="http://127.0.0.1:${PEER_PORTS[0]}"
# The same sets over https: a certificate of a test authority, trusted through SSL_CERT_FILE.
peers_tls_certs "$work/tls" >/dev/null 2>&1 || { echo "no test certificates"; exit 1; }
peers_start nginx-tls 5 nginx_tls_conf "$www" "$work/tls" user password || exit 1
secure="https://127.0.0.1:${PEER_PORTS[0]}"
export SSL_CERT_FILE=$work/tls/ca.pem
peers_start danted 1 danted_conf none || exit 1
socks=${PEER_PORTS[0]}
peers_start tinyproxy 1 tinyproxy_conf || exit 1
proxy=${PEER_PORTS[0]}
"$updtool" keygen "$work/vendor" >/dev/null && "$updtool" keygen "$work/other" >/dev/null ||
    { echo "keygen failed"; exit 1; }
echo "not a key" >"$work/garbage.pub"

# ---- The update sets, one folder each: the server address is http://HOST:PORT/SET/set/ ----
# SET, then the lines of its update.ini (split at blanks; CR LF ends added). Dates in 2030
# are newer than any local file.
later=2030-01-01 esc=$'\e'
while read -r set lines; do
    [[ -z $set || $set == '#'* ]] && continue
    read -r -a lines <<<"$lines"
    mkdir -p "$www/$set/set/update"
    ini "${lines[@]}" >"$www/$set/set/update/update.ini"
done <<EOF
files          [Update] ForceUp=0 Update=0 [Ver] Num=0 [Time] Num=3 File1=run.sh Date1=$later File2=sub\data.dat Date2=$later File3=keep.txt Date3=$later
updater        [Update] ForceUp=0 Update=1 UpdateVer=9.0.0.0 MoveVer=9.0.0.0 [Ver] Num=0 [Time] Num=0
package        [Update] ForceUp=1 UpURL=$origin/package/Setup.zip Update=0 [Ver] Num=0 [Time] Num=0
secure-package [Update] ForceUp=1 UpURL=$secure/package/Setup.zip Update=0 [Ver] Num=0 [Time] Num=0
current        [Update] ForceUp=0 Update=0 [Ver] Num=0 [Time] Num=1 File1=keep.txt Date1=2001-01-01
missing        [Update] ForceUp=0 Update=0 [Ver] Num=0 [Time] Num=2 File1=keep.txt Date1=$later File2=gone.dat Date2=$later
# The updater set, genuinely signed below but without UpdateSha256: its update.exe must never run.
no-digest      [Update] ForceUp=0 Update=1 UpdateVer=9.0.0.0 [Ver] Num=0 [Time] Num=0
# A name the installer keeps for itself, a name with an escape sequence.
reserved       [Update] ForceUp=0 Update=0 [Ver] Num=0 [Time] Num=1 File1=install.journal Date1=$later
escape         [Update] ForceUp=0 Update=0 [Ver] Num=0 [Time] Num=1 File1=a${esc}[2Jb.txt Date1=$later
EOF
mkdir -p "$www/files/set/sub" "$www/huge/set/update"
printf '#!/bin/sh\necho new\n' >"$www/files/set/run.sh"
head -c 300000 /dev/urandom >"$www/files/set/sub/data.dat"
echo "new keep" >"$www/files/set/keep.txt"
echo "new keep" >"$www/missing/set/keep.txt"
printf '#!/bin/sh\necho "$PWD" >started\n' >"$www/updater/update.exe"
echo "mover" >"$www/updater/FileMove.exe"
head -c 100000 /dev/urandom >"$www/package/Setup.zip"
printf '#!/bin/sh\ntouch "%s/pwned"\n' "$work" >"$www/no-digest/update.exe"
"$updtool" sign --key "$work/vendor.key" "$www/no-digest/set/update/update.ini" >/dev/null
# An endless update.ini: a file past the 64 MiB the reader takes.
truncate -s 65M "$www/huge/set/update/update.ini"
echo "victim" >"$work/victim"

# Signed sets: a release made with make-ini and sign, and what an attacker can change.
# signed NAME: the release of the files set under NAME/set/, its update.ini made and signed.
signed() {
    local set=$www/$1/set
    mkdir -p "$set/update" "$set/sub"
    cp "$www/files/set/run.sh" "$www/files/set/keep.txt" "$set/"
    cp "$www/files/set/sub/data.dat" "$set/sub/"
    "$updtool" make-ini "$set" -o "$work/update.ini" --ver 2.0 --contents-en "Signed" &&
        mv "$work/update.ini" "$set/update/update.ini" &&
        "$updtool" sign --key "$work/vendor.key" "$set/update/update.ini" || echo "signing $1 failed"
}
for name in signed tampered-file tampered-ini other-key unsigned bad-digest; do signed $name; done
echo "changed" >>"$www/tampered-file/set/sub/data.dat"
sed -i 's/Signed/Signed and changed/' "$www/tampered-ini/set/update/update.ini"
"$updtool" sign --key "$work/other.key" "$www/other-key/set/update/update.ini"
rm "$www/unsigned/set/update/update.ini.sig"
sed -i 's/^\(Sha2561=[0-9a-f]*\)[0-9a-f]/\1/' "$www/bad-digest/set/update/update.ini"
"$updtool" sign --key "$work/vendor.key" "$www/bad-digest/set/update/update.ini"
chmod -R a+rX "$PEERS_DIR/nginx"

# app SET ROUTE: a fresh application folder for SET in $app, keep.txt old in it. ROUTE is
# direct, socks5 or http (the proxy of proxy.ini), https- before it for the https server;
# any other name is direct.
app() {
    local at=$origin
    [[ $2 == https-* ]] && at=$secure
    app=$work/app-$1-$2
    rm -rf "$app" "$work/opened"
    mkdir -p "$app"
    cp "$wizard" "$app/update-wizard"
    "$updtool" server-line "Test server" "$at/$1/set/" "update/update.ini" EN >"$app/update.svr"
    echo "old keep" >"$app/keep.txt"
    chmod 600 "$app/keep.txt"
    touch -d 2020-01-01 "$app/keep.txt"
    case ${2#https-} in
        socks5) ini '[Proxy]' Type=3 Server=127.0.0.1 "Port=$socks" >"$app/proxy.ini" ;;
        http) ini '[Proxy]' Type=1 Server=127.0.0.1 "Port=$proxy" >"$app/proxy.ini" ;;
    esac
}
# The folder's files, modes and contents, the update folder left out.
snapshot() {
    (cd "$app" && find . -path ./update -prune -o -type f -printf '%p %m\n' | sort &&
        find . -path ./update -prune -o -type f -exec md5sum {} + | sort)
}
says() { [[ $1 == *"$2"* ]] || { echo "  missing \"$2\" in: $1" && return 1; }; }
same() { [[ $1 == "$2" ]] || { echo "  \"$1\" is not \"$2\"" && return 1; }; }
mode() { stat -c %a "$1"; }
# appears FILE: waits, 5 s at most, until FILE exists.
appears() { local i; for ((i = 0; i < 100; i++)); do [[ -e $1 ]] && return; sleep 0.05; done; }

# What a case does to the folder before its run (the SETUP column):
#   pub NAME     update.pub is NAME's key: vendor, other, or garbage
#   link NAME    update/NAME is a symbolic link to a file outside the folder
#   running      another run of this folder's wizard holds its single-instance lock
#   renamed      the folder's wizard is run as reupdate.exe (the new updater) while
#                another holds the folder's own lock
pub() { cp "$work/$1.pub" "$app/update.pub"; }
link() { mkdir -p "$app/update" && ln -s "$work/victim" "$app/update/$1"; }
# hold FILE: a process of ours holds FILE's lock until killed (holder); waits, 5 s at most,
# until the kernel lists the lock.
hold() {
    local i
    (exec 9>>"$1" && flock 9 && exec sleep 20) &
    holder=$!
    for ((i = 0; i < 100; i++)); do
        [[ -e $1 ]] && grep -q ":$(stat -c %i "$1") " /proc/locks && return
        sleep 0.05
    done
}
running() {
    local lock
    # shellcheck disable=SC2012 # the names are ours, without blanks
    lock=$(ls -t "$XDG_RUNTIME_DIR"/update-wizard-*.lock | head -n 1)
    check "the lock file exists" test -n "$lock"
    [[ -z $lock ]] || hold "$lock"
}
renamed() {
    cp "$wizard" "$app/reupdate.exe"
    mkdir -p "$app/update"
    program=reupdate.exe
    hold "$app/update/install.lock"
}

# expect WORD: one check of the folder or the output after the run (the AFTER column).
expect() {
    local files="page: welcome|page: server|page: information|page: analysis|page: download|"
    files+="file: run.sh|file: sub\\data.dat|file: keep.txt|page: finish|result: installed|"
    case $1 in
    pages) check "$name: pages and files in order" \
        same "$(grep -o '^[a-z]*: .*' <<<"$out" | tr '\n' '|')" "$files" ;;
    bytes) check "$name: bytes" cmp -s "$app/sub/data.dat" "$www/$set/set/sub/data.dat" ;;
    kept-mode) check "$name: a replaced file keeps its mode" \
        same "$(mode "$app/keep.txt") $(<"$app/keep.txt")" "600 new keep" ;;
    new-modes) check "$name: a new script runs" \
        same "$(mode "$app/run.sh") $(mode "$app/sub/data.dat")" "755 644" ;;
    emptied) check "$name: the update folder is empty" \
        same "$(find "$app/update" -type f ! -name install.lock | wc -l)" 0 ;;
    started) appears "$app/started"
        check "$name: reupdate.exe ran in the application folder" \
        same "$(cat "$app/started" 2>/dev/null)" "$app" ;;
    mover) check "$name: FileMove.exe is in place" \
        same "$(cat "$app/FileMove.exe" 2>/dev/null)" mover ;;
    no-update-exe) check "$name: no update.exe left" test ! -e "$app/update/update.exe" ;;
    opened) check "$name: the opener got the package" \
        same "$(cat "$work/opened" 2>/dev/null)" "$app/update/Setup.zip" ;;
    package) check "$name: its bytes" cmp -s "$app/update/Setup.zip" "$www/package/Setup.zip" ;;
    retried) check "$name: retried once" same "$(grep -c '^retry: gone.dat' <<<"$out")" 1 ;;
    untouched) check "$name: the folder is untouched" same "$(snapshot)" "$before" ;;
    nothing-ran) check "$name: nothing ran, the link's target is whole" \
        same "$(ls "$work/pwned" 2>&1 >/dev/null | wc -l) $(<"$work/victim")" "1 victim" ;;
    no-escape) check "$name: no escape byte printed" \
        test "$(grep -c $'\e' "$work/out" "$work/err" | grep -vc ':0$')" = 0 ;;
    nothing-stays) check "$name: nothing fetched stays" \
        same "$(find "$app" -newer "$work/mark" ! -type d ! -name install.lock)" "" ;;
    *) check "$name: no check named $1" false ;;
    esac
}

# run_case SET ROUTE SETUP ARGUMENTS STATUS STDOUT STDERR AFTER: the unattended run of a
# fresh folder; $status, $out and $err hold what it did.
run_case() {
    local set=$1 name="$1 $2" program=update-wizard holder="" before status out err word
    local -a setup arguments after
    read -r -a setup <<<"$3"
    read -r -a arguments <<<"$4"
    read -r -a after <<<"$8"
    app "$1" "$2"
    ((${#setup[@]} == 0)) || "${setup[@]}"
    before=$(snapshot) && touch "$work/mark"
    timeout 60 "$app/$program" --auto "${arguments[@]}" >"$work/out" 2>"$work/err"
    status=$? out=$(<"$work/out") err=$(<"$work/err")
    [[ -z $holder ]] || kill "$holder"
    check "$name: status $5 ($err)" same "$status" "$5"
    [[ -z $6 ]] || check "$name: says so" says "$out" "$6"
    [[ -z $7 ]] || check "$name: says why" says "$err" "$7"
    for word in "${after[@]}"; do expect "$word"; done
}

# Cases: SET | ROUTES | SETUP | ARGUMENTS | STATUS | STDOUT HAS | STDERR HAS | AFTER
# A row runs once per route of ROUTES, each from a fresh folder.
while IFS='|' read -r -u 3 set routes setup arguments status out err after; do
    [[ -z ${set// /} || $set == '#'* ]] && continue
    read -r set <<<"$set"
    read -r status <<<"$status"
    read -r out <<<"$out"
    read -r err <<<"$err"
    for route in $routes; do
        run_case "$set" "$route" "$setup" "$arguments" "$status" "$out" "$err" "$after"
    done
done 3<<'EOF'
files          | direct socks5 http       |             |            | 0 | | | pages bytes kept-mode new-modes emptied
updater        | direct socks5 http       |             |            | 3 | result: reupdate.exe started | | started mover no-update-exe
package        | direct socks5 http       |             |            | 4 | | | opened package
current        | direct socks5 http       |             |            | 0 | result: nothing to do | |
missing        | direct socks5 http       |             |            | 1 | | gone.dat | retried untouched
# Over https: update.svr names an https server; the package's UpURL is https too.
files          | https-direct https-socks5 https-http | |   | 0 | | | bytes
secure-package | https-direct             |             |            | 4 | | | package
# Signed sets, with the vendor's key as update.pub.
signed         | direct                   | pub vendor  |            | 0 | | | bytes
tampered-file  | direct                   | pub vendor  |            | 1 | | does not match its SHA-256 | untouched
tampered-ini   | direct                   | pub vendor  |            | 1 | | does not match | untouched
other-key      | direct                   | pub vendor  |            | 1 | | does not match | untouched
unsigned       | direct                   | pub vendor  |            | 1 | | not signed | untouched
bad-digest     | direct                   | pub vendor  |            | 1 | | analyze | untouched
# No update.pub: only the digests count, as before signatures.
unsigned       | direct                   |             |            | 0 | | |
signed         | direct                   | pub garbage |            | 1 | | update.pub | untouched
# Attacks: what a mirror or anyone on the path could serve, and what must happen.
no-digest      | attack                   | pub vendor  |            | 1 | | SHA-256 digest of every file | nothing-ran no-escape nothing-stays untouched
files          | attack                   | link run.sh |            | 1 | | symbolic link | nothing-ran no-escape nothing-stays untouched
huge           | attack                   |             |            | 1 | | larger than 64 MiB | nothing-ran no-escape nothing-stays untouched
reserved       | attack                   |             |            | 1 | | analyze | nothing-ran no-escape nothing-stays untouched
escape         | attack                   |             |            | 1 | | analyze | nothing-ran no-escape nothing-stays untouched
# Usage errors, and a second unattended run while one holds the folder (its lock file is
# the newest: the same folder ran just before).
current        | solo                     |             | --server 2 | 2 | | server 2 does not exist |
current        | solo                     |             | --bogus 1  | 2 | | |
current        | solo                     | running     |            | 1 | | running |
# Another wizard of the folder under another name (the new updater), or another user: the
# folder's own lock keeps it out before it looks at anything.
files          | other-name               | renamed     |            | 1 | | Another update wizard is updating this application | untouched
EOF

echo "$((checks - failures)) of $checks checks passed"
((failures == 0))
