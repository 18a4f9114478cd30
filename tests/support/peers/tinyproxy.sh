#!/usr/bin/env bash
# tinyproxy as the HTTP proxy of the tests.
#
#   tinyproxy.sh start DIR    prints the port
#   tinyproxy.sh stop DIR
#
# tinyproxy passes the origin's reply on and closes the connection after each response.
# Under root it runs as nobody, so DIR is made writable for its log and pid file.
# When sourced: tinyproxy_start DIR sets PEER_PORT and PEER_PID.

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tinyproxy_prepare() {
    local dir=$1 users=""
    peers_require tinyproxy tinyproxy || return 1
    local tinyproxy=$REPLY
    if ((EUID == 0)); then
        users=$'User nobody\nGroup nogroup'
        chown nobody "$dir" || return 1
    fi
    cat >"$dir/tinyproxy.conf" <<EOF
Port ${PEER_PORTS[0]}
Listen 127.0.0.1
Timeout 60
MaxClients 20
$users
LogFile "$dir/tinyproxy.log"
PidFile "$dir/tinyproxy.pid"
Allow 127.0.0.1
EOF
    # shellcheck disable=SC2034 # run by peers_start
    PEER_COMMAND=("$tinyproxy" -d -c "$dir/tinyproxy.conf")
}

# tinyproxy_start DIR
tinyproxy_start() {
    peers_start "$1" 1 tinyproxy_prepare
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    peers_main tinyproxy "$@"
fi
