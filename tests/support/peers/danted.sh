#!/usr/bin/env bash
# danted as a SOCKS4/SOCKS5 proxy, one instance per authentication method.
#
#   danted.sh start DIR [none|username]    prints the port
#   danted.sh stop DIR
#
# "none" serves SOCKS4 and SOCKS5 without authentication; "username" serves SOCKS5 with
# user name and password (RFC 1929), checked against the system's password database, so
# it needs a real local user (local_user.sh creates one). danted has no SOCKS4a: a SOCKS4
# request with a host name is refused.
# When sourced: danted_start DIR METHOD sets PEER_PORT and PEER_PID.

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

danted_prepare() {
    local dir=$1 method=${2:-none} users=""
    case $method in
    none | username) ;;
    *)
        peers_error "danted: unknown method $method (none or username)"
        return 1
        ;;
    esac
    peers_require danted dante-server || return 1
    local danted=$REPLY
    # Changing users needs root; without root danted runs everything as the caller.
    if ((EUID == 0)); then
        users=$'user.privileged: root\nuser.unprivileged: nobody'
    fi
    cat >"$dir/danted.conf" <<EOF
logoutput: $dir/danted.log
internal: 127.0.0.1 port = ${PEER_PORTS[0]}
external: 127.0.0.1
clientmethod: none
socksmethod: $method
$users

client pass {
    from: 127.0.0.0/8 to: 0.0.0.0/0
    log: error connect disconnect
}
socks pass {
    from: 127.0.0.0/8 to: 0.0.0.0/0
    command: connect
    log: error connect disconnect
}
EOF
    # shellcheck disable=SC2034 # run by peers_start
    PEER_COMMAND=("$danted" -f "$dir/danted.conf" -p "$dir/danted.pid" -N 1)
}

# danted_start DIR METHOD
danted_start() {
    peers_start "$1" 1 danted_prepare "${2:-none}"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    peers_main danted "$@"
fi
