#!/usr/bin/env bash
# Pages 2 to 5 against a real nginx: starts one on a free port of 127.0.0.1 serving an
# update.ini, then runs the page test built for it with UPD_NGINX_URL pointing there.
#
# usage: nginx_pages_test.sh TEST_PROGRAM    (as root, like the other peer tests)
set -u
program=${1:?usage: nginx_pages_test.sh TEST_PROGRAM}
# shellcheck source=SCRIPTDIR/../support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/peers/peers.sh"
command -v nginx >/dev/null || { echo "nginx is missing (Debian package nginx-light)"; exit 1; }

PEERS_DIR=$(mktemp -d /tmp/upd-pages.XXXXXX) || exit 1
trap 'peers_cleanup; rm -rf "$PEERS_DIR"' EXIT
chmod 755 "$PEERS_DIR"
mkdir -p "$PEERS_DIR/nginx/www/app" "$PEERS_DIR/nginx/www2"
printf '[Update]\r\nVer=2.1\r\nTime=2005.06.01\r\nContentsEN=Faster,Smaller\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=2\r\nFile1=Main.exe\r\nVer1=2.1\r\nFile2=sub\\r.dll\r\nVer2=1.0\r\n[Time]\r\nNum=0\r\n[Descript]\r\nEXE=Program\r\n' \
    >"$PEERS_DIR/nginx/www/app/update.ini"
# The planned files, Main.exe of 3 MB so that the page shows progress on the way.
head -c 3000000 /dev/urandom >"$PEERS_DIR/nginx/www/app/Main.exe"
mkdir -p "$PEERS_DIR/nginx/www/app/sub"
echo "r.dll" >"$PEERS_DIR/nginx/www/app/sub/r.dll"
chmod -R a+rX "$PEERS_DIR/nginx"
peers_start nginx 2 nginx_conf user password || exit 1
UPD_NGINX_URL="http://127.0.0.1:${PEER_PORTS[0]}/app/" "$program" --gtest_filter="*FromARealNginx*"
