#!/usr/bin/env bash
# A throw-away local user for proxies that check user names against the system's password
# database (danted's "username" method). Needs root.
#
#   local_user.sh create NAME PASSWORD
#   local_user.sh remove NAME
#   local_user.sh sweep          removes users left behind by test runs that were killed
#
# Users made here carry a marker with their owner's pid in their comment field (the shell
# that sourced this file, or the caller of this script); remove and sweep touch no user
# without that marker, so a real account is never removed.
# When sourced: local_user_create, local_user_remove, local_user_sweep.

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

LOCAL_USER_MARKER="upd peer test user, pid"
LOCAL_USER_OWNER=${LOCAL_USER_OWNER:-$$}

# local_user_tools: sets LOCAL_USER_TOOL[useradd|userdel|chpasswd] to their paths.
local_user_tools() {
    local tool
    if ((EUID != 0)); then
        peers_error "creating a local user for the proxy tests needs root"
        return 1
    fi
    declare -gA LOCAL_USER_TOOL
    for tool in useradd userdel chpasswd; do
        peers_require "$tool" passwd || return 1
        LOCAL_USER_TOOL[$tool]=$REPLY
    done
}

# local_user_create NAME PASSWORD
local_user_create() {
    local name=$1 password=$2
    local_user_tools || return 1
    if getent passwd "$name" >/dev/null; then
        peers_error "a user named $name exists already"
        return 1
    fi
    "${LOCAL_USER_TOOL[useradd]}" --no-create-home --shell /usr/sbin/nologin \
        --comment "$LOCAL_USER_MARKER $LOCAL_USER_OWNER" "$name" || return 1
    if ! printf '%s:%s\n' "$name" "$password" | "${LOCAL_USER_TOOL[chpasswd]}"; then
        local_user_remove "$name"
        return 1
    fi
}

# local_user_remove NAME [OWNER]: only a user made by local_user_create (for OWNER, when
# given: a run never removes another run's user that happens to have the same name).
local_user_remove() {
    local name=$1 owner=${2:-} entry gecos
    entry=$(getent passwd "$name") || return 0
    IFS=: read -r _ _ _ _ gecos _ <<<"$entry"
    if [[ $gecos != "$LOCAL_USER_MARKER "* ||
        (-n $owner && $gecos != "$LOCAL_USER_MARKER $owner") ]]; then
        peers_error "refusing to remove $name: not a test user${owner:+ of process $owner}"
        return 1
    fi
    local_user_tools || return 1
    "${LOCAL_USER_TOOL[userdel]}" "$name"
}

# local_user_sweep: removes test users whose creating process has gone.
local_user_sweep() {
    local name rest gecos pid
    ((EUID == 0)) || return 0
    while IFS=: read -r name _ _ _ gecos rest; do
        [[ $gecos == "$LOCAL_USER_MARKER "* ]] || continue
        pid=${gecos#"$LOCAL_USER_MARKER "}
        [[ $pid =~ ^[0-9]+$ ]] || continue
        peers_alive "$pid" && continue
        local_user_remove "$name" "$pid"
    done < <(getent passwd)
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    LOCAL_USER_OWNER=$PPID
    case ${1:-} in
    create) [[ $# -eq 3 ]] && { local_user_create "$2" "$3"; exit; } ;;
    remove) [[ $# -eq 2 ]] && { local_user_remove "$2"; exit; } ;;
    sweep) [[ $# -eq 1 ]] && { local_user_sweep; exit; } ;;
    esac
    echo "usage: local_user.sh create NAME PASSWORD | remove NAME | sweep" >&2
    exit 2
fi
