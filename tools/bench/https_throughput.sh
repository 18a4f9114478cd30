#!/usr/bin/env bash
# Throughput of the wizard's download engine over HTTPS (updtool fetch) against curl: 256 MiB
# from nginx with TLS on loopback, in alternation, both trusting the same test authority
# (made here with the openssl command; SSL_CERT_FILE for updtool, --cacert for curl). The
# file is served from and downloaded into tmpfs, so the disk is not what is measured; one
# row per output (into a file, or streamed to standard output) and packet size. It reports;
# a missed target (0.9 times curl's throughput) is not a failure. Exit status 1 only when a
# download fails or its bytes differ.
#
# usage: bash tools/bench/https_throughput.sh [--short] [UPDTOOL]   (as root: nginx's workers
# run as nobody); --short: 64 MiB, 3 pairs, the form the test command runs.
set -u -o pipefail
umask 022
short=0
[[ ${1:-} == --short ]] && short=1 && shift
updtool=${1:-build/tools/updtool/updtool}
# shellcheck source=SCRIPTDIR/../../tests/support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/peers/peers.sh"

die() {
    printf 'https_throughput: %s\n' "$@" >&2
    exit 1
}
[[ -x $updtool ]] || die "$updtool is not an executable program"
((EUID == 0)) || die "needs root: nginx's workers switch to nobody"
for need in nginx:nginx-light openssl:openssl curl:curl ss:iproute2; do
    command -v "${need%:*}" >/dev/null || die "${need%:*} is missing (Debian package ${need#*:})"
done
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
unset SSL_CERT_DIR

pairs=5 mib=256
((short)) && pairs=3 mib=64
started=$SECONDS
peers_scratch https-bench || exit 1
www=$PEERS_DIR/www work=$PEERS_DIR/work out=$PEERS_DIR/work/out src=$PEERS_DIR/www/$mib.bin
mkdir -p "$www" "$work"
head -c $((mib << 20)) /dev/urandom >"$src"
chmod -R a+rX "$www"
peers_tls_certs "$PEERS_DIR/certs" >"$work/certs.log" 2>&1 ||
    die "the test certificates could not be made: $(tail -n 2 "$work/certs.log")"
ca=$PEERS_DIR/certs/ca.pem
peers_start nginx-tls 5 nginx_tls_conf "$www" "$PEERS_DIR/certs" bench bench ||
    die "nginx did not start"
url=https://127.0.0.1:${PEER_PORTS[0]}/$mib.bin

# timed WHO CMD...: one download; appends "WALL CPU" (seconds) to $work/WHO.
TIMEFORMAT='%3R %3U %3S'
timed() {
    local who=$1 wall user sys
    shift
    rm -f "$out"
    { time "$@" >/dev/null 2>"$work/err"; } 2>"$work/time" ||
        die "$who failed ($row): $(tail -n 2 "$work/err")"
    [[ $output == stream ]] || cmp -s "$out" "$src" ||
        die "$who: $(cmp "$out" "$src" 2>&1 | head -n 1) ($row)"
    read -r wall user sys <"$work/time"
    echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" >>"$work/$who"
}
median() { # WHO COLUMN
    cut -d' ' -f"$2" "$work/$1" | sort -g | sed -n "$(((pairs + 1) / 2))p"
}

echo "updtool fetch against curl over HTTPS: $mib MiB, median of $pairs alternated runs;" \
    "tmpfs; loopback"
echo "thru: curl time/ours (target >= 0.9); cpu/B: ours/curl"
format='%-7s %-7s %7s %7s %6s %6s  %s\n'
# shellcheck disable=SC2059 # the format is this script's own
printf "$format" output packet "ours s" "curl s" thru cpu/B missed
misses=0 total=0
for row in "file 10000" "file default" "stream default"; do
    read -r output packet <<<"$row"
    ours=(env SSL_CERT_FILE="$ca" "$updtool" fetch --timeout 30)
    theirs=(curl -q -s --cacert "$ca" --speed-time 30 --speed-limit 1)
    [[ $packet == default ]] || ours+=(--packet-size "$packet")
    if [[ $output == file ]]; then
        ours+=(-o "$out") theirs+=(-o "$out")
    else
        "${ours[@]}" "$url" 2>"$work/err" | cmp -s - "$src" ||
            die "ours: failed or other bytes ($row): $(tail -n 2 "$work/err")"
        "${theirs[@]}" "$url" | cmp -s - "$src" || die "curl: failed or other bytes ($row)"
    fi
    rm -f "$work/ours" "$work/curl"
    for ((i = 0; i < pairs; i++)); do
        timed ours "${ours[@]}" "$url"
        timed curl "${theirs[@]}" "$url"
    done
    awk -v fmt="$format" -v output="$output" -v packet="$packet" \
        -v ot="$(median ours 1)" -v ct="$(median curl 1)" -v oc="$(median ours 2)" \
        -v cc="$(median curl 2)" 'BEGIN {
            thru = ct / ot
            missed = thru < 0.9 ? "thru" : ""
            printf fmt, output, packet, ot, ct, sprintf("%.2f", thru),
                sprintf("%.2f", oc / (cc > 0 ? cc : 0.001)), missed
            exit missed != "" }'
    misses=$((misses + $?)) total=$((total + 1))
done
echo "verdict: $misses of $total rows miss the target (throughput >= 0.9 times curl's)"
echo "run time: $((SECONDS - started)) s"
