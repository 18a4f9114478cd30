# shellcheck shell=bash
# Shared helpers of the peer scripts: free ports, start-up checks, bounded waits, stopping.
# Sourced by the peer scripts (nginx.sh, danted.sh, ...), never run on its own.
#
# Every peer lives in a private folder DIR of the caller's: its configuration, logs, pid
# file and the files DIR/pid and DIR/port written here. Peers bind 127.0.0.1 only and are
# stopped by the pid recorded in DIR/pid, so a system instance of the same program (a
# service on port 80, another test run) is never touched.
#
# A peer started by a sourced function is a child of the calling shell: when CTest kills a
# test that ran over its time, it kills the test's descendants too, so nothing lingers.

# shellcheck disable=SC2034 # PEER_PORT, PEER_PID, ...: results for the caller
[[ -n ${PEERS_COMMON_LOADED:-} ]] && return 0
PEERS_COMMON_LOADED=1

PEERS_START_TIMEOUT=${PEERS_START_TIMEOUT:-10} # seconds for a peer to listen
PEERS_STOP_TIMEOUT=${PEERS_STOP_TIMEOUT:-5}    # seconds for a peer to go after SIGTERM
PEERS_HANDED_OUT=" "                           # ports given out by this shell, not yet bound

peers_error() { printf 'peers: %s\n' "$*" >&2; }

# peers_require PROGRAM PACKAGE: fails, naming the Debian package, when PROGRAM is missing.
# Looks in the sbin folders too, which a non-root PATH often lacks.
peers_require() {
    local program=$1 package=$2 dir
    if command -v "$program" >/dev/null 2>&1; then
        REPLY=$(command -v "$program")
        return 0
    fi
    for dir in /usr/sbin /sbin /usr/local/sbin; do
        if [[ -x $dir/$program ]]; then
            REPLY=$dir/$program
            return 0
        fi
    done
    peers_error "$program is not installed (Debian package: $package)"
    return 1
}

# peers_now_ms: milliseconds of a monotonic-enough clock, without starting a process.
peers_now_ms() {
    local t=${EPOCHREALTIME/[.,]/}
    REPLY=$((10#$t / 1000))
}

# peers_tcp_table FILE: reads a /proc/net/tcp table into the array PEERS_TABLE, one socket
# a line. Read in one go: bash's "read" takes a /proc file a byte at a time, and the kernel
# renders the whole table again for every read, which takes seconds once a test has left a
# few hundred sockets in TIME_WAIT.
peers_tcp_table() {
    PEERS_TABLE=()
    [[ -r $1 ]] && mapfile -t -s 1 PEERS_TABLE <"$1"
    return 0
}

# peers_ports_in_use: every local TCP port the kernel knows of (any state, IPv4 and IPv6).
# Read from /proc so that no tool beyond bash is needed.
peers_ports_in_use() {
    local file line fields
    for file in /proc/net/tcp /proc/net/tcp6; do
        peers_tcp_table "$file"
        for line in "${PEERS_TABLE[@]}"; do
            read -r -a fields <<<"$line"
            [[ ${fields[1]:-} == *:* ]] || continue
            printf '%d\n' "$((16#${fields[1]##*:}))"
        done
    done
}

# peers_pick_port: sets REPLY to a port that no socket uses and that this shell has not
# handed out yet. Picked below the kernel's ephemeral range (32768 and up on Linux), so
# outgoing connections of the tests do not collide with it. A port can still be taken
# between the pick and the peer's bind; the start functions then try another one.
peers_pick_port() {
    local -A used=()
    local port tries
    while read -r port; do used[$port]=1; done < <(peers_ports_in_use)
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
    for ((tries = 0; tries < 12000; tries++)); do
        if [[ -z ${used[$port]:-} && $PEERS_HANDED_OUT != *" $port "* ]]; then
            PEERS_HANDED_OUT+="$port "
            REPLY=$port
            return 0
        fi
        port=$((port + 1 > 31999 ? 20000 : port + 1))
    done
    peers_error "no free TCP port between 20000 and 31999"
    return 1
}

# peers_listener_inode PORT: sets REPLY to the inode of the socket listening on
# 127.0.0.1:PORT, or fails when there is none.
peers_listener_inode() {
    local want line fields
    printf -v want '0100007F:%04X' "$1"
    peers_tcp_table /proc/net/tcp
    for line in "${PEERS_TABLE[@]}"; do
        [[ $line == *" $want "* ]] || continue
        read -r -a fields <<<"$line"
        # sl, local, remote, state (0A: listening), queues, timer, retransmits, uid,
        # timeout, inode.
        if [[ ${fields[1]} == "$want" && ${fields[3]} == 0A ]]; then
            REPLY=${fields[9]}
            return 0
        fi
    done
    return 1
}

# peers_tree PID: sets REPLY to PID and its descendants, blank-separated.
peers_tree() {
    local queue=("$1") pid child children
    REPLY=""
    while ((${#queue[@]})); do
        pid=${queue[0]}
        queue=("${queue[@]:1}")
        REPLY+="$pid "
        for children in /proc/"$pid"/task/*/children; do
            child=()
            read -r -a child 2>/dev/null <"$children" || true
            queue+=("${child[@]}")
        done
    done
}

# peers_alive PID: the process exists and is not a zombie.
peers_alive() {
    local stat
    [[ -r /proc/$1/stat ]] || return 1
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# peers_started PID: sets REPLY to the process's start time (clock ticks since boot), which
# tells it from a later process that was given the same pid.
peers_started() {
    local stat fields
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    read -r -a fields <<<"${stat##*) }"
    REPLY=${fields[19]}
}

# peers_owns_listener PID PORT: a process of PID's tree holds the socket listening on
# 127.0.0.1:PORT. Checking the owner, not just the port, keeps a foreign listener that
# took the port first from passing for our peer.
peers_owns_listener() {
    local pid=$1 port=$2 inode fd target
    peers_listener_inode "$port" || return 1
    inode=$REPLY
    peers_tree "$pid"
    for pid in $REPLY; do
        for fd in /proc/"$pid"/fd/*; do
            target=$(readlink "$fd" 2>/dev/null) || continue
            [[ $target == "socket:[$inode]" ]] && return 0
        done
    done
    return 1
}

# peers_wait_listening PID PORT LOG: polls until PID listens on 127.0.0.1:PORT. Fails as
# soon as the process has gone, or after PEERS_START_TIMEOUT seconds; LOG is shown then.
peers_wait_listening() {
    local pid=$1 port=$2 log=$3 deadline
    peers_now_ms
    deadline=$((REPLY + PEERS_START_TIMEOUT * 1000))
    while :; do
        peers_owns_listener "$pid" "$port" && return 0
        if ! peers_alive "$pid"; then
            peers_error "process $pid ended before listening on 127.0.0.1:$port"
            break
        fi
        peers_now_ms
        if ((REPLY > deadline)); then
            peers_error "process $pid not listening on 127.0.0.1:$port" \
                "after ${PEERS_START_TIMEOUT}s"
            break
        fi
        sleep 0.02
    done
    [[ -s $log ]] && sed 's/^/    /' "$log" | tail -n 20 >&2
    return 1
}

# peers_stop_pid PID: SIGTERM, a bounded wait, then SIGKILL for the process and whatever
# children it left behind.
peers_stop_pid() {
    local pid=$1 tree deadline
    peers_alive "$pid" || { wait "$pid" 2>/dev/null; return 0; }
    peers_tree "$pid"
    tree=$REPLY
    kill -TERM "$pid" 2>/dev/null
    peers_now_ms
    deadline=$((REPLY + PEERS_STOP_TIMEOUT * 1000))
    while peers_alive "$pid"; do
        peers_now_ms
        if ((REPLY > deadline)); then
            peers_error "process $pid ignored SIGTERM; killing it"
            break
        fi
        sleep 0.02
    done
    for pid in $tree; do
        peers_alive "$pid" && kill -KILL "$pid" 2>/dev/null
    done
    wait "$1" 2>/dev/null
    return 0
}

# peers_stop DIR: stops the peer that DIR/pid records, and forgets it. DIR/pid holds the
# pid and the start time: a peer that ended long ago may have passed its pid on to an
# unrelated process, which is left alone.
peers_stop() {
    local dir=$1 pid started
    [[ -r $dir/pid ]] || return 0
    read -r pid started <"$dir/pid" || return 0
    if [[ $pid =~ ^[0-9]+$ ]] && peers_started "$pid" && [[ $REPLY == "${started:-}" ]]; then
        peers_stop_pid "$pid"
    fi
    rm -f "$dir/pid"
}

# peers_launch DIR COMMAND...: starts COMMAND in the background (a child of this shell)
# with its output in DIR/output.log, records DIR/pid, waits until it listens on 127.0.0.1
# at every port of PEER_PORTS, and records them in DIR/port (one a line). On failure the
# process is stopped.
peers_launch() {
    local dir=$1 pid port
    shift
    "$@" </dev/null >>"$dir/output.log" 2>&1 &
    pid=$!
    # Recorded at once, so that a caller interrupted during the wait can still stop it.
    peers_started "$pid" || REPLY=gone
    printf '%s %s\n' "$pid" "$REPLY" >"$dir/pid"
    for port in "${PEER_PORTS[@]}"; do
        if ! peers_wait_listening "$pid" "$port" "$dir/output.log"; then
            peers_stop "$dir"
            return 1
        fi
    done
    printf '%s\n' "${PEER_PORTS[@]}" >"$dir/port"
    PEER_PID=$pid
    PEER_PORT=${PEER_PORTS[0]}
}

# peers_start DIR COUNT PREPARE [ARGS...]: picks COUNT free ports into the array
# PEER_PORTS, lets the function PREPARE (called as PREPARE DIR ARGS...) write the
# configuration for them and set the array PEER_COMMAND, launches that command, and tries
# again with fresh ports when the peer could not bind them. Sets PEER_PORTS, PEER_PORT (the
# first one) and PEER_PID.
peers_start() {
    local dir=$1 count=$2 prepare=$3 attempt i
    shift 3
    mkdir -p "$dir" || return 1
    peers_stop "$dir"
    for attempt in 1 2 3; do
        PEER_PORTS=()
        for ((i = 0; i < count; i++)); do
            peers_pick_port || return 1
            PEER_PORTS+=("$REPLY")
        done
        PEER_COMMAND=()
        "$prepare" "$dir" "$@" || return 1
        peers_launch "$dir" "${PEER_COMMAND[@]}" && return 0
        ((attempt < 3)) && peers_error "retrying with other ports"
    done
    return 1
}

# peers_main NAME "$@": the command line of a peer script run by hand:
#   NAME.sh start DIR [ARGS...]   prints the port (one a line when the peer has several)
#   NAME.sh stop DIR
peers_main() {
    local name=$1 command=${2:-} dir=${3:-}
    if [[ -z $command || -z $dir ]]; then
        printf 'usage: %s.sh start DIR [ARGS...] | stop DIR\n' "$name" >&2
        return 2
    fi
    shift 3
    case $command in
    start)
        "${name}_start" "$dir" "$@" || return 1
        printf '%s\n' "${PEER_PORTS[@]}"
        ;;
    stop) peers_stop "$dir" ;;
    *)
        printf 'unknown command %s\n' "$command" >&2
        return 2
        ;;
    esac
}
