#!/usr/bin/env bash
# nginx as the HTTP origin server of the tests: 200, 206 for ranges, 301/302, 401, 404.
#
#   nginx.sh start DIR    prints two ports: the origin, then a second origin for redirects
#   nginx.sh stop DIR     that lead to another port
#
# The origin serves DIR/www, the second one DIR/www2 (the caller fills both; they must be
# readable by "nobody", which nginx's workers run as under root). Fixed locations:
#   /redir       302 to /small.txt, absolute Location
#   /redir-rel   302 to /small.txt, Location "/small.txt"
#   /moved       301 to /medium.bin, absolute Location
#   /moved-rel   301 to /medium.bin, Location "/medium.bin"
#   /a/b/up      302 with the path-relative Location "../../small.txt"
#   /chain1      302 to /chain2, which 302s to /redir (three hops to /small.txt)
#   /loop        302 to itself
#   /other-port  302 to /small.txt of the second origin
#   /private/    files of DIR/www/private/, Basic authorisation against DIR/htpasswd
# When sourced: nginx_start DIR sets PEER_PORTS (origin, second origin) and PEER_PID.

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

nginx_prepare() {
    local dir=$1 port=${PEER_PORTS[0]} port2=${PEER_PORTS[1]}
    peers_require nginx nginx-light || return 1
    local nginx=$REPLY
    mkdir -p "$dir/tmp" "$dir/www/private" "$dir/www2" || return 1
    [[ -e $dir/htpasswd ]] || : >"$dir/htpasswd"
    cat >"$dir/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 256; }
http {
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp/body;  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;   uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  default_type application/octet-stream;
  sendfile on; keepalive_timeout 30;
  server {
    listen 127.0.0.1:$port;  root $dir/www;
    location = /redir       { return 302 /small.txt; }
    location = /redir-rel   { absolute_redirect off; return 302 /small.txt; }
    location = /moved       { return 301 /medium.bin; }
    location = /moved-rel   { absolute_redirect off; return 301 /medium.bin; }
    location = /a/b/up      { return 302 ../../small.txt; }
    location = /chain1      { return 302 /chain2; }
    location = /chain2      { return 302 /redir; }
    location = /loop        { return 302 /loop; }
    location = /other-port  { return 302 http://127.0.0.1:$port2/small.txt; }
    location /private/      { auth_basic "tests"; auth_basic_user_file $dir/htpasswd; }
  }
  server {
    listen 127.0.0.1:$port2;  root $dir/www2;
  }
}
EOF
    # shellcheck disable=SC2034 # run by peers_start
    PEER_COMMAND=("$nginx" -e "$dir/error.log" -p "$dir/" -c "$dir/nginx.conf")
}

# nginx_start DIR
nginx_start() {
    peers_start "$1" 2 nginx_prepare
}

# nginx_add_user DIR USER PASSWORD: lets USER into /private/.
nginx_add_user() {
    printf '%s:{PLAIN}%s\n' "$2" "$3" >>"$1/htpasswd"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    peers_main nginx "$@"
fi
