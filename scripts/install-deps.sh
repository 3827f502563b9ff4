#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing (run as root).
set -euo pipefail

# The installer's library ships 32-bit: its tests run under 32-bit Wine, which comes from the i386 architecture.
packages=(clang-format wine wine64 wine32:i386 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix cmake ninja-build
    googletest iproute2 util-linux nftables slapd ldap-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    # A mirror caught mid-sync fails one index now and then; what the install needs is judged by the install.
    apt-get update -q || echo "Some package lists could not be read; installing from what was read" >&2
    # The tests run their own directory server: the package's system instance is kept from starting.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod +x "$policy"
        trap 'rm -f "$policy"' EXIT
    fi
    install=(apt-get install -y -q --no-install-recommends)
    if ! "${install[@]}" "${missing[@]}"; then
        # A library installed for both architectures needs one version in both; when an update suite's list of
        # one architecture could not be read, the release's own suite still lists both at matching versions.
        release=$(. /etc/os-release && echo "$VERSION_CODENAME")
        echo "The install failed; trying once more with the release's own suite, $release, as the target" >&2
        "${install[@]}" -t "$release" "${missing[@]}"
    fi
fi
