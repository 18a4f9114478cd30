#!/usr/bin/env bash
# Throughput of the wizard's download engine (updtool fetch) against curl, on loopback through
# real peers: nginx as the origin, danted (SOCKS5) and tinyproxy (HTTP proxy). Files are served
# from and downloaded into tmpfs, so the disk is not what is measured. It reports; a missed
# target is not a failure. Exit status 1 only when a download fails or its bytes differ.
#
# usage: bash tools/bench/throughput.sh [--short] [UPDTOOL]   (as root: the peers run as nobody)
set -u -o pipefail
umask 022
short=0
[[ ${1:-} == --short ]] && short=1 && shift
updtool=${1:-build/tools/updtool/updtool}
# shellcheck source=SCRIPTDIR/../../tests/support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/peers/peers.sh"

die() {
    printf 'throughput: %s\n' "$@" >&2
    exit 1
}
[[ -x $updtool ]] || die "$updtool is not an executable program"
((EUID == 0)) || die "needs root: the peers switch to nobody"
for need in nginx:nginx-light danted:dante-server tinyproxy:tinyproxy curl:curl \
    /usr/bin/time:time ss:iproute2; do
    command -v "${need%:*}" >/dev/null || die "${need%:*} is missing (Debian package ${need#*:})"
done
# A proxy from the environment or a ~/.curlrc (curl -q) would change curl's route.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

pairs=5 sizes=(256 1024)
((short)) && pairs=3 sizes=(64)
started=$SECONDS

peers_scratch bench || exit 1
www=$PEERS_DIR/nginx/www work=$PEERS_DIR/work out=$PEERS_DIR/work/out
mkdir -p "$www" "$work"
for mib in "${sizes[@]}"; do head -c $((mib << 20)) /dev/urandom >"$www/$mib.bin"; done
chmod -R a+rX "$PEERS_DIR/nginx"

declare -A port=()
for peer in "nginx 2 nginx_conf bench bench" "danted 1 danted_conf none" \
    "tinyproxy 1 tinyproxy_conf"; do
    read -r -a args <<<"$peer"
    peers_start "${args[@]}" || die "${args[0]} did not start"
    port[${args[0]}]=${PEER_PORTS[0]}
done
# Each route's options: updtool's, then curl's.
declare -A via=([ours:direct]="" [curl:direct]=""
    [ours:socks5]="--proxy socks5 --proxy-host 127.0.0.1 --proxy-port ${port[danted]}"
    [curl:socks5]="-x socks5://127.0.0.1:${port[danted]}"
    [ours:http]="--proxy http --proxy-host 127.0.0.1 --proxy-port ${port[tinyproxy]}"
    [curl:http]="-x http://127.0.0.1:${port[tinyproxy]}")

# Rows: SIZE(MiB) ROUTE OUTPUT PACKET. 1 GiB only into a file at 10000, to bound the long mode.
rows() {
    local mib route output packet
    for mib in "${sizes[@]}"; do for route in direct socks5 http; do
        for output in file stream; do for packet in 10000 default; do
            ((mib < 1024)) || [[ $output == file && $packet == 10000 ]] || continue
            echo "$mib $route $output $packet"
        done; done
    done; done
}

# timed WHO CMD...: one download into $out or /dev/null; appends "WALL CPU RSS" to $work/WHO.
# Wall and CPU come from bash's time, in ms: /usr/bin/time counts hundredths, too coarse for
# 64 MiB; it gives the peak RSS (%M, KiB). The output file goes first, so neither client
# pays for truncating the last one.
TIMEFORMAT='%3R %3U %3S'
timed() {
    local who=$1 wall user sys
    shift
    rm -f "$out"
    { time /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/err"; } 2>"$work/time" ||
        die "$who failed ($row): $(tail -n 2 "$work/err")"
    [[ $output == stream ]] || cmp -s "$out" "$src" ||
        die "$who: $(cmp "$out" "$src" 2>&1 | head -n 1) ($row)"
    read -r wall user sys <"$work/time"
    echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $(<"$work/rss")" \
        >>"$work/$who"
}
# column WHO N: the median of the runs' column N (3: the peak, the largest).
column() {
    if (($2 == 3)); then cut -d' ' -f3 "$work/$1" | sort -n | tail -n 1; else
        cut -d' ' -f"$2" "$work/$1" | sort -g | sed -n "$(((pairs + 1) / 2))p"
    fi
}

echo "updtool fetch against curl: median of $pairs alternated runs each; tmpfs; loopback"
echo "time: ours/curl; thru: curl time/ours (target >= 1.0); cpu/B: ours/curl (target <= 1.0)"
((short)) || echo "1 GiB: into a file at packet size 10000 only (direct, socks5, http)"
format='%-7s %-6s %-6s %-7s %7s %7s %6s %6s %6s %17s  %s\n'
# shellcheck disable=SC2059 # the format is this script's own
printf "$format" size route output packet "ours s" "curl s" "time" "thru" "cpu/B" \
    "RSS ours/curl KiB" missed
misses=0 total=0
while read -r -u 3 mib route output packet; do
    row="$mib MiB $route $output $packet" src=$www/$mib.bin
    url=http://127.0.0.1:${port[nginx]}/$mib.bin
    read -r -a ours <<<"${via[ours:$route]}"
    read -r -a theirs <<<"${via[curl:$route]}"
    # --timeout and curl's speed limit end a transfer stalled for 30 s: a hang, not a result.
    ours=("$updtool" fetch --timeout 30 "${ours[@]}")
    theirs=(curl -q -s --speed-time 30 --speed-limit 1 "${theirs[@]}")
    [[ $packet == default ]] || ours+=(--packet-size "$packet")
    if [[ $output == file ]]; then
        ours+=(-o "$out") theirs+=(-o "$out")
        # An untimed run of each first: the first large file of a row costs the kernel more
        # (memory taken back from elsewhere), and that would fall on whoever runs first.
        rm -f "$out" && "${ours[@]}" "$url" 2>"$work/err" && cmp -s "$out" "$src" ||
            die "ours: failed or other bytes ($row): $(tail -n 2 "$work/err")"
        rm -f "$out" && "${theirs[@]}" "$url" && cmp -s "$out" "$src" ||
            die "curl: failed or other bytes ($row)"
    else
        # Streamed runs go to /dev/null; an untimed run of each first checks the bytes.
        "${ours[@]}" "$url" 2>"$work/err" | cmp -s - "$src" ||
            die "ours: failed or other bytes ($row): $(tail -n 2 "$work/err")"
        "${theirs[@]}" "$url" | cmp -s - "$src" || die "curl: failed or other bytes ($row)"
    fi
    rm -f "$work/ours" "$work/curl"
    for ((i = 0; i < pairs; i++)); do
        timed ours "${ours[@]}" "$url"
        timed curl "${theirs[@]}" "$url"
    done
    # Both fetch the same bytes: the ratio of CPU per byte is the ratio of CPU times.
    awk -v fmt="$format" -v mib="$mib" -v route="$route" -v output="$output" -v packet="$packet" \
        -v ot="$(column ours 1)" -v ct="$(column curl 1)" -v oc="$(column ours 2)" \
        -v cc="$(column curl 2)" -v rss="$(column ours 3)/$(column curl 3)" 'BEGIN {
            cpu = oc / (cc > 0 ? cc : 0.001)
            size = mib >= 1024 ? mib / 1024 " GiB" : mib " MiB"
            missed = ct / ot < 1 ? "thru" : ""
            if (cpu > 1) missed = missed (missed == "" ? "" : ",") "cpu"
            printf fmt, size, route, output, packet, ot, ct, sprintf("%.2f", ot / ct),
                sprintf("%.2f", ct / ot), sprintf("%.2f", cpu), rss, missed
            exit missed != "" }'
    misses=$((misses + $?)) total=$((total + 1))
done 3< <(rows)
echo "verdict: $misses of $total rows miss a target (throughput >= 1.0, CPU per byte <= 1.0)"
echo "run time: $((SECONDS - started)) s"
