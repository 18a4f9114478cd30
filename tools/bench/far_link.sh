#!/usr/bin/env bash
# The wizard on a far link: `update-wizard --auto --parallel 6` against curl, both through
# latency_relay in front of nginx, 25 ms each way (50 ms round trip, one more for each new
# connection). Cases: 200 files of 20 KB over http and over https (the wizard's whole run,
# installation included, against curl with 6 parallel transfers and curl on one connection),
# then one large file over http (throughput: page 4's transfer, from the page to the file's
# arrival, against curl's whole run; its set announces no digest, since the digest pass after
# the transfer measures the processor, not the link). The release sets are made with `updtool
# make-ini` (digests and sizes); each wizard run starts from a fresh application folder without
# their files. All in tmpfs. It reports; a missed target is not a failure. Exit status 1 only when
# a run fails or its bytes differ.
#
# usage: bash tools/bench/far_link.sh [--short] [BUILD_DIR]   (as root: nginx's workers run as
# nobody); --short: one run per case, 64 MiB, curl on one connection over http only: the form
# the test command runs.
set -u -o pipefail
umask 022
short=0
[[ ${1:-} == --short ]] && short=1 && shift
build=${1:-build}
wizard=$build/app/update-wizard updtool=$build/tools/updtool/updtool
relay=$build/tools/bench/latency_relay
# shellcheck source=SCRIPTDIR/../../tests/support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/peers/peers.sh"

die() {
    printf 'far_link: %s\n' "$@" >&2
    exit 1
}
for program in "$wizard" "$updtool" "$relay"; do
    [[ -x $program ]] || die "$program is not an executable program (build $build first)"
done
((EUID == 0)) || die "needs root: nginx's workers switch to nobody"
for need in nginx:nginx-light openssl:openssl curl:curl ss:iproute2; do
    command -v "${need%:*}" >/dev/null || die "${need%:*} is missing (Debian package ${need#*:})"
done
# A proxy from the environment or a ~/.curlrc (curl -q) would change either client's route.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
unset SSL_CERT_DIR DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=offscreen

one_way_ms=25 files=200 file_bytes=20000 parallel=6 runs=3 mib=256
((short)) && runs=1 mib=64
started=$SECONDS
peers_scratch far || exit 1
www=$PEERS_DIR/www work=$PEERS_DIR/work certs=$PEERS_DIR/certs
mkdir -p "$www/many" "$www/big" "$work"
# The single-instance lock of the wizard, kept inside this run.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

names=()
for ((i = 1; i <= files; i++)); do names+=("$(printf 'f%03d.bin' "$i")"); done
for name in "${names[@]}"; do head -c "$file_bytes" /dev/urandom >"$www/many/$name"; done
head -c $((mib << 20)) /dev/urandom >"$www/big/big.bin"
# make-ini before the update folder exists, so that its update.ini is not part of the set.
for set in many big; do
    { "$updtool" make-ini "$www/$set" -o "$work/update.ini" --ver 2.0 >"$work/make-ini.log" 2>&1 &&
        mkdir -p "$www/$set/update" &&
        if [[ $set == big ]]; then sed -i '/^Sha256/d' "$work/update.ini"; fi &&
        mv "$work/update.ini" "$www/$set/update/update.ini"; } ||
        die "updtool make-ini $set failed: $(tail -n 3 "$work/make-ini.log")"
done
chmod -R a+rX "$www"
peers_tls_certs "$certs" >"$work/certs.log" 2>&1 ||
    die "the test certificates could not be made: $(tail -n 2 "$work/certs.log")"
ca=$certs/ca.pem
openssl x509 -in "$certs/good.pem" -noout -checkip 127.0.0.1 | grep -q ' does match' ||
    die "the test certificate does not name 127.0.0.1"

# One nginx: https on PEER_PORTS[0], http on [4], both serving $www; a relay in front of each.
peers_start nginx-tls 5 nginx_tls_conf "$www" "$certs" bench bench || die "nginx did not start"
https_port=${PEER_PORTS[0]} http_port=${PEER_PORTS[4]}
relay_conf() { # DIR TARGET_PORT
    PEER_CMD=("$relay" --to "127.0.0.1:$2" --one-way-ms "$one_way_ms"
        --listen-port "${PEER_PORTS[0]}")
}
peers_start relay-http 1 relay_conf "$http_port" || die "the relay did not start"
far_http=http://127.0.0.1:${PEER_PORTS[0]}
peers_start relay-https 1 relay_conf "$https_port" || die "the relay did not start"
far_https=https://127.0.0.1:${PEER_PORTS[0]}

# The application folders, one per server: the wizard and its update.svr; nothing else, so
# every file of the set is planned.
for route in http https big; do
    case $route in
    http) at=$far_http/many/ ;;
    https) at=$far_https/many/ ;;
    big) at=$far_http/big/ ;;
    esac
    app=$work/app-$route
    { mkdir -p "$app" && cp "$wizard" "$app/update-wizard"; } || die "cannot make $app"
    "$updtool" server-line "Far server" "$at" "update/update.ini" EN >"$app/update.svr" ||
        die "updtool server-line failed"
done

# same SET FOLDER NAME...: the files NAME of SET arrived whole in FOLDER.
same() {
    cmp -s <(cd "$www/$1" && cat -- "${@:3}") <(cd "$2" && cat -- "${@:3}" 2>/dev/null)
}
# timed WHO CMD...: one bounded run; appends its wall time (seconds) to $work/WHO, the output
# in $work/log.
TIMEFORMAT=%3R
timed() {
    local who=$1 status
    shift
    { time timeout 120 "$@" >"$work/log" 2>&1; } 2>"$work/time"
    status=$?
    ((status == 0)) || die "$who failed with status $status ($case):" "$(tail -n 5 "$work/log")"
    cat "$work/time" >>"$work/$who"
}
# wizard_run ROUTE SET NAME...: the unattended run from a fresh copy of the route's folder.
wizard_run() {
    local app=$work/app
    { rm -rf "$app" && cp -a "$work/app-$1" "$app"; } || die "cannot copy the application folder"
    # Each line of its output after the time it came, for the page and file lines' times.
    timed wizard env SSL_CERT_FILE="$ca" bash -c 'set -o pipefail; "$@" 2>&1 |
        while IFS= read -r line; do printf "%s %s\n" "$EPOCHREALTIME" "$line"; done' stamped \
        "$app/update-wizard" --auto --parallel "$parallel"
    same "$2" "$app" "${@:3}" || die "wizard: the files in the application folder differ ($case)"
}
# fetch WHO SET CURL_ARGUMENTS...: curl into an empty folder, then its files checked.
fetch() {
    local who=$1 set=$2 out=$work/out
    shift 2
    rm -rf "$out" && mkdir "$out"
    timed "$who" curl -q -s -S -f --no-progress-meter --output-dir "$out" "$@"
    if [[ $set == big ]]; then
        same big "$out" big.bin
    else
        same "$set" "$out" "${names[@]}"
    fi || die "$who: the files differ ($case)"
}
median() { sort -g "$work/$1" | sed -n "$(((runs + 1) / 2))p"; }

each="median of $runs alternated runs"
((runs > 1)) || each="one run each"
echo "update-wizard --auto --parallel $parallel against curl, through a relay of $one_way_ms ms" \
    "each way ($((2 * one_way_ms)) ms round trip, one more per new connection); $each; tmpfs;" \
    "loopback"
((short)) && echo "--short: curl on one connection over http only"
misses=0 total=0
for case in http https; do
    base=$far_http/many/ tls=()
    [[ $case == https ]] && base=$far_https/many/ tls=(--cacert "$ca")
    urls=("${names[@]/#/$base}")
    single=1
    ((short)) && [[ $case == https ]] && single=0
    rm -f "$work/wizard" "$work/parallel" "$work/single"
    for ((run = 0; run < runs; run++)); do
        wizard_run "$case" many "${names[@]}"
        fetch parallel many "${tls[@]}" -Z --parallel-max "$parallel" --remote-name-all "${urls[@]}"
        ((single)) && fetch single many "${tls[@]}" --remote-name-all "${urls[@]}"
    done
    one="not run"
    ((single)) && one="$(median single) s"
    awk -v name="$case" -v files="$files" -v kb="$((file_bytes / 1000))" -v w="$(median wizard)" \
        -v p="$(median parallel)" -v one="$one" -v n="$parallel" 'BEGIN {
            ratio = w / p
            format = "%-5s %d x %d KB: wizard %.3f s, curl -Z (%d) %.3f s, curl on one"
            format = format " connection %s; wizard / curl -Z = %.2f (target <= 1.20)%s\n"
            printf format, name, files, kb, w, n, p, one, ratio, (ratio > 1.2 ? " MISSED" : "")
            exit ratio > 1.2 }'
    misses=$((misses + $?)) total=$((total + 1))
done

case=big
rm -f "$work/wizard" "$work/curl" "$work/transfer"
for ((run = 0; run < runs; run++)); do
    wizard_run big big big.bin
    awk '$2 " " $3 == "page: download" { from = $1 } $2 " " $3 == "file: big.bin" { to = $1 }
        END { print to - from }' "$work/log" >>"$work/transfer"
    fetch curl big -O "$far_http/big/big.bin"
done
awk -v mib="$mib" -v t="$(median transfer)" -v w="$(median wizard)" -v c="$(median curl)" 'BEGIN {
    mb = mib * 1048576 / 1e6
    ratio = c / t
    format = "http  1 x %d MiB: wizard %.1f MB/s (%.3f s on page 4; whole run %.3f s), curl"
    format = format " %.1f MB/s (%.3f s); wizard / curl = %.2f (target >= 0.90)%s\n"
    printf format, mib, mb / t, t, w, mb / c, c, ratio, (ratio < 0.9 ? " MISSED" : "")
    exit ratio < 0.9 }'
misses=$((misses + $?)) total=$((total + 1))
echo "verdict: $misses of $total cases miss the target (wizard within 1.2 x curl -Z's time;" \
    "throughput >= 0.9 x curl's)"
echo "run time: $((SECONDS - started)) s"
