#!/usr/bin/env bash
# updtool fetch against real peers on 127.0.0.1: nginx as the origin, tinyproxy as the HTTP
# proxy, danted (SOCKS4, SOCKS5 without and with user/password) and microsocks (SOCKS5 with
# user/password). Every file fetched through every route must arrive byte-identical to what
# curl fetches through the same route; ranges, redirects, failures and the output modes are
# checked the same way.
#
# usage: peers_test.sh UPDTOOL
# Needs root for the local user that danted checks SOCKS5 passwords against.
set -u
umask 022

if (($# != 1)); then
    echo "usage: peers_test.sh UPDTOOL" >&2
    exit 2
fi
tool=$1
if [[ ! -x $tool ]]; then
    echo "peers_test.sh: $tool is not an executable program" >&2
    exit 1
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
support=$here/../../support/peers
# shellcheck source=../../support/peers/nginx.sh
source "$support/nginx.sh"
# shellcheck source=../../support/peers/danted.sh
source "$support/danted.sh"
# shellcheck source=../../support/peers/microsocks.sh
source "$support/microsocks.sh"
# shellcheck source=../../support/peers/tinyproxy.sh
source "$support/tinyproxy.sh"
# shellcheck source=../../support/peers/local_user.sh
source "$support/local_user.sh"

passes=0
failures=0
tool_status=0
curl_status=0
# updtool's --timeout ends a transfer after this many seconds without any event: on
# loopback that is a hang (a peer keeping the connection open, a lost notification), never
# a slow transfer. curl gets a bound on its whole run instead. run_limit is the outer guard
# for either, so that a client that ignores its own bound fails one case instead of
# running the whole test into the CTest time-out.
idle_limit=10
curl_limit=30
run_limit=60

pass() { passes=$((passes + 1)); }
fail() { # fail NAME DETAIL...
    failures=$((failures + 1))
    printf 'FAIL %s\n' "$1"
    shift
    (($#)) && printf '    %s\n' "$@"
    return 0
}
finish() {
    echo "$passes passed, $failures failed"
    ((failures == 0))
    exit
}

# ---------------------------------------------------------------------------------------
# Work folder, fixtures and peers

# A run killed outright (a CTest time-out sends SIGKILL, so no trap runs) leaves its folder
# and perhaps a peer behind; the next run clears them. DIR/owner names the run's shell.
for stale in "${TMPDIR:-/tmp}"/upd-peers.*/; do
    [[ -r $stale/owner ]] || continue
    read -r owner owner_started <"$stale/owner" || continue
    peers_started "$owner" && [[ $REPLY == "$owner_started" ]] && continue
    for dir in "$stale"*/; do peers_stop "$dir"; done
    rm -rf "$stale"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/upd-peers.XXXXXX") || exit 1
peers_started $$
printf '%s %s\n' "$$" "$REPLY" >"$work/owner"
started=()
test_user=""

# shellcheck disable=SC2317 # run by the trap
cleanup() {
    local dir
    for dir in "${started[@]}"; do peers_stop "$dir"; done
    [[ -n $test_user ]] && local_user_remove "$test_user" "$LOCAL_USER_OWNER" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# nginx's workers and tinyproxy run as "nobody" under root: the folders must be open to it.
chmod 755 "$work"
if ((EUID == 0)); then
    dir=$work
    while [[ -n $dir ]]; do
        if ! ((8#$(stat -L -c %a "$dir/") & 1)); then
            fail "work folder" "$dir may not be entered by others, so nginx's workers" \
                "cannot read the files; set TMPDIR to a folder all may enter, like /tmp"
            finish
        fi
        dir=${dir%/*}
    done
fi
www=$work/nginx/www
www2=$work/nginx/www2
out=$work/out
mkdir -p "$www/private" "$www2" "$out" "$work/tmp"

: >"$www/empty.bin"
for ((i = 1; i <= 120; i++)); do
    printf 'Line %03d of a small text file, with CR LF line ends.\r\n' "$i"
done >"$www/small.txt"
# Sizes that are no multiple of any packet size, so the last receive is a short one.
head -c $((1024 * 1024 + 7)) /dev/urandom >"$www/medium.bin"
head -c $((20 * 1024 * 1024 + 13)) /dev/urandom >"$www/large.bin"
printf 'A file whose name has a blank in it.\n' >"$www/name with blank.txt"
printf 'Only for those who know the password.\n' >"$www/private/secret.txt"
printf 'This is the second origin, on another port.\n' >"$www2/small.txt"
chmod -R a+rX "$work/nginx"

if ! peers_require curl curl 2>"$work/start.log"; then
    fail "curl, the reference client" "$(cat "$work/start.log")"
    finish
fi
curl=$REPLY

# start_peer NAME DIR START_FUNCTION ARGS...: a peer that does not start is one failure;
# the cases that need it are not run. The start functions run in this shell, not in a
# command substitution, so that the peers stay its children.
start_peer() {
    local name=$1 dir=$2 start=$3
    shift 3
    mkdir -p "$dir"
    started+=("$dir")
    "$start" "$dir" "$@" 2>"$work/start.log" && return 0
    fail "start $name" "$(cat "$work/start.log")"
    return 1
}

start_peer nginx "$work/nginx" nginx_start || finish
origin=${PEER_PORTS[0]}
http_user=alice
http_pass=open-sesame
nginx_add_user "$work/nginx" "$http_user" "$http_pass"

declare -A proxy_port=()
if start_peer tinyproxy "$work/tinyproxy" tinyproxy_start; then
    proxy_port[tinyproxy]=$PEER_PORT
fi
if start_peer "danted (no authentication)" "$work/danted-none" danted_start none; then
    proxy_port[danted_none]=$PEER_PORT
fi

socks_user=updpeer$((RANDOM % 90000 + 10000))
socks_pass=Pw$RANDOM$RANDOM
local_user_sweep
test_user=$socks_user # removed at exit only if this run made it
if local_user_create "$socks_user" "$socks_pass" 2>"$work/start.log"; then
    if start_peer "danted (user name)" "$work/danted-user" danted_start username; then
        proxy_port[danted_user]=$PEER_PORT
    fi
else
    fail "create the local user for danted's user name method" "$(cat "$work/start.log")"
fi
if start_peer microsocks "$work/microsocks" microsocks_start "$socks_user" "$socks_pass"; then
    proxy_port[microsocks]=$PEER_PORT
fi

# ---------------------------------------------------------------------------------------
# Routes: how updtool and curl reach the origin. route_host is the host in the URL; with
# remote name resolution it is a name that the proxy resolves.

declare -A route_tool=() route_curl=() route_host=() route_needs=()
add_route() { # add_route NAME NEEDS HOST "UPDTOOL OPTIONS" "CURL OPTIONS"
    route_needs[$1]=$2
    route_host[$1]=$3
    route_tool[$1]=$4
    route_curl[$1]=$5
}
proxy_of() { printf -- '--proxy-host 127.0.0.1 --proxy-port %s' "${proxy_port[$1]:-0}"; }
curl_proxy_of() { printf -- '-x %s://127.0.0.1:%s' "$2" "${proxy_port[$1]:-0}"; }
user_tool="--proxy-user $socks_user --proxy-pass $socks_pass"
user_curl="--proxy-user $socks_user:$socks_pass"

add_route direct "" 127.0.0.1 "" ""
add_route http-proxy tinyproxy 127.0.0.1 \
    "--proxy http $(proxy_of tinyproxy)" "$(curl_proxy_of tinyproxy http)"
add_route socks4 danted_none 127.0.0.1 \
    "--proxy socks4 $(proxy_of danted_none)" "$(curl_proxy_of danted_none socks4)"
add_route socks5 danted_none 127.0.0.1 \
    "--proxy socks5 $(proxy_of danted_none)" "$(curl_proxy_of danted_none socks5)"
add_route socks5-remote-dns danted_none localhost \
    "--proxy socks5 --remote-dns $(proxy_of danted_none)" \
    "$(curl_proxy_of danted_none socks5h)"
add_route socks5-user danted_user 127.0.0.1 \
    "--proxy socks5 --proxy-auth 2 $user_tool $(proxy_of danted_user)" \
    "$(curl_proxy_of danted_user socks5) $user_curl"
add_route microsocks-user microsocks 127.0.0.1 \
    "--proxy socks5 --proxy-auth 2 $user_tool $(proxy_of microsocks)" \
    "$(curl_proxy_of microsocks socks5) $user_curl"
add_route microsocks-user-remote-dns microsocks localhost \
    "--proxy socks5 --proxy-auth 2 --remote-dns $user_tool $(proxy_of microsocks)" \
    "$(curl_proxy_of microsocks socks5h) $user_curl"
# danted has no SOCKS4a: used only to see that a refusing proxy is reported as one.
add_route socks4a danted_none localhost \
    "--proxy socks4 --remote-dns $(proxy_of danted_none)" "$(curl_proxy_of danted_none socks4a)"
routes=(direct http-proxy socks4 socks5 socks5-remote-dns socks5-user microsocks-user
    microsocks-user-remote-dns)

route_ready() { [[ -z ${route_needs[$1]} || -n ${proxy_port[${route_needs[$1]}]:-} ]]; }

# ---------------------------------------------------------------------------------------
# Running the two clients

# fetch ROUTE ARGS... URL: runs updtool fetch through ROUTE, stdout in $out/stdout and
# stderr in $out/stderr; sets tool_status. Temporary files go to $work/tmp.
fetch() {
    local route=$1
    shift
    local -a options
    read -r -a options <<<"${route_tool[$route]}"
    TMPDIR=$work/tmp timeout "$run_limit" "$tool" fetch "${options[@]}" \
        --timeout "$idle_limit" "$@" >"$out/stdout" 2>"$out/stderr"
    tool_status=$?
}

# reference ROUTE ARGS... URL: curl through ROUTE, body in $out/curl; sets curl_status.
reference() {
    local route=$1
    shift
    local -a options
    read -r -a options <<<"${route_curl[$route]}"
    timeout "$run_limit" "$curl" -sS --max-time "$curl_limit" "${options[@]}" "$@" \
        >"$out/curl" 2>"$out/curl.err"
    curl_status=$?
}

# The URL of PATH through ROUTE: updtool gets the path as typed (it encodes the blank
# itself), curl gets it encoded.
url_of() { printf 'http://%s:%s%s' "${route_host[$1]}" "$origin" "$2"; }
curl_url_of() { printf 'http://%s:%s%s' "${route_host[$1]}" "$origin" "${2// /%20}"; }

size_of() { if [[ -e $1 ]]; then stat -c %s "$1"; else echo missing; fi; }
tool_said() { printf 'updtool exit status %s, stderr: %s' "$tool_status" \
    "$(tail -n 3 "$out/stderr" | tr '\n' '|')"; }

# same NAME ACTUAL EXPECTED: passes when the files are byte-identical.
same() {
    if cmp -s "$2" "$3"; then
        pass
        return 0
    fi
    fail "$1" "got $(size_of "$2") bytes, expected $(size_of "$3")" \
        "$(cmp "$2" "$3" 2>&1 | head -n 1)" "$(tool_said)"
    return 1
}

# expect_status NAME WANTED
expect_status() {
    if [[ $tool_status == "$2" ]]; then
        pass
        return 0
    fi
    fail "$1" "expected exit status $2; $(tool_said)"
    return 1
}

# expect_text NAME TEXT: updtool's stderr holds TEXT (the engine's failure texts are fixed).
expect_text() {
    if grep -qF -- "$2" "$out/stderr"; then
        pass
        return 0
    fi
    fail "$1" "expected on stderr: $2" "$(tool_said)"
    return 1
}

# The text of failure 1. Nothing here aborts a transfer except updtool's --timeout, so it
# marks a transfer that stalled on its way to the expected failure.
aborted="The download has been aborted by the user."

# expect_failure NAME TEXT: updtool failed with the failure text TEXT, promptly.
expect_failure() {
    if [[ $tool_status == 1 ]] && grep -qF -- "$2" "$out/stderr" &&
        ! grep -qF -- "$aborted" "$out/stderr"; then
        pass
        return 0
    fi
    fail "$1" "expected exit status 1 with: $2" "$(tool_said)"
    return 1
}

# compare_fetch NAME ROUTE MODE PATH [UPDTOOL OPTIONS...] [-- CURL OPTIONS...]: fetches
# PATH with curl and with updtool through ROUTE and compares the bytes. MODE is how
# updtool delivers the body: file (-o), memory (--memory) or stream (standard output).
compare_fetch() {
    local name=$1 route=$2 mode=$3 path=$4
    shift 4
    local -a tool_options=()
    while (($#)) && [[ $1 != -- ]]; do
        tool_options+=("$1")
        shift
    done
    (($#)) && shift
    reference "$route" "$@" "$(curl_url_of "$route" "$path")"
    if [[ $curl_status != 0 ]]; then
        fail "$name" "curl failed through this route ($curl_status): $(head -n 2 "$out/curl.err")"
        return 1
    fi
    local body=$out/stdout
    rm -f "$out/body"
    case $mode in
    file)
        tool_options+=(-o "$out/body")
        body=$out/body
        ;;
    memory) tool_options+=(--memory) ;;
    esac
    fetch "$route" "${tool_options[@]}" "$(url_of "$route" "$path")"
    if [[ $tool_status != 0 ]]; then
        fail "$name" "$(tool_said)"
        return 1
    fi
    same "$name" "$body" "$out/curl"
}

# ---------------------------------------------------------------------------------------
# Every file through every route

files=(empty.bin small.txt medium.bin large.bin "name with blank.txt")
for route in "${routes[@]}"; do
    route_ready "$route" || continue
    for file in "${files[@]}"; do
        compare_fetch "$route: $file" "$route" file "/$file"
    done
done

# The served bytes themselves, once per kind of route, so that a route that mangled both
# clients alike would still show up.
for route in direct http-proxy socks5-user; do
    route_ready "$route" || continue
    fetch "$route" -o "$out/body" "$(url_of "$route" /large.bin)"
    same "$route: large.bin equals the served file" "$out/body" "$www/large.bin"
done

# ---------------------------------------------------------------------------------------
# Output modes: -o (above), --memory, the stream to standard output, and --temp

for route in direct socks5-user; do
    route_ready "$route" || continue
    for file in empty.bin small.txt large.bin; do
        compare_fetch "$route: --memory $file" "$route" memory "/$file"
        compare_fetch "$route: stream $file" "$route" stream "/$file"
        # --temp prints the name it chose; the file lies in TMPDIR.
        rm -rf "$work/tmp" && mkdir -p "$work/tmp"
        fetch "$route" --temp "$(url_of "$route" "/$file")"
        temp_file=$(grep -o "$work/tmp/[^[:space:]]*" "$out/stdout" | tail -n 1)
        if [[ $tool_status != 0 ]]; then
            fail "$route: --temp $file" "$(tool_said)"
        elif [[ -z $temp_file || ! -f $temp_file ]]; then
            fail "$route: --temp $file" "no file of $work/tmp named on standard output" \
                "stdout: $(head -c 300 "$out/stdout")"
        else
            same "$route: --temp $file" "$temp_file" "$www/$file"
        fi
    done
done

# ---------------------------------------------------------------------------------------
# Ranges: --resume-from asks for the rest of the file (206), as curl -r N- does

for route in direct http-proxy socks5 microsocks-user; do
    route_ready "$route" || continue
    for offset in 1 1000 524291; do
        compare_fetch "$route: stream from byte $offset" "$route" stream /medium.bin \
            --resume-from "$offset" -- -r "$offset-"
    done
done

# Into a file that holds the first N bytes: the whole file results.
for case in "medium.bin 1000" "medium.bin 524291" "large.bin 10485761"; do
    read -r file offset <<<"$case"
    for route in direct socks4; do
        route_ready "$route" || continue
        head -c "$offset" "$www/$file" >"$out/partial"
        fetch "$route" --resume-from "$offset" -o "$out/partial" "$(url_of "$route" "/$file")"
        expect_status "$route: resume $file from $offset" 0 &&
            same "$route: resumed $file is whole" "$out/partial" "$www/$file"
    done
done

# A local file shorter than the offset: never write behind a hole; a failure instead, and
# the file as it was.
head -c 100 "$www/medium.bin" >"$out/short"
cp "$out/short" "$out/short.before"
fetch direct --resume-from 5000 -o "$out/short" "$(url_of direct /medium.bin)"
expect_failure "resume into a file shorter than the offset fails" \
    "The connection with the proxy or host has been closed, before downloading the entire file."
same "resume into a short file leaves it as it was" "$out/short" "$out/short.before"

# An offset at the end of the file: nginx answers 416, as it does to curl.
size=$(stat -c %s "$www/medium.bin")
reference direct -o /dev/null -w '%{http_code}' -r "$size-" "$(curl_url_of direct /medium.bin)"
if [[ $(cat "$out/curl") == 416 ]]; then pass; else
    fail "nginx answers 416 to a range at the end" "curl saw $(cat "$out/curl")"
fi
fetch direct --resume-from "$size" "$(url_of direct /medium.bin)"
expect_failure "range at the end of the file fails" \
    "The server didn't reply with a 200 or 206 reply code."

# ---------------------------------------------------------------------------------------
# Redirects, compared with curl -L

redirects=(/redir /redir-rel /moved /moved-rel /a/b/up /chain1 /other-port)
for route in direct http-proxy socks5 socks5-remote-dns microsocks-user; do
    route_ready "$route" || continue
    for path in "${redirects[@]}"; do
        compare_fetch "$route: redirect $path" "$route" file "$path" -- -L
    done
done
# Where the redirects lead, so that curl's side is known to be right too.
for case in "/redir small.txt" "/moved medium.bin" "/a/b/up small.txt" "/chain1 small.txt"; do
    read -r path file <<<"$case"
    fetch direct "$(url_of direct "$path")"
    same "redirect $path leads to $file" "$out/stdout" "$www/$file"
done
fetch direct "$(url_of direct /other-port)"
same "redirect to another port is fetched from that port" "$out/stdout" "$www2/small.txt"

# A redirect loop ends after a bounded number of hops (curl gives up too).
fetch direct "$(url_of direct /loop)"
expect_failure "redirect loop fails" "The server didn't reply with a 200 or 206 reply code."

# --no-redirect: the 302's own body, as curl gets it without -L; ObjectMoved in the trace
# with the Location as sent.
compare_fetch "direct: --no-redirect /redir" direct file /redir --no-redirect
fetch direct --no-redirect --trace "$(url_of direct /redir)"
expect_text "--no-redirect traces ObjectMoved" "ObjectMoved http://127.0.0.1:$origin/small.txt 0"
fetch direct --no-redirect --trace "$(url_of direct /redir-rel)"
expect_text "--no-redirect traces a relative Location" "ObjectMoved /small.txt 0"

# ---------------------------------------------------------------------------------------
# Failures: statuses, authorisation, refusing proxies, closed ports

for route in direct http-proxy socks5; do
    route_ready "$route" || continue
    fetch "$route" -o "$out/body" "$(url_of "$route" /missing.bin)"
    expect_failure "$route: 404 fails" "The server didn't reply with a 200 or 206 reply code."
done

compare_fetch "Basic authorisation" direct file /private/secret.txt \
    --user "$http_user" --password "$http_pass" -- -u "$http_user:$http_pass"
fetch direct "$(url_of direct /private/secret.txt)"
expect_failure "401 without credentials fails" \
    "The server didn't reply with a 200 or 206 reply code."
fetch direct --user "$http_user" --password wrong "$(url_of direct /private/secret.txt)"
expect_failure "401 with a wrong password fails" \
    "The server didn't reply with a 200 or 206 reply code."

# --max: the first N bytes, as curl -r 0-(N-1) gives them; reaching the bound is a success.
compare_fetch "direct: --max 1000" direct stream /medium.bin --max 1000 -- -r 0-999

# Offering user/password to a proxy that wants none: it picks "no authentication".
if route_ready socks5; then
    compare_fetch "socks5: --proxy-auth 2 with a proxy that needs none" socks5 file \
        /medium.bin --proxy-auth 2 --proxy-user somebody --proxy-pass something
fi

# refused NAME ROUTE TEXT [UPDTOOL OPTIONS...] [-- CURL OPTIONS...]: both clients fail, and
# updtool names the failure with TEXT.
refused() {
    local name=$1 route=$2 text=$3
    shift 3
    local -a tool_options=()
    while (($#)) && [[ $1 != -- ]]; do
        tool_options+=("$1")
        shift
    done
    (($#)) && shift
    route_ready "$route" || return 0
    reference "$route" "$@" "$(curl_url_of "$route" /small.txt)"
    if [[ $curl_status == 0 ]]; then
        fail "$name" "curl got through this route: the case proves nothing"
        return 1
    fi
    fetch "$route" "${tool_options[@]}" "$(url_of "$route" /small.txt)"
    expect_failure "$name" "$text"
}

refused "danted rejects a wrong password" socks5-user \
    "The user/password combination was not accepted by the proxy." \
    --proxy-pass wrong -- --proxy-user "$socks_user:wrong"
refused "danted refuses a client without user/password" socks5-user \
    "The selected authentication method was not accepted by the proxy." \
    --proxy-auth 0 -- --proxy-user ""
refused "microsocks rejects a wrong password" microsocks-user \
    "The user/password combination was not accepted by the proxy." \
    --proxy-pass wrong -- --proxy-user "$socks_user:wrong"
refused "danted rejects SOCKS4a" socks4a \
    "The connection request has failed or the proxy server has rejected it."

# Nothing listens on a port picked as free and never bound.
peers_pick_port
closed=$REPLY
fetch direct "http://127.0.0.1:$closed/small.txt"
expect_failure "closed origin port fails" "Unable to connect to the host."
fetch direct --proxy socks5 --proxy-host 127.0.0.1 --proxy-port "$closed" \
    "$(url_of direct /small.txt)"
expect_failure "closed proxy port fails" \
    "Unable to connect to the proxy or unable to send data to it."
if route_ready socks5; then
    fetch socks5 "http://127.0.0.1:$closed/small.txt"
    expect_failure "SOCKS5 connect to a closed origin port fails" \
        "The connection request has failed or the proxy server has rejected it."
fi

# ---------------------------------------------------------------------------------------
# The event trace of a whole transfer

# check_trace NAME ROUTE [MODE OPTION...]: events in their order, every line ending in the
# id, the counts adding up to the file's size.
check_trace() {
    local name=$1 route=$2 size stream=1
    shift 2
    (($#)) && stream=0
    size=$(stat -c %s "$www/medium.bin")
    fetch "$route" "$@" --trace --id 7 "$(url_of "$route" /medium.bin)"
    expect_status "$name" 0 || return 1
    local problems
    problems=$(awk -v size="$size" -v stream="$stream" '
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
        }' "$out/stderr")
    if [[ -z $problems ]]; then
        pass
    else
        local -a lines
        mapfile -t lines <<<"$problems"
        fail "$name: events" "${lines[@]:0:5}"
    fi
}

check_trace "trace of a direct stream" direct
check_trace "trace of a direct download to a file" direct -o "$out/body"
route_ready socks5-user && check_trace "trace through SOCKS5 with user/password" socks5-user \
    --memory

# Who resolves the name: microsocks logs the destination as the client gave it.
# seen_by_microsocks NAME URL_HOST WANTED OPTIONS...
seen_by_microsocks() {
    local name=$1 host=$2 wanted=$3 log=$work/microsocks/output.log seen
    shift 3
    seen=$(wc -l <"$log")
    fetch microsocks-user "$@" "http://$host:$origin/small.txt"
    expect_status "$name" 0 || return 1
    if tail -n +"$((seen + 1))" "$log" | grep -qF "connected to $wanted:$origin"; then
        pass
    else
        fail "$name: microsocks was handed $wanted" \
            "its new log lines: $(tail -n +"$((seen + 1))" "$log" | tr '\n' '|')"
    fi
}
if route_ready microsocks-user; then
    seen_by_microsocks "remote DNS hands the proxy the name" localhost localhost --remote-dns
    seen_by_microsocks "without remote DNS the name is resolved here" localhost 127.0.0.1
fi

finish
