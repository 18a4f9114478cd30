# shellcheck shell=bash
# The real peers of the integration tests on free ports of 127.0.0.1 (and of ::1, for those
# that can listen on both, when the loopback has IPv6): starting, waiting until they listen,
# stopping; their configurations; the test certificates of the TLS origin; and the
# throw-away local user that danted's user name method checks passwords against. Sourced by
# a test that runs as root and calls peers_cleanup on exit.
#
# Each peer lives in PEERS_DIR/NAME (configuration, logs). It runs in a session of its own,
# so that stopping it takes its workers too, yet stays a child of the test's shell, so that
# CTest's time-out still reaches it.

PATH=$PATH:/usr/sbin:/sbin
declare -A PEER_PID=()
PEER_PORTS=()
# Set by a configuration that listens on ::1 too, on the first PEER_V6 of its ports.
PEER_V6=0
# 1 when the loopback has its IPv6 address: a container may run without IPv6, and then the
# peers listen on 127.0.0.1 only.
PEERS_IPV6=0
grep -qi '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null && PEERS_IPV6=1

# peers_v6 TEXT...: prints TEXT (a line of a configuration) when ::1 can be used.
peers_v6() {
    ((PEERS_IPV6)) && printf '%s\n' "$@"
    return 0
}
PEERS_USER=""
PEERS_USER_MARK="upd peer test user, pid"

# peers_free_port: REPLY is a port that no socket uses and that is not in PEER_PORTS yet.
# Picked below the ephemeral range (32768 and up), which the tests' own connections use.
peers_free_port() {
    local port tries
    for ((tries = 0; tries < 100; tries++)); do
        port=$((20000 + SRANDOM % 12000))
        [[ " ${PEER_PORTS[*]} " == *" $port "* ]] && continue
        [[ -z $(ss -Htan "sport = :$port") ]] && REPLY=$port && return 0
    done
    echo "no free TCP port" >&2
    return 1
}

# peers_listening PID: waits, 10 s at most, until PID itself holds a socket listening on
# every port of PEER_PORTS (the owner matters: a foreign listener may have taken the port),
# on ::1 as well for the first PEER_V6 of them.
peers_listening() {
    local pid=$1 port i k missing
    for ((i = 0; i < 500; i++)); do
        missing=0
        for ((k = 0; k < ${#PEER_PORTS[@]}; k++)); do
            port=${PEER_PORTS[k]}
            [[ $(ss -Htlnp "sport = :$port") == *"pid=$pid,"* ]] || missing=1
            if ((k < PEER_V6)); then
                [[ $(ss -Htlnp "src [::1]:$port") == *"pid=$pid,"* ]] || missing=1
            fi
        done
        ((missing)) || return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.02
    done
    return 1
}

# peers_start NAME COUNT CONF [ARGS...]: picks COUNT free ports into PEER_PORTS, lets
# "CONF DIR ARGS..." write the configuration and set PEER_CMD, starts it and waits until it
# listens. Other ports are tried when it does not: one may be taken between pick and bind.
peers_start() {
    local name=$1 count=$2 conf=$3 dir=$PEERS_DIR/$1 attempt i
    shift 3
    mkdir -p "$dir" || return 1
    for attempt in 1 2 3; do
        PEER_PORTS=() PEER_V6=0
        for ((i = 0; i < count; i++)); do
            peers_free_port || return 1
            PEER_PORTS+=("$REPLY")
        done
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

# peers_stop NAME...: SIGTERM to the peers (all at once), then, once they have gone or 5 s
# have passed, SIGKILL to whatever is left of their sessions.
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

# peers_user_create NAME PASSWORD: a local user whose comment names this shell. A run
# killed outright (SIGKILL runs no trap) leaves its user behind; the next run removes the
# users whose shell has gone, and never touches a user without the mark.
peers_user_create() {
    local name gecos
    while IFS=: read -r name _ _ _ gecos _; do
        [[ $gecos == "$PEERS_USER_MARK "* ]] && ! kill -0 "${gecos##* }" 2>/dev/null &&
            userdel "$name"
    done < <(getent passwd)
    useradd --no-create-home --shell /usr/sbin/nologin --comment "$PEERS_USER_MARK $$" "$1" ||
        return 1
    PEERS_USER=$1
    printf '%s:%s\n' "$1" "$2" | chpasswd
}

peers_cleanup() {
    peers_stop "${!PEER_PID[@]}"
    if [[ -n $PEERS_USER ]]; then userdel "$PEERS_USER"; fi
    PEERS_USER=""
}

# nginx_write DIR USER PASSWORD SERVERS: DIR/nginx.conf, its http block's settings followed
# by SERVERS, and the Basic authorisation of USER for nginx_locations. The plain and the TLS
# origin share all but their servers.
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

# nginx_listen PORT [ssl]: the listen lines for PORT on 127.0.0.1, and on ::1 when it can.
nginx_listen() {
    echo "    listen 127.0.0.1:$1${2:+ $2};"
    peers_v6 "    listen [::1]:$1${2:+ $2};"
}

# nginx_locations DIR: the fixed redirects, and /private/ for the users of DIR/htpasswd.
nginx_locations() {
    cat <<EOF
    location = /redir       { return 302 /small.txt; }
    location = /redir-rel   { absolute_redirect off; return 302 /small.txt; }
    location = /moved       { return 301 /medium.bin; }
    location = /moved-rel   { absolute_redirect off; return 301 /medium.bin; }
    location = /a/b/up      { return 302 ../../small.txt; }
    location = /chain1      { return 302 /chain2; }
    location = /chain2      { return 302 /redir; }
    location = /loop        { return 302 /loop; }
    location /private/      { auth_basic "tests"; auth_basic_user_file $1/htpasswd; }
EOF
}

# nginx: the origin on PEER_PORTS[0] serving DIR/www, with Basic authorisation for USER
# under /private/ and fixed redirects; a second origin on PEER_PORTS[1] serving DIR/www2.
# Both listen on 127.0.0.1 and ::1. Its workers run as nobody: the folders must be
# readable by all.
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

# peers_tls_certs DIR: the test's own certificate authority and the certificates of the
# TLS origin, made with the openssl command (P-256 keys, quick to make):
#   ca.pem         the authority to trust (SSL_CERT_FILE, curl --cacert)
#   good.pem       localhost, 127.0.0.1 and ::1, valid now
#   expired.pem    the same names, valid in January 2020 only
#   wrongname.pem  elsewhere.invalid only
#   unknown.pem    the same names as good.pem, signed by an authority nobody trusts
# each with its key (NAME.key). The dates come from `openssl ca`: `openssl x509` of
# Debian 12 (OpenSSL 3.0) cannot set a start date.
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
    # NAME | signed by | subjectAltName | validity
    while IFS='|' read -r name ca names dates; do
        printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$names" >"$dir/$name.ext"
        # shellcheck disable=SC2086 # the validity is options, split on purpose
        openssl req -new "${newkey[@]}" -subj "/CN=$name" -keyout "$dir/$name.key" \
            -out "$dir/$name.csr" &&
            openssl ca -batch -notext -config "$dir/ca.cnf" -cert "$dir/$ca.pem" \
                -keyfile "$dir/$ca.key" -extfile "$dir/$name.ext" $dates -in "$dir/$name.csr" \
                -out "$dir/$name.pem" || return 1
    done <<EOF
good|ca|DNS:localhost,IP:127.0.0.1,IP:::1|-days 30
expired|ca|DNS:localhost,IP:127.0.0.1,IP:::1|-startdate 20200101000000Z -enddate 20200201000000Z
wrongname|ca|DNS:elsewhere.invalid|-days 30
unknown|unknown-ca|DNS:localhost,IP:127.0.0.1,IP:::1|-days 30
EOF
    chmod a+r "$dir"/*.pem "$dir"/*.key
}

# nginx with TLS (certificates of peers_tls_certs in CERTS), serving ROOT:
#   PEER_PORTS[0]  https with good.pem on 127.0.0.1 and ::1: the redirects and the Basic
#                  authorisation of nginx_conf's first server (USER, PASSWORD), and
#                  /to-http, a redirect to http://127.0.0.1:PEER_PORTS[4]/small.txt
#   PEER_PORTS[1]  https with expired.pem, [2] with wrongname.pem, [3] with unknown.pem
#   PEER_PORTS[4]  plain http on 127.0.0.1 and ::1, with /to-https, a redirect to
#                  https://127.0.0.1:PEER_PORTS[0]/small.txt
# Its workers run as nobody: ROOT must be readable by all.
nginx_tls_conf() { # DIR ROOT CERTS USER PASSWORD
    local k cert servers="" names=(good expired wrongname unknown)
    for k in 1 2 3; do
        cert=$3/${names[k]}
        servers+="
  server { listen 127.0.0.1:${PEER_PORTS[k]} ssl;
    ssl_certificate $cert.pem;  ssl_certificate_key $cert.key; }"
    done
    nginx_write "$1" "$4" "$5" "  ssl_protocols TLSv1.2 TLSv1.3;
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

# danted: SOCKS4 and SOCKS5 with METHOD "none", SOCKS5 with user/password against the
# password database with "username". It refuses the SOCKS4a host-name form. It listens on
# 127.0.0.1 and ::1 and connects to IPv4 and IPv6 addresses of the loopback.
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

# microsocks: SOCKS5 only; it logs each destination as the client named it. -i always:
# its default address is 0.0.0.0.
microsocks_conf() { # DIR USER PASSWORD
    PEER_CMD=(microsocks -i 127.0.0.1 -p "${PEER_PORTS[0]}" -u "$2" -P "$3")
}

# tinyproxy: an HTTP proxy that closes the connection after each response. It runs as
# nobody, which must be able to write its log and pid file. Without CONNECT_PORTS it opens
# a CONNECT tunnel to any port; with them to those ports only, and refuses the others with
# 403. It listens on 127.0.0.1 only.
tinyproxy_conf() { # DIR [CONNECT_PORT...]
    local dir=$1 port
    shift
    chown nobody "$dir" || return 1
    cat >"$dir/tinyproxy.conf" <<EOF
Port ${PEER_PORTS[0]}
Listen 127.0.0.1
Timeout 60
MaxClients 20
User nobody
Group nogroup
LogFile "$dir/tinyproxy.log"
PidFile "$dir/tinyproxy.pid"
Allow 127.0.0.1
$(for port; do echo "ConnectPort $port"; done)
EOF
    PEER_CMD=(tinyproxy -d -c "$dir/tinyproxy.conf")
}

# squid: an HTTP proxy that keeps the client's connection open after a response with a
# length, until its idle time-out (2 minutes); CONNECT tunnels to any port. No cache, and
# its DNS socket on 127.0.0.1 too, asking nobody. It listens on 127.0.0.1 and ::1. It runs
# as proxy, which must write its logs. It takes 1-2 s to stop.
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

# lighttpd: a second origin serving ROOT, with the redirects and the authorisation of
# nginx's first server (the redirects lead to lighttpd itself), on 127.0.0.1 and ::1. It
# refuses the absolute-form request line with 400. It runs as nobody, which opens the logs;
# without the feature flag it answers a wrong password only after 2 s.
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
                 "^/a/b/up$" => "../../small.txt", "^/chain1$" => "/chain2",
                 "^/chain2$" => "/redir", "^/loop$" => "/loop",
                 "^/other-port$" => "http://127.0.0.1:$5/small.txt" )
\$HTTP["url"] =~ "^/moved" {
  url.redirect-code = 301
  url.redirect = ( "^/moved$" => "$at/medium.bin", "^/moved-rel$" => "/medium.bin" )
}
EOF
    PEER_V6=$PEERS_IPV6
    PEER_CMD=(lighttpd -D -f "$1/lighttpd.conf")
}

# sshd: a throw-away server for ssh's dynamic forwarding, with its own host key, and a
# client key (DIR/user) that may log in as root. Its privilege separation needs /run/sshd.
sshd_conf() { # DIR
    rm -f "$1/host" "$1/host.pub" "$1/user" "$1/user.pub"
    ssh-keygen -q -t ed25519 -N '' -f "$1/host" && ssh-keygen -q -t ed25519 -N '' -f "$1/user" &&
        cp "$1/user.pub" "$1/authorized_keys" && mkdir -p /run/sshd || return 1
    PEER_CMD=(/usr/sbin/sshd -D -e -f /dev/null -o ListenAddress=127.0.0.1
        -o "Port=${PEER_PORTS[0]}" -o "HostKey=$1/host" -o PermitRootLogin=prohibit-password
        -o "PidFile=$1/sshd.pid" -o AllowTcpForwarding=yes -o StrictModes=no
        -o "AuthorizedKeysFile=$1/authorized_keys")
}

# ssh -D: SOCKS4, SOCKS4a and SOCKS5 (no authentication) through the sshd at PORT, on
# 127.0.0.1 and ::1. -vv logs each destination as the client named it ("dynamic request:
# socks4 host NAME port N"). AES-GCM: the cheapest cipher where the processor has AES
# instructions.
ssh_socks_conf() { # DIR PORT KEY
    PEER_V6=$PEERS_IPV6
    PEER_CMD=(ssh -vv -N -F /dev/null -c aes128-gcm@openssh.com -D "127.0.0.1:${PEER_PORTS[0]}")
    ((PEERS_IPV6)) && PEER_CMD+=(-D "[::1]:${PEER_PORTS[0]}")
    PEER_CMD+=(-p "$2" -i "$3" -o BatchMode=yes -o ExitOnForwardFailure=yes
        -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null root@127.0.0.1)
}
