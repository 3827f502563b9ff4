#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing (run as root).
set -euo pipefail

packages=(clang-format wine wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix cmake ninja-build googletest iproute2 util-linux nftables
    slapd ldap-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    # The tests run their own directory server: the package's system instance is kept from starting.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod +x "$policy"
        trap 'rm -f "$policy"' EXIT
    fi
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
