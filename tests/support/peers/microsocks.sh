#!/usr/bin/env bash
# microsocks as a second SOCKS5 proxy, with user name and password (it speaks SOCKS5 only).
#
#   microsocks.sh start DIR USER PASSWORD    prints the port
#   microsocks.sh stop DIR
#
# When sourced: microsocks_start DIR USER PASSWORD sets PEER_PORT and PEER_PID.

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

microsocks_prepare() {
    local user=${2:-} password=${3:-}
    if [[ -z $user || -z $password ]]; then
        peers_error "microsocks needs a user name and a password"
        return 1
    fi
    peers_require microsocks microsocks || return 1
    # -i always: microsocks listens on 0.0.0.0 by default.
    # shellcheck disable=SC2034 # run by peers_start
    PEER_COMMAND=("$REPLY" -i 127.0.0.1 -p "${PEER_PORTS[0]}" -u "$user" -P "$password")
}

# microsocks_start DIR USER PASSWORD
microsocks_start() {
    peers_start "$1" 1 microsocks_prepare "${2:-}" "${3:-}"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    peers_main microsocks "$@"
fi
