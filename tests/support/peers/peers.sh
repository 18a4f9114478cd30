# shellcheck shell=bash
# The real peers of the integration tests on free ports of 127.0.0.1 and ::1, for a test run as
# root that calls peers_cleanup on exit. Each lives in PEERS_DIR/NAME, in a session of its own
# (stopping it takes its workers) yet a child of the test's shell (CTest's time-out reaches it).
PATH=$PATH:/usr/sbin:/sbin
declare -A PEER_PID=()
# PEER_V6: set by a configuration listening on ::1 too, on the first PEER_V6 of its ports.
PEER_PORTS=() PEER_V6=0 PEERS_IPV6=0 PEERS_USER="" PEERS_USER_MARK="upd peer test user, pid"
# 1 when the loopback has ::1: a container may run without IPv6, its peers on 127.0.0.1 only.
grep -qi '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null && PEERS_IPV6=1
peers_v6() { ((!PEERS_IPV6)) || printf '%s\n' "$@"; }
# peers_free_port: REPLY, a free port below the ephemeral ones (32768 up), added to PEER_PORTS.
peers_free_port() {
    local port tries
    for ((tries = 0; tries < 100; tries++)); do
        port=$((20000 + SRANDOM % 12000))
        [[ " ${PEER_PORTS[*]} " == *" $port "* ]] && continue
        [[ -z $(ss -Htan "sport = :$port") ]] && REPLY=$port && PEER_PORTS+=("$port") && return 0
    done
    echo "no free TCP port" >&2
    return 1
}
# peers_listening PID: waits, 10 s at most, until PID itself (not a foreign listener) listens
# on every port of PEER_PORTS, and on ::1 for the first PEER_V6.
peers_listening() {
    local pid=$1 i k missing wanted=()
    for ((k = 0; k < ${#PEER_PORTS[@]}; k++)); do
        wanted+=("sport = :${PEER_PORTS[k]}")
        ((k < PEER_V6)) && wanted+=("src [::1]:${PEER_PORTS[k]}")
    done
    for ((i = 0; i < 500; i++)); do
        missing=0
        for k in "${wanted[@]}"; do [[ $(ss -Htlnp "$k") == *"pid=$pid,"* ]] || missing=1; done
        ((missing)) || return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.02
    done
    return 1
}
# peers_start NAME COUNT CONF [ARGS...]: "CONF DIR ARGS..." configures COUNT free PEER_PORTS
# and sets PEER_CMD; retried on other ports, as one may be taken between pick and bind.
peers_start() {
    local name=$1 count=$2 conf=$3 dir=$PEERS_DIR/$1 attempt i
    shift 3
    mkdir -p "$dir" || return 1
    for attempt in 1 2 3; do
        PEER_PORTS=() PEER_V6=0
        for ((i = 0; i < count; i++)); do peers_free_port || return 1; done
        "$conf" "$dir" "$@" || return 1
        setsid "${PEER_CMD[@]}" </dev/null >>"$dir/output.log" 2>&1 &
        PEER_PID[$name]=$!
        peers_listening "$!" && return 0
        peers_stop "$name"
        echo "$name did not listen on ${PEER_PORTS[*]} (attempt $attempt):" >&2
        tail -n 20 "$dir/output.log" >&2
    done
    return 1
}
# peers_stop NAME...: SIGTERM, then SIGKILL to their sessions once gone or after 5 s.
peers_stop() {
    local name pid pids=()
    for name; do
        [[ -n ${PEER_PID[$name]:-} ]] && pids+=("${PEER_PID[$name]}")
        unset "PEER_PID[$name]"
    done
    ((${#pids[@]})) || return 0
    kill -TERM -- "${pids[@]}" 2>/dev/null
    for pid in "${pids[@]}"; do timeout 5 tail --pid="$pid" -s 0.02 -f /dev/null; done
    kill -KILL -- "${pids[@]/#/-}" 2>/dev/null
    wait "${pids[@]}" 2>/dev/null
    return 0
}
# peers_user_create NAME PASSWORD: a local user marked with this shell's pid. A run killed
# outright (no trap) leaves it; the next removes the marked users whose shell has gone.
peers_user_create() {
    local name gecos
    while IFS=: read -r name _ _ _ gecos _; do
        [[ $gecos == "$PEERS_USER_MARK "* ]] && ! kill -0 "${gecos##* }" 2>/dev/null &&
            userdel "$name"
    done < <(getent passwd)
    useradd --no-create-home --shell /usr/sbin/nologin --comment "$PEERS_USER_MARK $$" "$1" || return 1
    PEERS_USER=$1
    printf '%s:%s\n' "$1" "$2" | chpasswd
}
peers_cleanup() {
    peers_stop "${!PEER_PID[@]}"
    if [[ -n $PEERS_USER ]]; then userdel "$PEERS_USER"; fi
    PEERS_USER=""
}
# peers_scratch NAME: PEERS_DIR, a new folder /dev/shm/upd-NAME.XXXXXX (tmpfs: the disk is not
# what a benchmark measures) that the exit removes with the peers. A run killed outright
# leaves its folder, sometimes a GiB and more of memory: the next run removes those whose
# owner has gone.
peers_scratch() { # NAME
    local stale
    for stale in /dev/shm/upd-"$1".*; do
        [[ -r $stale/owner ]] && ! kill -0 "$(<"$stale/owner")" 2>/dev/null && rm -rf "$stale"
    done
    PEERS_DIR=$(mktemp -d /dev/shm/upd-"$1".XXXXXX) || return 1
    trap 'peers_cleanup; rm -rf "$PEERS_DIR"' EXIT
    trap 'exit 130' INT TERM HUP
    chmod 755 "$PEERS_DIR"
    echo $$ >"$PEERS_DIR/owner"
}
# nginx_write DIR USER PASSWORD SERVERS: nginx.conf (both origins' settings, SERVERS), htpasswd.
nginx_write() {
    mkdir -p "$1/tmp"
    printf '%s:{PLAIN}%s\n' "$2" "$3" >"$1/htpasswd"
    cat >"$1/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $1/nginx.pid;
error_log $1/error.log warn;
events { worker_connections 256; }
http {
  access_log $1/access.log;
  client_body_temp_path $1/tmp/body;  proxy_temp_path $1/tmp/proxy;
  fastcgi_temp_path $1/tmp/fastcgi;   uwsgi_temp_path $1/tmp/uwsgi;
  scgi_temp_path $1/tmp/scgi;
  default_type application/octet-stream;
  sendfile on; keepalive_timeout 30;
$4
}
EOF
    PEER_CMD=(nginx -e "$1/error.log" -p "$1/" -c "$1/nginx.conf")
}
nginx_listen() {
    echo "    listen 127.0.0.1:$1${2:+ $2};"
    peers_v6 "    listen [::1]:$1${2:+ $2};"
}
nginx_locations() {
    cat <<EOF
    location = /redir       { return 302 /small.txt; }
    location = /redir-rel   { absolute_redirect off; return 302 /small.txt; }
    location = /moved       { return 301 /medium.bin; }
    location = /moved-rel   { absolute_redirect off; return 301 /medium.bin; }
    location = /a/b/up      { return 302 ../../small.txt; }
    location = /chain1      { return 302 /chain2; }
    location = /chain2      { return 302 /redir; }
    location /private/      { auth_basic "tests"; auth_basic_user_file $1/htpasswd; }
    location /resume/       { limit_rate_after 300k; limit_rate 20k; }  # a run is killed in it
    location /busy/         { add_header Retry-After 2 always; return 503; }  # come back in 2 s
EOF
}
# nginx: DIR/www on PEER_PORTS[0] (redirects, /private/), DIR/www2 on [1]; workers as nobody.
nginx_conf() { # DIR USER PASSWORD
    nginx_write "$1" "$2" "$3" "  server {
$(nginx_listen "${PEER_PORTS[0]}")
    root $1/www;
$(nginx_locations "$1")
    location = /other-port  { return 302 http://127.0.0.1:${PEER_PORTS[1]}/small.txt; }
  }
  server {
$(nginx_listen "${PEER_PORTS[1]}")
    root $1/www2;
  }"
    PEER_V6=$((PEERS_IPV6 * 2))
}
# peers_tls_certs DIR: the test's authority ca.pem and the certificates below, P-256 (quick);
# `openssl ca` dates them: `openssl x509` of Debian 12 (OpenSSL 3.0) cannot set a start date.
peers_tls_certs() { # DIR
    local dir=$1 name ca names dates
    local -a newkey=(-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes)
    mkdir -p "$dir/db" && : >"$dir/db/index.txt" && echo 01 >"$dir/db/serial" || return 1
    printf '%s\n' '[ca]' 'default_ca = test' '[test]' "database = $dir/db/index.txt" \
        "new_certs_dir = $dir/db" "serial = $dir/db/serial" 'default_md = sha256' \
        'policy = any' 'unique_subject = no' '[any]' 'commonName = supplied' >"$dir/ca.cnf"
    for name in ca unknown-ca; do
        openssl req -x509 "${newkey[@]}" -days 30 -subj "/CN=upd test $name" \
            -keyout "$dir/$name.key" -out "$dir/$name.pem" || return 1
    done
    while IFS='|' read -r name ca names dates; do
        printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$names" >"$dir/$name.ext"
        # shellcheck disable=SC2086 # the validity is options, split on purpose
        openssl req -new "${newkey[@]}" -subj "/CN=$name" -keyout "$dir/$name.key" -out "$dir/$name.csr" &&
            openssl ca -batch -notext -config "$dir/ca.cnf" -cert "$dir/$ca.pem" -keyfile "$dir/$ca.key" \
                -extfile "$dir/$name.ext" $dates -in "$dir/$name.csr" -out "$dir/$name.pem" || return 1
    done <<EOF
good|ca|DNS:localhost,IP:127.0.0.1,IP:::1|-days 30
expired|ca|DNS:localhost,IP:127.0.0.1,IP:::1|-startdate 20200101000000Z -enddate 20200201000000Z
wrongname|ca|DNS:elsewhere.invalid|-days 30
unknown|unknown-ca|DNS:localhost,IP:127.0.0.1,IP:::1|-days 30
EOF
    chmod a+r "$dir"/*.pem "$dir"/*.key
}
# nginx with TLS (CERTS) serving ROOT: PEER_PORTS[0] good.pem (nginx_conf's locations, /to-http
# to [4]), [1] to [3] expired, wrongname, unknown; [4] http (/to-https to [0]); ::1 for [0], [4].
nginx_tls_conf() { # DIR ROOT CERTS USER PASSWORD
    local k servers="" names=(good expired wrongname unknown)
    for k in 1 2 3; do
        servers+="
  server { listen 127.0.0.1:${PEER_PORTS[k]} ssl;
    ssl_certificate $3/${names[k]}.pem;  ssl_certificate_key $3/${names[k]}.key; }"
    done
    # A session cache, as servers in production have: resumed handshakes can be told.
    nginx_write "$1" "$4" "$5" "  ssl_protocols TLSv1.2 TLSv1.3;  ssl_session_cache shared:tls:1m;
  root $2;
  server {
$(nginx_listen "${PEER_PORTS[0]}" ssl)
    ssl_certificate $3/good.pem;  ssl_certificate_key $3/good.key;
$(nginx_locations "$1")
    location = /to-http     { return 302 http://127.0.0.1:${PEER_PORTS[4]}/small.txt; }
  }
  server {
$(nginx_listen "${PEER_PORTS[4]}")
    location = /to-https    { return 302 https://127.0.0.1:${PEER_PORTS[0]}/small.txt; }
  }$servers"
    PEER_V6=$PEERS_IPV6
}
# danted: SOCKS4 and 5 (METHOD none), SOCKS5 against the password database (username); no 4a.
danted_conf() { # DIR METHOD
    cat >"$1/danted.conf" <<EOF
logoutput: $1/danted.log
internal: 127.0.0.1 port = ${PEER_PORTS[0]}
external: 127.0.0.1
$(peers_v6 "internal: ::1 port = ${PEER_PORTS[0]}" "external: ::1")
clientmethod: none
socksmethod: $2
user.privileged: root
user.unprivileged: nobody
client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect }
$(peers_v6 "client pass { from: ::1/128 to: ::/0 }" \
    "socks pass { from: 127.0.0.0/8 to: ::/0 command: connect }" \
    "socks pass { from: ::1/128 to: 0.0.0.0/0 command: connect }" \
    "socks pass { from: ::1/128 to: ::/0 command: connect }")
EOF
    PEER_V6=$PEERS_IPV6
    PEER_CMD=(danted -f "$1/danted.conf" -p "$1/danted.pid" -N 1)
}
# microsocks: SOCKS5, logging destinations as named. -i always: its default is 0.0.0.0.
microsocks_conf() { # DIR USER PASSWORD
    PEER_CMD=(microsocks -i 127.0.0.1 -p "${PEER_PORTS[0]}" -u "$2" -P "$3")
}
# tinyproxy: closes the connection after each response; 127.0.0.1 only; as nobody, who writes
# its log and pid file. CONNECT to any port, or to the CONNECT_PORTs only (others: 403).
tinyproxy_conf() { # DIR [CONNECT_PORT | USER:PASSWORD (a login it asks for)...]
    chown nobody "$1" || return 1
    cat >"$1/tinyproxy.conf" <<EOF
Port ${PEER_PORTS[0]}
Listen 127.0.0.1
Timeout 60
MaxClients 20
User nobody
Group nogroup
LogFile "$1/tinyproxy.log"
PidFile "$1/tinyproxy.pid"
Allow 127.0.0.1
$(for arg in "${@:2}"; do [[ $arg == *:* ]] && echo "BasicAuth ${arg/:/ }" || echo "ConnectPort $arg"; done)
EOF
    PEER_CMD=(tinyproxy -d -c "$1/tinyproxy.conf")
}
# squid: keeps the connection open after a response with a length (until 2 minutes idle);
# no cache; DNS on 127.0.0.1, asking nobody. On 127.0.0.1 and ::1; as proxy, who writes logs.
squid_conf() { # DIR
    chown proxy "$1" || return 1
    cat >"$1/squid.conf" <<EOF
http_port 127.0.0.1:${PEER_PORTS[0]}
$(peers_v6 "http_port [::1]:${PEER_PORTS[0]}")
http_access allow localhost
http_access deny all
cache deny all
cache_mem 8 MB
visible_hostname localhost
dns_nameservers 127.0.0.1
udp_incoming_address 127.0.0.1
udp_outgoing_address 127.0.0.1
pid_filename $1/squid.pid
access_log stdio:$1/access.log
cache_log $1/cache.log
coredump_dir $1
netdb_filename none
pinger_enable off
shutdown_lifetime 0 seconds
EOF
    PEER_V6=$PEERS_IPV6
    PEER_CMD=(squid -N -f "$1/squid.conf")
}
# lighttpd: a second origin of ROOT, nginx_conf's redirects (to itself) and /private/; 400 for an
# absolute-form request line. As nobody (who opens the logs); no 2 s delay after a wrong password.
lighttpd_conf() { # DIR ROOT USER PASSWORD OTHER_PORT
    local at=http://127.0.0.1:${PEER_PORTS[0]}
    chown nobody "$1" || return 1
    printf '%s:%s\n' "$3" "$4" >"$1/users"
    cat >"$1/lighttpd.conf" <<EOF
server.modules = ( "mod_redirect", "mod_auth", "mod_authn_file", "mod_accesslog" )
server.document-root = "$2"
server.bind = "127.0.0.1"
server.port = ${PEER_PORTS[0]}
$(peers_v6 "\$SERVER[\"socket\"] == \"[::1]:${PEER_PORTS[0]}\" { }")
server.username = "nobody"
server.groupname = "nogroup"
server.errorlog = "$1/error.log"
accesslog.filename = "$1/access.log"
mimetype.assign = ( "" => "application/octet-stream" )
server.feature-flags = ( "auth.delay-invalid-creds" => "disable" )
auth.backend = "plain"
auth.backend.plain.userfile = "$1/users"
auth.require = ( "/private/" => ( "method" => "basic", "realm" => "tests",
                                  "require" => "valid-user" ) )
url.redirect-code = 302
url.redirect = ( "^/redir$" => "$at/small.txt", "^/redir-rel$" => "/small.txt",
                 "^/a/b/up$" => "../../small.txt", "^/chain1$" => "/chain2", "^/chain2$" => "/redir",
                 "^/loop$" => "/loop", "^/other-port$" => "http://127.0.0.1:$5/small.txt" )
\$HTTP["url"] =~ "^/moved" {
  url.redirect-code = 301
  url.redirect = ( "^/moved$" => "$at/medium.bin", "^/moved-rel$" => "/medium.bin" )
}
EOF
    PEER_V6=$PEERS_IPV6
    PEER_CMD=(lighttpd -D -f "$1/lighttpd.conf")
}
# sshd for ssh -D: its own host key, a client key DIR/user for root; it needs /run/sshd.
sshd_conf() { # DIR
    rm -f "$1/host" "$1/host.pub" "$1/user" "$1/user.pub"
    ssh-keygen -q -t ed25519 -N '' -f "$1/host" && ssh-keygen -q -t ed25519 -N '' -f "$1/user" &&
        cp "$1/user.pub" "$1/authorized_keys" && mkdir -p /run/sshd || return 1
    PEER_CMD=(/usr/sbin/sshd -D -e -f /dev/null -o ListenAddress=127.0.0.1 -o "Port=${PEER_PORTS[0]}"
        -o "HostKey=$1/host" -o PermitRootLogin=prohibit-password -o "PidFile=$1/sshd.pid"
        -o AllowTcpForwarding=yes -o StrictModes=no -o "AuthorizedKeysFile=$1/authorized_keys")
}
# ssh -D: SOCKS4, 4a and 5 through the sshd at PORT, on 127.0.0.1 and ::1; -vv logs each
# destination as named ("socks4 host NAME port N"). AES-GCM: the cheapest with AES-NI.
ssh_socks_conf() { # DIR PORT KEY
    PEER_V6=$PEERS_IPV6
    PEER_CMD=(ssh -vv -N -F /dev/null -c aes128-gcm@openssh.com -D "127.0.0.1:${PEER_PORTS[0]}")
    ((PEERS_IPV6)) && PEER_CMD+=(-D "[::1]:${PEER_PORTS[0]}")
    PEER_CMD+=(-p "$2" -i "$3" -o BatchMode=yes -o ExitOnForwardFailure=yes
        -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null root@127.0.0.1)
}
