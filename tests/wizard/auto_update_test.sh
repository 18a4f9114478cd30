#!/usr/bin/env bash
# update-wizard --auto end to end: a real nginx serves update sets of every kind (files,
# the updater, the full package, nothing to do, a file missing on the server), reached
# directly, through danted (SOCKS5) and through tinyproxy (HTTP proxy). Each run starts from
# a fresh application folder and is judged by its exit status, its output and the folder.
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
later=2030-01-01  # announced dates newer than any local file

# ---- The update sets, one folder each: the server address is http://HOST:PORT/KIND/set/ ----
mkdir -p "$www/files/set/update" "$www/files/set/sub"
ini '[Update]' ForceUp=0 Update=0 '[Ver]' Num=0 '[Time]' Num=3 File1=run.sh Date1=$later \
    'File2=sub\data.dat' Date2=$later File3=keep.txt Date3=$later >"$www/files/set/update/update.ini"
printf '#!/bin/sh\necho new\n' >"$www/files/set/run.sh"
head -c 300000 /dev/urandom >"$www/files/set/sub/data.dat"
echo "new keep" >"$www/files/set/keep.txt"

mkdir -p "$www/updater/set/update"
ini '[Update]' ForceUp=0 Update=1 UpdateVer=9.0.0.0 MoveVer=9.0.0.0 '[Ver]' Num=0 '[Time]' Num=0 \
    >"$www/updater/set/update/update.ini"
printf '#!/bin/sh\necho "$PWD" >started\n' >"$www/updater/update.exe"
echo "mover" >"$www/updater/FileMove.exe"

mkdir -p "$www/package/set/update"
head -c 100000 /dev/urandom >"$www/package/Setup.zip"

mkdir -p "$www/secure-package/set/update"

mkdir -p "$www/current/set/update"
ini '[Update]' ForceUp=0 Update=0 '[Ver]' Num=0 '[Time]' Num=1 File1=keep.txt Date1=2001-01-01 \
    >"$www/current/set/update/update.ini"

mkdir -p "$www/missing/set/update"
ini '[Update]' ForceUp=0 Update=0 '[Ver]' Num=0 '[Time]' Num=2 File1=keep.txt Date1=$later \
    File2=gone.dat Date2=$later >"$www/missing/set/update/update.ini"
echo "new keep" >"$www/missing/set/keep.txt"
chmod -R a+rX "$PEERS_DIR/nginx"

peers_start nginx 2 nginx_conf user password || exit 1
origin="http://127.0.0.1:${PEER_PORTS[0]}"
ini '[Update]' ForceUp=1 "UpURL=$origin/package/Setup.zip" Update=0 '[Ver]' Num=0 '[Time]' Num=0 \
    >"$www/package/set/update/update.ini"
# The same sets over https: a certificate of a test authority, trusted through SSL_CERT_FILE.
peers_tls_certs "$work/tls" >/dev/null 2>&1 || { echo "no test certificates"; exit 1; }
peers_start nginx-tls 5 nginx_tls_conf "$www" "$work/tls" user password || exit 1
secure="https://127.0.0.1:${PEER_PORTS[0]}"
export SSL_CERT_FILE=$work/tls/ca.pem
peers_start danted 1 danted_conf none || exit 1
socks=${PEER_PORTS[0]}
ini '[Update]' ForceUp=1 "UpURL=$secure/package/Setup.zip" Update=0 '[Ver]' Num=0 '[Time]' Num=0 \
    >"$www/secure-package/set/update/update.ini"
chmod -R a+rX "$www"
peers_start tinyproxy 1 tinyproxy_conf || exit 1
proxy=${PEER_PORTS[0]}

# app KIND ROUTE: a fresh application folder for the set KIND in $app; keep.txt is old.
app() {
    app=$work/app-$1-$2
    rm -rf "$app" "$work/opened"
    mkdir -p "$app"
    cp "$wizard" "$app/update-wizard"
    "$updtool" server-line "Test server" "${server_origin:-$origin}/$1/set/" "update/update.ini" EN \
        >"$app/update.svr"
    echo "old keep" >"$app/keep.txt"
    chmod 600 "$app/keep.txt"
    touch -d 2020-01-01 "$app/keep.txt"
    case $2 in
        socks5) ini '[Proxy]' Type=3 Server=127.0.0.1 "Port=$socks" >"$app/proxy.ini" ;;
        http) ini '[Proxy]' Type=1 Server=127.0.0.1 "Port=$proxy" >"$app/proxy.ini" ;;
    esac
}
# run: the unattended run in $app; $status, $out and $err hold what it did.
run() {
    timeout 60 "$app/update-wizard" --auto "$@" >"$work/out" 2>"$work/err"
    status=$? out=$(<"$work/out") err=$(<"$work/err")
}
# The folder's files, modes and contents, the update folder left out.
snapshot() {
    (cd "$app" && find . -path ./update -prune -o -type f -printf '%p %m\n' | sort &&
        find . -path ./update -prune -o -type f -exec md5sum {} + | sort)
}
says() { [[ $1 == *"$2"* ]] || { echo "  missing \"$2\" in: $1" && return 1; }; }
same() { [[ $1 == "$2" ]] || { echo "  \"$1\" is not \"$2\"" && return 1; }; }
mode() { stat -c %a "$1"; }

for route in direct socks5 http; do
    app files $route
    run
    check "files $route: status 0 ($err)" same $status 0
    check "files $route: pages and files in order" same "$(grep -o '^[a-z]*: .*' <<<"$out" | tr '\n' '|')" \
        "page: welcome|page: server|page: information|page: analysis|page: download|file: run.sh|file: sub\\data.dat|file: keep.txt|page: finish|result: installed|"
    check "files $route: bytes" cmp -s "$app/sub/data.dat" "$www/files/set/sub/data.dat"
    check "files $route: a replaced file keeps its mode" same "$(mode "$app/keep.txt") $(<"$app/keep.txt")" "600 new keep"
    check "files $route: a new script runs" same "$(mode "$app/run.sh") $(mode "$app/sub/data.dat")" "755 644"
    check "files $route: the update folder is empty" same "$(find "$app/update" -type f ! -name install.lock | wc -l)" 0

    app updater $route
    run
    check "updater $route: status 3 ($err)" same $status 3
    check "updater $route: says so" says "$out" "result: reupdate.exe started"
    for ((i = 0; i < 100; i++)); do [[ -e $app/started ]] && break; sleep 0.05; done
    check "updater $route: reupdate.exe ran in the application folder" same "$(cat "$app/started" 2>/dev/null)" "$app"
    check "updater $route: FileMove.exe is in place" same "$(cat "$app/FileMove.exe" 2>/dev/null)" mover
    check "updater $route: no update.exe left" test ! -e "$app/update/update.exe"

    app package $route
    run
    check "package $route: status 4 ($err)" same $status 4
    check "package $route: the opener got the package" same "$(cat "$work/opened" 2>/dev/null)" "$app/update/Setup.zip"
    check "package $route: its bytes" cmp -s "$app/update/Setup.zip" "$www/package/Setup.zip"

    app current $route
    run
    check "current $route: status 0 ($err)" same $status 0
    check "current $route: says so" says "$out" "result: nothing to do"

    app missing $route
    before=$(snapshot)
    run
    check "missing $route: status 1" same $status 1
    check "missing $route: retried once" same "$(grep -c '^retry: gone.dat' <<<"$out")" 1
    check "missing $route: says why" says "$err" "gone.dat"
    check "missing $route: the folder is untouched" same "$(snapshot)" "$before"
done

# ---- Over https: update.svr names an https server; the package's UpURL is https too ----
for route in direct socks5 http; do
    server_origin=$secure app files "https-$route"
    case $route in
        socks5) ini '[Proxy]' Type=3 Server=127.0.0.1 "Port=$socks" >"$app/proxy.ini" ;;
        http) ini '[Proxy]' Type=1 Server=127.0.0.1 "Port=$proxy" >"$app/proxy.ini" ;;
    esac
    run
    check "https $route: status 0 ($err)" same $status 0
    check "https $route: bytes" cmp -s "$app/sub/data.dat" "$www/files/set/sub/data.dat"
done
server_origin=$secure app secure-package direct
run
check "https package: status 4 ($err)" same $status 4
check "https package: its bytes" cmp -s "$app/update/Setup.zip" "$www/package/Setup.zip"

# ---- Signed sets: a release made with make-ini and sign, and what an attacker can change ----
"$updtool" keygen "$work/vendor" >/dev/null && "$updtool" keygen "$work/other" >/dev/null ||
    { echo "keygen failed"; exit 1; }
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
chmod -R a+rX "$www"

# keyed KIND [KEY]: app KIND direct, with the vendor's key (or KEY's) as update.pub.
keyed() {
    app "$1" direct
    cp "${2:-$work/vendor.pub}" "$app/update.pub"
}
keyed signed
run
check "signed: status 0 ($err)" same $status 0
check "signed: installed" cmp -s "$app/sub/data.dat" "$www/signed/set/sub/data.dat"
for case in "tampered-file:does not match its SHA-256" "tampered-ini:does not match" \
    "other-key:does not match" "unsigned:not signed" "bad-digest:analyze"; do
    keyed "${case%%:*}"
    before=$(snapshot)
    run
    check "${case%%:*}: status 1" same $status 1
    check "${case%%:*}: says why" says "$err" "${case#*:}"
    check "${case%%:*}: the folder is untouched" same "$(snapshot)" "$before"
done
app unsigned direct  # no update.pub: only the digests count, as before signatures
run
check "unsigned without a key: status 0 ($err)" same $status 0
keyed signed /dev/null
echo "not a key" >"$app/update.pub"
before=$(snapshot)
run
check "an unusable update.pub: status 1" same $status 1
check "an unusable update.pub: says so" says "$err" "update.pub"
check "an unusable update.pub: the folder is untouched" same "$(snapshot)" "$before"

# ---- Attacks: what a mirror or anyone on the path could serve, and what must happen ----
# The updater set, genuinely signed but without UpdateSha256: its update.exe must never run.
mkdir -p "$www/no-digest/set/update"
ini '[Update]' ForceUp=0 Update=1 UpdateVer=9.0.0.0 '[Ver]' Num=0 '[Time]' Num=0 \
    >"$www/no-digest/set/update/update.ini"
printf '#!/bin/sh\ntouch "%s/pwned"\n' "$work" >"$www/no-digest/update.exe"
"$updtool" sign --key "$work/vendor.key" "$www/no-digest/set/update/update.ini" >/dev/null
# An endless update.ini (a file past the 64 MiB the reader takes), a name the installer keeps,
# a name with an escape sequence.
mkdir -p "$www/huge/set/update" "$www/reserved/set/update" "$www/escape/set/update"
truncate -s 65M "$www/huge/set/update/update.ini"
ini '[Update]' ForceUp=0 Update=0 '[Ver]' Num=0 '[Time]' Num=1 File1=install.journal Date1=$later \
    >"$www/reserved/set/update/update.ini"
ini '[Update]' ForceUp=0 Update=0 '[Ver]' Num=0 '[Time]' Num=1 $'File1=a\e[2Jb.txt' Date1=$later \
    >"$www/escape/set/update/update.ini"
echo "victim" >"$work/victim"
chmod -R a+rX "$www"
# KIND|SET UP IN $app|STATUS|ON STANDARD ERROR
for case in "no-digest|cp $work/vendor.pub \$app/update.pub|1|SHA-256 digest of every file" \
    "files|mkdir \$app/update; ln -s $work/victim \$app/update/run.sh|1|symbolic link" \
    "huge|:|1|larger than 64 MiB" "reserved|:|1|analyze" "escape|:|1|analyze"; do
    IFS='|' read -r kind setup want why <<<"$case"
    app "$kind" attack
    eval "$setup"
    before=$(snapshot) && touch "$work/mark"
    run
    check "$kind attack: status $want ($err)" same $status "$want"
    check "$kind attack: says why" says "$err" "$why"
    check "$kind attack: nothing ran, the link's target is whole" same "$(ls "$work/pwned" 2>&1 >/dev/null | wc -l) $(<"$work/victim")" "1 victim"
    check "$kind attack: no escape byte printed" test "$(grep -c $'\e' "$work/out" "$work/err" | grep -vc ':0$')" = 0
    check "$kind attack: nothing fetched stays" same "$(find "$app" -newer "$work/mark" ! -type d ! -name install.lock)" ""
    check "$kind attack: the folder is untouched" same "$(snapshot)" "$before"
done

# Usage errors, and a second unattended run while one holds the folder (its lock file is
# the newest: this folder is new).
app current solo
run --server 2
check "a server that does not exist: status 2" same $status 2
check "a server that does not exist: says so" says "$err" "server 2 does not exist"
run --bogus 1
check "an unknown option: status 2" same $status 2
# shellcheck disable=SC2012 # the names are ours, without blanks
lock=$(ls -t "$XDG_RUNTIME_DIR"/update-wizard-*.lock | head -n 1)
check "the lock file exists" test -n "$lock"
flock "$lock" sleep 20 &
holder=$!
sleep 0.3
run
kill $holder 2>/dev/null
check "a second run: status 1" same $status 1
check "a second run: says why" says "$err" "running"

# Another wizard of the folder under another name (the new updater), or another user: the
# folder's own lock keeps it out before it looks at anything.
app files other-name
cp "$wizard" "$app/reupdate.exe"
mkdir -p "$app/update"
before=$(snapshot)
flock "$app/update/install.lock" sleep 20 &
holder=$!
for ((i = 0; i < 100; i++)); do grep -q "$(stat -c %i "$app/update/install.lock" 2>/dev/null)" /proc/locks && break; sleep 0.05; done
timeout 60 "$app/reupdate.exe" --auto >"$work/out" 2>"$work/err"
status=$? err=$(<"$work/err")
kill $holder 2>/dev/null
check "a wizard under another name: status 1" same $status 1
check "a wizard under another name: says why" says "$err" "Another update wizard is updating this application"
check "a wizard under another name: the folder is untouched" same "$(snapshot)" "$before"

echo "$((checks - failures)) of $checks checks passed"
((failures == 0))
