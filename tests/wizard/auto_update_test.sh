#!/usr/bin/env bash
# update-wizard --auto end to end against update sets of every kind on a real nginx, reached
# directly, through danted (SOCKS5) and tinyproxy (HTTP proxy), over http and https.
# usage: auto_update_test.sh UPDATE_WIZARD UPDTOOL (as root); KEEP=1 keeps its folder afterwards.
set -u
usage="usage: auto_update_test.sh UPDATE_WIZARD UPDTOOL"
wizard=${1:?$usage} updtool=${2:?$usage}
# shellcheck source=SCRIPTDIR/../support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/peers/peers.sh"
# The machine's proxy is not the test's: the wizard and updtool read these without a proxy.ini.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
# shellcheck source=SCRIPTDIR/../support/checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
for need in nginx danted tinyproxy; do
    command -v "$need" >/dev/null || { echo "$need is missing"; exit 1; }
done
PEERS_DIR=$(mktemp -d /tmp/upd-auto.XXXXXX) || exit 1
mounted=""
trap '[[ -z $mounted ]] || umount "$mounted"; peers_cleanup; [[ -n ${KEEP:-} ]] || rm -rf "$PEERS_DIR"' EXIT
chmod 755 "$PEERS_DIR"
www=$PEERS_DIR/nginx/www work=$PEERS_DIR/work
mkdir -p "$www" "$PEERS_DIR/nginx/www2" "$work/bin"
export XDG_RUNTIME_DIR=$work/runtime # the single-instance lock, kept inside the test
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The desktop's opener: records what it was asked to open.
printf '#!/bin/sh\nprintf "%%s" "$1" >"%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod 755 "$work/bin/xdg-open"
export PATH=$work/bin:$PATH
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
name=""
ok() { if "${@:2}"; then pass; else fail "$name: $1"; fi; } # ok DESCRIPTION COMMAND...: of case $name
ini() { printf '%s\r\n' "$@"; }
# The same sets over https too: a certificate of a test authority, trusted via SSL_CERT_FILE.
peers_tls_certs "$work/tls" >/dev/null 2>&1 || { echo "no test certificates"; exit 1; }
export SSL_CERT_FILE=$work/tls/ca.pem
declare -A port=()
for peer in "nginx 2 nginx_conf user password" "danted 1 danted_conf none" \
    "nginx-tls 5 nginx_tls_conf $www $work/tls user password" "tinyproxy 1 tinyproxy_conf"; do
    read -r -a args <<<"$peer"
    peers_start "${args[@]}" || exit 1
    port[${args[0]}]=${PEER_PORTS[0]}
done
origin=http://127.0.0.1:${port[nginx]} secure=https://127.0.0.1:${port[nginx-tls]}
# Picked as free and never bound: nothing listens there.
peers_free_port && port[closed]=$REPLY
"$updtool" keygen "$work/vendor" >/dev/null && "$updtool" keygen "$work/other" >/dev/null ||
    { echo "keygen failed"; exit 1; }
echo "not a key" >"$work/garbage.pub"
# The update sets, one folder each, at http://HOST:PORT/SET/set/: SET, then the lines of its
# update.ini (split at blanks; CR LF ends added). Dates in 2030 are newer than any local file.
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
# Served fast for 300 KB, then slowly (nginx's /resume/): a run is killed in the middle.
resume         [Update] ForceUp=0 Update=0 [Ver] Num=0 [Time] Num=1 File1=big.dat Date1=$later
EOF
mkdir -p "$www/files/set/sub" "$www/huge/set/update"
printf '#!/bin/sh\necho new\n' >"$www/files/set/run.sh"
head -c 300000 /dev/urandom >"$www/files/set/sub/data.dat"
echo "new keep" | tee "$www/files/set/keep.txt" >"$www/missing/set/keep.txt"
printf '#!/bin/sh\necho "$PWD" >started\n' >"$www/updater/update.exe"
echo "mover" >"$www/updater/FileMove.exe"
head -c 100000 /dev/urandom >"$www/package/Setup.zip"
head -c 600000 /dev/urandom >"$work/big.dat"
printf '#!/bin/sh\ntouch "%s/pwned"\n' "$work" >"$www/no-digest/update.exe"
"$updtool" sign --key "$work/vendor.key" "$www/no-digest/set/update/update.ini" >/dev/null
# An endless update.ini: a file past the 64 MiB the reader takes.
truncate -s 65M "$www/huge/set/update/update.ini"
echo "victim" >"$work/victim"
# Signed sets: the files set's release made with make-ini and signed, then an attacker's changes.
# release-N: Serial N.
for name in signed tampered-file grown-file tampered-ini other-key unsigned bad-digest release-5 release-4 expired; do
    set=$www/$name/set serial=()
    [[ $name != release-* ]] || serial=(--serial "${name#release-}")
    mkdir -p "$set/update"
    cp -r "$www/files/set/run.sh" "$www/files/set/keep.txt" "$www/files/set/sub" "$set/"
    "$updtool" make-ini "$set" -o "$work/update.ini" --ver 2.0 --contents-en "Signed" "${serial[@]}" &&
        mv "$work/update.ini" "$set/update/update.ini" &&
        "$updtool" sign --key "$work/vendor.key" "$set/update/update.ini" || echo "signing $name failed"
done
# Signed sets with patches against the release before (sub/data.dat changed in a few places)
# and compressed files; in corrupt-patch the patch is damaged on the server after signing.
mkdir -p "$work/release-1/sub"
cp "$www/files/set/sub/data.dat" "$work/release-1/sub/data.dat"
echo "old keep" >"$work/release-1/keep.txt"
for name in patched corrupt-patch; do
    set=$www/$name/set
    mkdir -p "$set/sub"
    cp "$www/files/set/run.sh" "$www/files/set/keep.txt" "$set/"
    cp "$work/release-1/sub/data.dat" "$set/sub/data.dat"
    printf 'a new block of data' | dd of="$set/sub/data.dat" bs=1 seek=150000 conv=notrunc status=none
    "$updtool" make-ini "$set" -o "$work/update.ini" --ver 2.0 --base "$work/release-1" --compress &&
        mkdir -p "$set/update" && mv "$work/update.ini" "$set/update/update.ini" &&
        "$updtool" sign --key "$work/vendor.key" "$set/update/update.ini" || echo "making $name failed"
done
for patch in "$www/corrupt-patch/set/sub/"*.zpatch; do
    printf 'XXXX' | dd of="$patch" bs=1 seek=40 conv=notrunc status=none
done
# The same length with other bytes (the digest tells), and longer (the announced size tells).
printf changed | dd of="$www/tampered-file/set/sub/data.dat" conv=notrunc status=none
# The same without its signature: only the digests count where no update.pub is installed.
cp -r "$www/tampered-file" "$www/mismatch" && rm "$www/mismatch/set/update/update.ini.sig"
echo "changed" >>"$www/grown-file/set/sub/data.dat"
sed -i 's/Signed/Signed and changed/' "$www/tampered-ini/set/update/update.ini"
"$updtool" sign --key "$work/other.key" "$www/other-key/set/update/update.ini"
rm "$www/unsigned/set/update/update.ini.sig"
sed -i 's/^\(Sha2561=[0-9a-f]*\)[0-9a-f]/\1/' "$www/bad-digest/set/update/update.ini"
"$updtool" sign --key "$work/vendor.key" "$www/bad-digest/set/update/update.ini"
sed -i 's/^Expires=.*/Expires=2001-01-01 00:00:00\r/' "$www/expired/set/update/update.ini"
"$updtool" sign --key "$work/vendor.key" "$www/expired/set/update/update.ini"
chmod -R a+rX "$PEERS_DIR/nginx"
# app SET ROUTE: a fresh application folder for SET in $app, keep.txt old in it. ROUTE: socks5
# or http (the proxy of proxy.ini), else direct; https- before it for the https server.
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
    socks5) ini '[Proxy]' Type=3 Server=127.0.0.1 "Port=${port[danted]}" >"$app/proxy.ini" ;;
    http) ini '[Proxy]' Type=1 Server=127.0.0.1 "Port=${port[tinyproxy]}" >"$app/proxy.ini" ;;
    esac
}
# snapshot: the files, modes and contents of the folder but its update folder.
snapshot() {
    (cd "$app" && find . \( -path ./update -o -path ./update.serial \) -prune -o -type f -printf '%p %m\n' | sort &&
        find . \( -path ./update -o -path ./update.serial \) -prune -o -type f -exec md5sum {} + | sort)
}
says() { [[ $1 == *"$2"* ]] || { echo "  missing \"$2\" in: $1" && return 1; }; }
same() { [[ $1 == "$2" ]] || { echo "  \"$1\" is not \"$2\"" && return 1; }; }
is() { ok "$1" same "$2" "$3"; } # is DESCRIPTION ACTUAL EXPECTED
# bounded COMMAND...: waits, 5 s at most, until COMMAND succeeds.
bounded() { local i; for ((i = 0; i < 100; i++)); do "$@" && return; sleep 0.05; done; }
# SETUP: pub NAME (update.pub: NAME's key), link NAME (update/NAME links out), running (another
# run holds the single-instance lock), renamed (run as reupdate.exe; another holds the folder's lock).
pub() { cp "$work/$1.pub" "$app/update.pub"; }
link() { mkdir -p "$app/update" && ln -s "$work/victim" "$app/update/$1"; }
locked() { [[ -e $1 ]] && grep -q ":$(stat -c %i "$1") " /proc/locks; }
# hold FILE: a process of ours holds FILE's lock until killed (holder), listed by the kernel.
hold() {
    (exec 9>>"$1" && flock 9 && exec sleep 20) &
    holder=$!
    bounded locked "$1"
}
running() {
    local lock
    # shellcheck disable=SC2012 # the names are ours, without blanks
    lock=$(ls -t "$XDG_RUNTIME_DIR"/update-wizard-*.lock | head -n 1)
    ok "the lock file exists" test -n "$lock"
    [[ -z $lock ]] || hold "$lock"
}
renamed() {
    cp "$wizard" "$app/reupdate.exe"
    mkdir -p "$app/update"
    program=reupdate.exe
    hold "$app/update/install.lock"
}
# after SET: a first run from this folder against SET, under the vendor's key, that installs it.
after() {
    pub vendor
    mv "$app/update.svr" "$work/update.svr"
    "$updtool" server-line "Test server" "$origin/$1/set/" "update/update.ini" EN >"$app/update.svr"
    timeout 60 "$app/update-wizard" --auto >/dev/null 2>&1
    is "$1 installed first" "$?" 0
    mv "$work/update.svr" "$app/update.svr"
}
# mirrors SERVER...: update.svr lists these before the set's own server, in order: closed (no
# one listens), busy (503, Retry-After: 2), or a set's name.
mirrors() {
    local at line servers=""
    for at in "$@"; do
        case $at in
        closed) line=$("$updtool" server-line "Closed" "http://127.0.0.1:${port[closed]}/" "update/update.ini" EN) ;;
        busy) line=$("$updtool" server-line "Busy" "$origin/busy/" "update/update.ini" EN) ;;
        *) line=$("$updtool" server-line "Mirror $at" "$origin/$at/set/" "update/update.ini" EN) ;;
        esac
        servers+=$line$'\n'
    done
    printf '%s%s' "$servers" "$(cat "$app/update.svr")" >"$app/update.svr"
}
# only closed|busy: update.svr lists that server alone.
only() {
    case $1 in
    closed) "$updtool" server-line "Closed" "http://127.0.0.1:${port[closed]}/" "update/update.ini" EN ;;
    busy) "$updtool" server-line "Busy" "$origin/busy/" "update/update.ini" EN ;;
    esac >"$app/update.svr"
}
# release-1: the folder holds the release the patches were made against.
release-1() {
    pub vendor
    cp -r "$work/release-1/sub" "$app/"
    touch -d 2020-01-01 "$app/sub/data.dat"
}
# small-disk: the update folder on a file system of 200 KiB (a tmpfs), too small for the set;
# under the vendor's key, as a set of announced sizes is.
small-disk() {
    pub vendor
    mkdir -p "$app/update"
    if mount -t tmpfs -o size=200k tmpfs "$app/update" 2>/dev/null; then
        mounted=$app/update
    else
        echo "SKIP $name: no tmpfs can be mounted here"
    fi
}
# killed [changed]: a run killed once 300 KB of big.dat are in; "changed": the server's file
# changes (its size, so its ETag) before the next run, and is small enough to come fast.
killed() {
    local big=$www/resume/set/big.dat
    cp "$work/big.dat" "$big"
    "$app/update-wizard" --auto >/dev/null 2>&1 &
    bounded eval '(($(stat -c %s "$app/update/big.dat" 2>/dev/null || echo 0) >= 307200))'
    kill -9 $! && wait $! 2>/dev/null
    kept=$(stat -c %s "$app/update/big.dat")
    [[ ${1:-} != changed ]] || head -c 250000 /dev/urandom >"$big"
}
# fetched STATUS BYTES: what nginx logged for the last request of big.dat.
fetched() { same "$(grep 'big.dat' "$PEERS_DIR/nginx/access.log" | tail -n 1 | cut -d' ' -f9,10)" "$1 $2"; }
# expect WORD: a check of the AFTER column.
expect() {
    local files="page: welcome|page: server|page: information|page: analysis|page: download|"
    files+="file: run.sh|file: sub\\data.dat|file: keep.txt|page: finish|result: installed|"
    case $1 in
    pages) is "pages and files in order" "$(grep -o '^[a-z]*: .*' <<<"$out" | tr '\n' '|')" "$files" ;;
    bytes) ok "bytes" cmp -s "$app/sub/data.dat" "$www/$set/set/sub/data.dat" ;;
    kept-mode) is "a replaced file keeps its mode" \
        "$(stat -c %a "$app/keep.txt") $(<"$app/keep.txt")" "600 new keep" ;;
    new-modes) is "a new script runs" \
        "$(stat -c %a "$app/run.sh") $(stat -c %a "$app/sub/data.dat")" "755 644" ;;
    emptied) is "the update folder is empty" "$(find "$app/update" -type f ! -name install.lock ! -name 'update.log*' | wc -l)" 0 ;;
    started) bounded test -e "$app/started"
        is "reupdate.exe ran in the application folder" "$(cat "$app/started" 2>/dev/null)" "$app" ;;
    mover) is "FileMove.exe is in place" "$(cat "$app/FileMove.exe" 2>/dev/null)" mover ;;
    no-update-exe) ok "no update.exe left" test ! -e "$app/update/update.exe" ;;
    opened) is "the opener got the package" "$(cat "$work/opened" 2>/dev/null)" "$app/update/Setup.zip" ;;
    package) ok "its bytes" cmp -s "$app/update/Setup.zip" "$www/package/Setup.zip" ;;
    retried) is "retried once" "$(grep -c '^retry: gone.dat' <<<"$out")" 1 ;;
    no-retry) is "not retried" "$(grep -c '^retry:' <<<"$out")" 0 ;;
    untouched) is "the folder is untouched" "$(snapshot)" "$before" ;;
    serial-5) is "the accepted serial stays" "$(cat "$app/update.serial" 2>&1)" 5 ;;
    no-serial) ok "nothing refused is recorded as accepted" test ! -e "$app/update.serial" ;;
    nothing-ran) is "nothing ran, the link's target is whole" \
        "$(ls "$work/pwned" 2>&1 >/dev/null | wc -l) $(<"$work/victim")" "1 victim" ;;
    no-escape) is "no escape byte printed" "$(grep -c $'\e' "$work/out" "$work/err" | grep -vc ':0$')" 0 ;;
    patch-fetched) is "the patch was fetched, not the file" \
        "$(grep -c "GET /$set/set/sub/data.dat.[0-9a-f]*.zpatch " "$PEERS_DIR/nginx/access.log") $(grep -c "GET /$set/set/sub/data.dat " "$PEERS_DIR/nginx/access.log")" "1 0"
        is "no fallback" "$(grep -c '^fallback:' <<<"$out")" 0 ;;
    switched) is "went on with the next server" "$(grep -c '^server: ' <<<"$out")" 1 ;;
    waited) ok "waited before the same server again" says "$out" "wait: " ;;
    no-ini) ok "no information left" test ! -e "$app/update.ini" ;;
    fell-back) is "the whole file after the patch" "$(grep -c '^fallback: sub\\data.dat$' <<<"$out")" 1 ;;
    resumed) ok "only the rest was fetched ($kept kept)" fetched 206 $((600000 - kept))
        ok "its bytes" cmp -s "$app/big.dat" "$www/resume/set/big.dat" ;;
    refetched) ok "fetched whole" fetched 200 250000
        ok "its bytes" cmp -s "$app/big.dat" "$www/resume/set/big.dat" ;;
    nothing-stays) is "nothing fetched stays" \
        "$(find "$app" -newer "$work/mark" ! -type d ! -name install.lock ! -name 'update.log*')" "" ;;
    *) ok "no check named $1" false ;;
    esac
}
# Cases: SETS | ROUTES | SETUP | ARGUMENTS | STATUS | STDOUT HAS | STDERR HAS | AFTER, once per
# set and route from a fresh folder: SETUP, the unattended run ($status, $out, $err), AFTER.
while IFS='|' read -r -u 3 sets routes setup arguments want_status want_out want_err after; do
    # shellcheck disable=SC2086 # the words of a column, split on purpose
    for set in $sets; do for route in $routes; do
        name="$set $route" program=update-wizard holder=""
        app "$set" "$route"
        [[ -z $setup ]] || $setup
        before=$(snapshot) && touch "$work/mark"
        mode=--auto
        [[ $arguments != --check* ]] || mode=""
        timeout 60 "$app/$program" $mode $arguments >"$work/out" 2>"$work/err"
        status=$? out=$(<"$work/out") err=$(<"$work/err")
        [[ -z $holder ]] || kill "$holder"
        [[ -z $mounted ]] || { umount "$mounted" && mounted=""; }
        is "status $want_status ($err)" "$status" "$want_status"
        [[ -z $want_out ]] || ok "says so" says "$out" "$want_out"
        [[ -z $want_err ]] || ok "says why" says "$err" "$want_err"
        for word in $after; do expect "$word"; done
    done; done
done 3< <(sed 's/^ *//; s/ *$//; /^#/d; /^$/d; s/ *| */|/g' <<'EOF'
# One file at a time: the files finish in the plan's order (other rows fetch several at once).
files          | direct socks5 http       |             | --parallel 1 | 0 | | | pages bytes kept-mode new-modes emptied
updater        | direct socks5 http       |             |            | 3 | result: reupdate.exe started | | started mover no-update-exe
package        | direct socks5 http       |             |            | 4 | | | opened package
current        | direct socks5 http       |             |            | 0 | result: nothing to do | |
missing        | direct socks5 http       |             | --no-failover | 1 | | gone.dat | retried untouched
# Over https: update.svr names an https server; the package's UpURL is https too.
files          | https-direct https-socks5 https-http | |   | 0 | | | bytes
secure-package | https-direct             |             |            | 4 | | | package
# Signed sets, with the vendor's key as update.pub.
signed         | direct                   | pub vendor  |            | 0 | | | bytes
# Patches against the installed release, verified by the signed digests; a damaged one falls
# back to the whole file.
patched        | direct                   | release-1   |            | 0 | | | bytes patch-fetched
corrupt-patch  | direct                   | release-1   |            | 0 | | | bytes fell-back
tampered-file  | direct                   | pub vendor  |            | 1 | | does not match its SHA-256 | untouched
grown-file     | direct                   | pub vendor  |            | 1 | | not the size | untouched
tampered-ini other-key | direct           | pub vendor  |            | 1 | | does not match | untouched
unsigned       | direct                   | pub vendor  |            | 1 | | not signed | untouched
bad-digest     | direct                   | pub vendor  |            | 1 | | analyze | untouched no-serial
# A set older than one this folder accepted (replayed or frozen) is refused; the same again is
# taken; an expired one is refused.
release-4      | direct                   | after release-5 |         | 1 | | older than the one | untouched serial-5
release-5      | direct                   | after release-5 |         | 0 | | | serial-5
expired        | direct                   | pub vendor  |            | 1 | | expired on | untouched
# No update.pub: only the digests count, as before signatures.
unsigned       | direct                   |             |            | 0 | | |
signed         | direct                   | pub garbage |            | 1 | | update.pub | untouched
# Attacks: what a mirror or anyone on the path could serve, and what must happen.
no-digest      | attack                   | pub vendor  |            | 1 | | SHA-256 digest of every file | nothing-ran no-escape nothing-stays untouched
files          | attack                   | link run.sh |            | 1 | | symbolic link | nothing-ran no-escape nothing-stays untouched
huge           | attack                   |             |            | 1 | | larger than 64 MiB | nothing-ran no-escape nothing-stays untouched
reserved escape | attack                  |             |            | 1 | | analyze | nothing-ran no-escape nothing-stays untouched
# A run killed in the middle of a file: the next fetches only the rest (If-Range), or all of a
# file changed on the server meanwhile.
resume         | direct                   | killed      |            | 0 | | | resumed
resume         | direct                   | killed changed |         | 0 | | | refetched
# A disk without room for the update: nothing is fetched, the run ends at once.
signed         | direct                   | small-disk  |            | 1 | | not enough free space | untouched no-retry
# Another server after a refused connection, a busy one (503), a file failing its digest; the
# last reason of every server when all fail; --no-failover stops at the first.
files          | direct                   | mirrors closed |         | 0 | server: Test server | | bytes switched
files          | direct                   | mirrors busy   |         | 0 | server: Test server | | bytes switched
files          | direct                   | mirrors mismatch |       | 0 | server: Test server | does not match its SHA-256 | bytes switched
files          | direct                   | mirrors missing |        | 0 | server: Test server | gone.dat | bytes switched
files          | direct                   | only closed |            | 1 | wait: | Closed: | untouched waited
files          | direct                   | only busy   |            | 1 | wait: 2 | Busy: | untouched waited
files          | direct                   | mirrors closed | --no-failover | 1 | | | untouched
# A random delay of at most a second before the run.
current        | direct                   |             | --random-delay 1 | 0 | wait: | |
# --check: the plan, nothing downloaded or kept; 10 with an update, 0 without.
signed         | direct                   | pub vendor  | --check    | 10 | total: | | untouched no-ini no-serial
current        | direct                   |             | --check    | 0 | | | untouched no-ini
# Usage errors; a second run while one holds the folder (its lock file: the newest one).
current        | solo                     |             | --server 2 | 2 | | server 2 does not exist |
current        | solo                     |             | --bogus 1  | 2 | | |
current        | solo                     |             | --parallel 17 | 2 | | --parallel takes a number from 1 to 16 |
current        | solo                     | running     |            | 1 | | running |
# Another wizard of the folder (the new updater) or user: the folder's lock keeps it out first.
files          | other-name               | renamed     |            | 1 | | Another update wizard is updating this application | untouched
EOF
)
checks_done
