#!/usr/bin/env bash
# updtool fetch against real peers (peers.sh) on 127.0.0.1 and ::1, one row a case, compared
# with curl through the same route, with the served files, or failing as curl fails.
# usage: peers_test.sh UPDTOOL    (as root: danted's user name method needs a local user)
set -u
umask 022
updtool=${1:?usage: peers_test.sh UPDTOOL}
# shellcheck source=SCRIPTDIR/../../support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../support/peers/peers.sh"
# The machine's proxy is not the test's: the wizard and updtool read these without a proxy.ini.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
# shellcheck source=SCRIPTDIR/../../support/checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../support/checks.sh"
finish() { checks_done; exit; }
[[ -x $updtool ]] || fail "$updtool is not an executable program"
((EUID == 0)) || fail "needs root, to create a local user for danted"
for need in nginx:nginx-light lighttpd:lighttpd danted:dante-server microsocks:microsocks \
    tinyproxy:tinyproxy squid:squid sshd:openssh-server ssh:openssh-client \
    ssh-keygen:openssh-client curl:curl ss:iproute2 useradd:passwd openssl:openssl; do
    command -v "${need%:*}" >/dev/null || fail "${need%:*} is missing (Debian package ${need#*:})"
done
((failures)) && finish
# updtool's --timeout: seconds without any event, on loopback a hang; curl: its whole run;
# run_limit guards either, so that a client ignoring its bound fails one case only.
idle_limit=10 curl_limit=30 run_limit=60
# Under /tmp, whatever TMPDIR says: nginx's workers (nobody) must reach the files. A run
# killed outright (CTest's time-out sends SIGKILL) leaves its folder; the next removes it.
for stale in /tmp/upd-peers.*; do
    [[ -r $stale/owner ]] && ! kill -0 "$(<"$stale/owner")" 2>/dev/null && rm -rf "$stale"
done
PEERS_DIR=$(mktemp -d /tmp/upd-peers.XXXXXX) || exit 1
trap 'peers_cleanup; rm -rf "$PEERS_DIR"' EXIT
trap 'exit 130' INT TERM HUP
chmod 755 "$PEERS_DIR"
echo $$ >"$PEERS_DIR/owner"
work=$PEERS_DIR/work www=$PEERS_DIR/nginx/www
mkdir -p "$www/private" "$www/../www2" "$work/tmp"
: >"$www/empty.bin"
printf 'Line %03d of a small text file, with CR LF line ends.\r\n' {1..120} >"$www/small.txt"
# Sizes that are no multiple of any packet size, so the last receive is a short one.
head -c $((1024 * 1024 + 7)) /dev/urandom >"$www/medium.bin"
head -c $((20 * 1024 * 1024 + 13)) /dev/urandom >"$www/large.bin"
printf 'A file whose name has a blank in it.\n' >"$www/name with blank.txt"
printf 'Only for those who know the password.\n' >"$www/private/secret.txt"
printf 'This is the second origin, on another port.\n' >"$www/../www2/small.txt"
chmod -R a+rX "$PEERS_DIR/nginx"
size=$(stat -c %s "$www/medium.bin")
# try WHAT COMMAND...: a set-up step; a failure (a peer's skips the cases of its routes).
try() { "${@:2}" >"$work/start.log" 2>&1 || fail "$1" "$(cat "$work/start.log")"; }
declare -A port=() server_scheme=([tls]=https [expired]=https [wrongname]=https [unknown]=https)
start() { try "start $1" peers_start "$@" && port[$1]=${PEER_PORTS[0]}; }
socks_user=updpeer$((SRANDOM % 90000 + 10000)) socks_pass=Pw$SRANDOM
start nginx 2 nginx_conf alice open-sesame || finish
origin=${port[nginx]}
start lighttpd 1 lighttpd_conf "$www" alice open-sesame "${PEER_PORTS[1]}"
# The TLS origin's servers by their names in the cases; updtool trusts the test's authority.
certs=$PEERS_DIR/certs tls_servers=(tls expired wrongname unknown tls-plain)
try "make the test certificates" peers_tls_certs "$certs" &&
    start nginx-tls 5 nginx_tls_conf "$www" "$certs" alice open-sesame &&
    for k in "${!tls_servers[@]}"; do port[${tls_servers[k]}]=${PEER_PORTS[k]}; done
export SSL_CERT_FILE=$certs/ca.pem
unset SSL_CERT_DIR
# CONNECT to the good https server only: tinyproxy refuses a tunnel to any other port.
start tinyproxy 1 tinyproxy_conf "${port[tls]:-1}"
start tinyproxy-login 1 tinyproxy_conf proxyuser:proxy-pw
start squid 1 squid_conf
start danted 1 danted_conf none
try "create the local user for danted" peers_user_create "$socks_user" "$socks_pass" &&
    start danted-user 1 danted_conf username
start microsocks 1 microsocks_conf "$socks_user" "$socks_pass"
start sshd 1 sshd_conf &&
    start ssh-socks 1 ssh_socks_conf "${port[sshd]}" "$PEERS_DIR/sshd/user"
((PEERS_IPV6)) ||
    fail "the loopback has no IPv6 address (::1): the IPv6 cases cannot run" \
        "(a container started without IPv6; enable it, e.g. sysctl net.ipv6.conf.lo.disable_ipv6=0)"
# Picked as free and never bound: nothing listens there.
peers_free_port && port[closed]=$REPLY
# Routes: NAME|PEER|HOST in the URL|updtool options|curl's proxy scheme|curl options|the
# proxy's address (127.0.0.1 when empty; updtool gets it as written, curl in brackets).
auth="--proxy-auth 2 --proxy-user $socks_user --proxy-pass $socks_pass"
curl_auth="--proxy-user $socks_user:$socks_pass"
declare -A route_peer=() route_host=() route_tool=() route_curl=()
while IFS='|' read -r name peer host tool scheme curl at; do
    route_peer[$name]=$peer route_host[$name]=$host
    route_tool[$name]="$tool${peer:+ --proxy-host ${at:-127.0.0.1} --proxy-port ${port[$peer]:-0}}"
    [[ $at == *:* && $at != \[* ]] && at="[$at]"
    route_curl[$name]="$curl${peer:+ -x $scheme://${at:-127.0.0.1}:${port[$peer]:-0}}"
done <<EOF
direct||127.0.0.1|||
http-proxy|tinyproxy|127.0.0.1|--proxy http|http|
http-proxy-login|tinyproxy-login|127.0.0.1|--proxy http --proxy-user proxyuser --proxy-pass proxy-pw|http|--proxy-user proxyuser:proxy-pw
squid|squid|127.0.0.1|--proxy http|http|
socks4|danted|127.0.0.1|--proxy socks4|socks4|
socks5|danted|127.0.0.1|--proxy socks5|socks5|
socks5-remote-dns|danted|localhost|--proxy socks5 --remote-dns|socks5h|
socks5-user|danted-user|127.0.0.1|--proxy socks5 $auth|socks5|$curl_auth
socks5-method-none|danted-user|127.0.0.1|--proxy socks5 $auth --proxy-auth 0|socks5|
microsocks-user|microsocks|127.0.0.1|--proxy socks5 $auth|socks5|$curl_auth
microsocks-user-remote-dns|microsocks|localhost|--proxy socks5 --remote-dns $auth|socks5h|$curl_auth
socks4a|danted|localhost|--proxy socks4 --remote-dns|socks4a|
ssh-socks4|ssh-socks|127.0.0.1|--proxy socks4|socks4|
ssh-socks4a|ssh-socks|localhost|--proxy socks4 --remote-dns|socks4a|
ssh-socks5|ssh-socks|127.0.0.1|--proxy socks5|socks5|
ssh-socks5-remote-dns|ssh-socks|localhost|--proxy socks5 --remote-dns|socks5h|
closed-proxy|closed|127.0.0.1|--proxy socks5|socks5|
direct6||[::1]|||
direct-name||localhost|||
squid6|squid|[::1]|--proxy http|http||::1
socks5-6|danted|[::1]|--proxy socks5|socks5||[::1]
ssh-socks5-6|ssh-socks|[::1]|--proxy socks5|socks5||::1
socks4-6|danted|[::1]|--proxy socks4|socks4|
ssh-socks4a-6|ssh-socks|[::1]|--proxy socks4 --remote-dns|socks4a|
EOF
# The engine's failure texts; "aborted" comes only from --timeout: a stall on the way to one.
aborted="The download has been aborted by the user."
not_200="The server didn't reply with a 200 or 206 reply code."
refused="The connection request has failed or the proxy server has rejected it."
no_tls="Unable to make a secure connection with the host"
no_host="Unable to connect to the host."
said() { printf 'updtool exit status %s, stderr: %s' "$status" "$(tail -n 3 "$work/stderr" | tr '\n' '|')"; }
succeeded() { [[ $status == 0 ]] || fail "$1" "$(said)"; }
holds() { if grep -qF -- "$3" "$2"; then pass; else fail "$1" "${@:4}"; fi; } # NAME FILE LINE DETAIL...
same() { # NAME ACTUAL EXPECTED: the files are byte-identical.
    cmp -s "$2" "$3" && pass && return
    fail "$1" "got $(stat -c %s "$2" 2>&1) bytes, expected $(stat -c %s "$3")" \
        "$(cmp "$2" "$3" 2>&1 | head -n 1)" "$(said)"
}
# trace_adds_up NAME STREAM: ordered events ending in the id, adding up to medium.bin's size.
trace_adds_up() {
    local problems lines
    problems=$(awk -v size="$size" -v stream="$2" '
        $NF != 7 { print "line without the id last: " $0 }
        NR == 1 && $1 != "Connected" { print "first event " $1 ", not Connected" }
        NR == 2 && $1 != "QuerySent" { print "second event " $1 ", not QuerySent" }
        $1 == "StreamBytes" { streamed += $2; pending = 1 }
        $1 == "BytesReceived" {
            if ($2 + 0 < last) print "BytesReceived went back from " last " to " $2
            last = $2 + 0
            if (stream && !pending) print "BytesReceived without StreamBytes before it"
            pending = 0
        }
        { final = $1 }
        END {
            if (final != "Disconnected") print "last event " final ", not Disconnected"
            if (last != size) print "BytesReceived ended at " last + 0 ", not " size
            if (stream && streamed != size) print "StreamBytes added up to " streamed + 0
            if (!stream && streamed) print "StreamBytes while the body is kept"
        }' "$work/stderr" | head -n 5)
    [[ -z $problems ]] && pass && return 0
    mapfile -t lines <<<"$problems"
    fail "$1: events" "${lines[@]}"
}
run_case() { # CHECK ROUTE SERVER MODE PATH TOOL CURL EXPECTED
    local check=$1 route=$2 server=$3 mode=$4 path=$5 tool=$6 curl=$7 want=$8 at=@$3
    local peer=${route_peer[$2]} body=$work/stdout seen=0 curl_pid="" said_all=1 text name
    local log=$PEERS_DIR/$peer/output.log tool_options curl_options wants urls=() paths each
    [[ $server == nginx ]] && at=""
    name="$check $route$at $mode $path${tool:+ $tool}"
    [[ (-z $peer || -n ${port[$peer]:-}) && -n ${port[$server]:-} ]] || return 0
    [[ $route != *6 ]] || ((PEERS_IPV6)) || return 0
    # Several paths, joined by commas, are fetched one after the other by one run of each.
    IFS=, read -r -a paths <<<"$path"
    for each in "${paths[@]}"; do
        [[ $each == /* ]] && each=${server_scheme[$server]:-http}://${route_host[$route]}:${port[$server]}$each
        urls+=("$each")
    done
    read -r -a tool_options <<<"${route_tool[$route]} $tool"
    read -r -a curl_options <<<"${route_curl[$route]} $curl --cacert $SSL_CERT_FILE"
    # curl runs alongside updtool: the cases take half the time on two cores.
    if [[ $check == curl || ($check == fail && -n $curl) ]]; then
        timeout "$run_limit" curl -sS --max-time "$curl_limit" "${curl_options[@]}" \
            "${urls[@]// /%20}" >"$work/curl" 2>"$work/curl.err" &
        curl_pid=$!
    fi
    rm -f "$work/body"
    case $mode in
    head=*) head -c "${mode#head=}" "$www$path" | tee "$work/before" >"$work/body" ;;&
    file | head=*) tool_options+=(-o "$work/body") body=$work/body ;;
    memory) tool_options+=(--memory) ;;
    temp) rm -rf "$work/tmp" && mkdir "$work/tmp" && tool_options+=(--temp) ;;
    esac
    case $check in
    trace) tool_options+=(--trace --id 7) ;;
    traced) tool_options+=(--trace) ;;
    seen) seen=$(wc -l <"$log") ;;
    esac
    TMPDIR=$work/tmp timeout "$run_limit" "$updtool" fetch "${tool_options[@]}" \
        --timeout "$idle_limit" "${urls[@]}" >"$work/stdout" 2>"$work/stderr"
    status=$?
    [[ -z $curl_pid ]] || wait "$curl_pid"
    case $check:${curl_pid:+$?} in # curl's status, when it ran
    *: | curl:0 | fail:[1-9]*) ;;
    curl:*) fail "$name" "curl failed through this route: $(head -n 2 "$work/curl.err")" ;;
    *) fail "$name" "curl got through: the case proves nothing" ;;
    esac || return
    [[ $mode == temp ]] && body=$(grep -o "$work/tmp/[^[:space:]]*" "$work/stdout" | tail -n 1)
    case $check in
    curl) succeeded "$name" && same "$name" "$body" "$work/curl" ;;
    file) succeeded "$name" && same "$name" "$body" "$www$path" ;;
    trace) succeeded "$name" && trace_adds_up "$name" "$([[ $mode == stream ]] && echo 1)" ;;
    traced) holds "$name" "$work/stderr" "$want" "expected: $want" "$(said)" ;;
    seen)
        succeeded "$name" || return
        tail -n +"$((seen + 1))" "$log" >"$work/seen"
        holds "$name" "$work/seen" "$want" "$peer did not log: $want" \
            "it logged: $(grep -F "${port[$server]}" "$work/seen" | tr '\n' '|')"
        ;;
    fail)
        mapfile -t wants <<<"${want// && /$'\n'}"
        for text in "${wants[@]}"; do grep -qF -- "$text" "$work/stderr" || said_all=0; done
        if [[ $status != 1 ]] || ((!said_all)) || grep -qF -- "$aborted" "$work/stderr"; then
            fail "$name" "expected exit status 1 with: $want" "$(said)" || return
        fi
        pass
        [[ $mode != head=* ]] || same "$name: the file as it was" "$body" "$work/before"
        ;;
    esac
}
both="nginx lighttpd" three="/empty.bin /small.txt /large.bin"
every="direct http-proxy squid socks4 socks5 socks5-remote-dns socks5-user microsocks-user"
every+=" microsocks-user-remote-dns ssh-socks4 ssh-socks4a ssh-socks5 ssh-socks5-remote-dns"
tls="direct direct6 direct-name http-proxy squid squid6 socks4 socks5 socks5-remote-dns"
tls+=" socks5-6 socks5-user microsocks-user ssh-socks4a ssh-socks5 ssh-socks5-remote-dns ssh-socks5-6"
resume="direct http-proxy squid socks5 microsocks-user ssh-socks4a"
redirect="direct http-proxy squid socks5 socks5-remote-dns microsocks-user ssh-socks5-remote-dns"
six="direct6 squid6 socks5-6 ssh-socks5-6"
# Cases: CHECK | ROUTES | SERVERS | MODES | PATHS | updtool options | curl options | EXPECTED
# A row runs every combination of its lists. A path may be a whole URL; %20 in it is a blank
# that updtool gets as written, curl as %20. CHECK:
#   curl   updtool's body equals curl's through the same route
#   file   it equals the served file
#   fail   updtool fails promptly saying each text of EXPECTED (joined by " && "); curl, when
#          it has options of its own (-f: fail on HTTP errors), fails too
#   trace  the event trace (--trace --id 7) adds up; traced: it (--trace) holds the line EXPECTED
#   seen   the route's peer (microsocks, ssh -vv) logged the destination EXPECTED
# MODE: file (-o), memory (--memory), stream (standard output), temp (--temp, which names the
# file it chose), head=N (-o into a file holding the first N bytes of the served file).
set -f
while IFS='|' read -r -u 3 check routes servers modes paths tool curl want; do
    # shellcheck disable=SC2086 # the lists, split at blanks on purpose
    for route in $routes; do for server in $servers; do for mode in $modes; do for path in $paths; do
        run_case "$check" "$route" "$server" "$mode" "${path//%20/ }" "$tool" "$curl" "$want"
    done; done; done; done
done 3< <(sed 's/^ *//; s/ *$//; /^#/d; /^$/d; s/ *| */|/g' <<EOF
curl   | $every | $both | file | $three /medium.bin /name%20with%20blank.txt ||
curl   | direct socks5-user | $both | memory stream | $three ||
file   | direct socks5-user | $both | temp | $three ||
# --resume-from asks for the rest of the file (206), as curl -r N- does.
curl   | $resume | $both | stream | /medium.bin | --resume-from 524291 | -r 524291- |
# Into a file that holds the bytes before the offset: the whole file results.
file   | direct socks4 | $both | head=10485761 | /large.bin | --resume-from 10485761 ||
curl   | $redirect | $both | file | /redir /redir-rel /moved /moved-rel /a/b/up /chain1 /other-port || -L |
fail   | direct http-proxy squid socks5 | $both | file | /missing.bin || -f | $not_200
# --no-redirect: the 302's own body.
curl   | direct | $both | file | /redir | --no-redirect ||
curl   | direct | $both tls | file | /private/secret.txt | --user alice --password open-sesame | -u alice:open-sesame |
fail   | direct | $both tls | stream | /private/secret.txt | --user alice --password wrong | -f -u alice:wrong | $not_200
# https on every route: TLS inside CONNECT tunnels and after SOCKS exchanges.
curl   | $tls | tls | file | $three ||
curl   | direct http-proxy squid socks5 | tls | file | /redir /moved /a/b/up /chain1 || -L |
# Plain http over IPv6, and from a name through SOCKS to an IPv6 address.
curl   | $six | $both | file | /small.txt /large.bin ||
curl   | $six | nginx | file | /other-port || -L |
file   | ssh-socks4a-6 | nginx | file | /large.bin ||
fail   | socks4-6 | nginx | stream | /small.txt || -f | $refused && SOCKS4 cannot carry the IPv6 address of [::1]
# --max: the first N bytes, as curl -r 0-(N-1) gets them; reaching the bound is a success.
curl   | direct | tls | stream | /medium.bin | --max 1000 | -r 0-999 |
trace  | direct | tls | stream | /medium.bin ||
# From http to https is followed; back from https to http is not (curl follows it).
curl   | direct squid socks5 | tls-plain | file | /to-https || -L |
fail   | direct squid | tls | stream | /to-http ||| $no_tls && redirect from https to http refused: http://
# The certificates that must be refused, directly and inside tunnels.
fail   | direct socks5-remote-dns | expired | stream | /small.txt || -f | $no_tls && not accepted: certificate has expired
fail   | direct-name | wrongname | stream | /small.txt || -f | $no_tls && localhost was not accepted: hostname mismatch
fail   | direct | wrongname | stream | /small.txt || -f | $no_tls && 127.0.0.1 was not accepted: IP address mismatch
fail   | direct squid | unknown | stream | /small.txt || -f | $no_tls && not accepted: unable to get local issuer certificate
# A proxy that refuses the tunnel: the proxy failure, with what it answered.
fail   | http-proxy | expired | stream | /small.txt || -f | $refused && the proxy answered CONNECT with "HTTP/1.1 403
# An https server that speaks plain http.
fail   | direct | nginx | stream | https://127.0.0.1:$origin/small.txt || -f | $no_tls && wrong version number
# ObjectMoved with the Location as sent.
traced | direct | nginx | stream | /redir | --no-redirect || ObjectMoved http://127.0.0.1:$origin/small.txt 0
traced | direct | nginx | stream | /redir-rel | --no-redirect || ObjectMoved /small.txt 0
# A local file shorter than the offset: a failure, not a write behind a hole; the file as it was.
fail   | direct | nginx | head=100 | /medium.bin | --resume-from 5000 || The connection with the proxy or host has been closed, before downloading the entire file.
# An HTTP proxy that asks for a login gets it (Proxy-Authorization: Basic); a wrong one fails.
curl   | http-proxy-login | $both | file | /small.txt /large.bin ||
fail   | http-proxy-login | nginx | stream | /small.txt | --proxy-pass wrong | -f --proxy-user proxyuser:wrong | $not_200
fail   | socks5-user microsocks-user | nginx | stream | /small.txt | --proxy-pass wrong | --proxy-user $socks_user:wrong | The user/password combination was not accepted by the proxy.
fail   | socks5-method-none | nginx | stream | /small.txt || -f | The selected authentication method was not accepted by the proxy.
# danted has no SOCKS4a: a proxy refusing the request must be reported as one.
fail   | socks4a | nginx | stream | /small.txt || -f | $refused
fail   | direct | nginx | stream | http://127.0.0.1:${port[closed]}/small.txt || -f | $no_host
fail   | closed-proxy | nginx | stream | /small.txt || -f | Unable to connect to the proxy or unable to send data to it.
trace  | direct | nginx | stream file | /medium.bin ||
# --keep-alive: several files over one connection, on every kind of route and inside TLS, as
# curl gets them; the second request goes over the first's connection. Without it a second
# https connection resumes the first's TLS session.
curl   | direct squid socks4 socks5-user microsocks-user ssh-socks5 | nginx | stream | /small.txt,/medium.bin,/large.bin | --keep-alive ||
curl   | direct http-proxy squid socks5 | tls | stream | /small.txt,/medium.bin,/large.bin | --keep-alive ||
traced | direct squid socks4 microsocks-user | nginx | stream | /small.txt,/medium.bin | --keep-alive || ConnectionReused 0
traced | direct http-proxy squid socks5-user | tls | stream | /small.txt,/medium.bin | --keep-alive || ConnectionReused 0
traced | direct http-proxy | tls | stream | /small.txt,/medium.bin ||| TlsResumed 0
trace  | socks5-user | nginx | memory | /medium.bin ||
# Who resolves the name: the peer is handed the host name only with --remote-dns.
seen   | microsocks-user-remote-dns | nginx | stream | /small.txt ||| connected to localhost:$origin
seen   | microsocks-user | nginx | stream | http://localhost:$origin/small.txt ||| connected to 127.0.0.1:$origin
seen   | ssh-socks4a | nginx | stream | /small.txt ||| socks4 host localhost port $origin
seen   | ssh-socks4 | nginx | stream | http://localhost:$origin/small.txt ||| socks4 host 127.0.0.1 port $origin
seen   | ssh-socks5-remote-dns | nginx | stream | /small.txt ||| socks5 host localhost port $origin
EOF
)
finish
