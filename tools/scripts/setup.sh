#!/usr/bin/env bash
# Installs what building and testing the project needs on Debian 12 (run as root).
# Packages already installed are not fetched again. win32-loader is there for its Windows
# executable, a real PE file with a version resource for the version reader's tests.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config clang-14 libclang-rt-14-dev clang-format binutils
  libsodium-dev
  libssl-dev openssl
  libzstd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-wqy-microhei
  nginx-light dante-server tinyproxy microsocks squid lighttpd openssh-server openssh-client curl
  time strace
  dpkg-dev file lintian groff-base
  win32-loader
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  # Keep the system services (nginx, tinyproxy, squid, lighttpd, sshd) from starting: the
  # tests run their own.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
