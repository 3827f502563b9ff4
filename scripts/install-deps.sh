#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing (run as root); "demo" leaves out what only
# the tests need.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

# The installer's library ships 32-bit: its tests run under 32-bit Wine, which comes from the i386 architecture.
packages=(clang-format wine wine64 wine32:i386 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix cmake ninja-build
    googletest iproute2 util-linux nftables slapd ldap-utils)
lists_read=

# Once per run, and only when something is to be fetched.
read_lists() {
    [ -z "$lists_read" ] || return 0
    lists_read=1
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    # A mirror caught mid-sync fails one index now and then; what the install needs is judged by the install.
    apt-get update -q || echo "Some package lists could not be read; installing from what was read" >&2
}

# Installs whichever of the packages named is missing.
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "Installing: ${missing[*]}"
    read_lists
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
}

# Debian's own kernel, unpacked (not installed) into DIR for the virtual machine, with its module list.
unpack_kernel() {
    local dir=$1 package work
    ! ls "$dir"/boot/vmlinuz-* >/dev/null 2>&1 || return 0
    read_lists
    package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -1)
    [ -n "$package" ] || {
        echo "The package lists name no kernel package for linux-image-amd64" >&2
        return 1
    }
    echo "Unpacking $package into $dir"
    # Beside DIR, not in a temporary folder: what a failed download leaves goes with the next try.
    rm -rf "$dir" "$dir.part" "$dir.deb"
    mkdir -p "$dir.part" "$dir.deb"
    (cd "$dir.deb" && apt-get download -q -o APT::Sandbox::User=root "$package")
    dpkg-deb -x "$dir.deb"/*.deb "$dir.part"
    rm -rf "$dir.deb"
    busybox depmod -b "$dir.part" "$(basename "$dir.part"/lib/modules/*)"
    mv "$dir.part" "$dir"
}

install_missing "${packages[@]}"
# Some virtual machines run 64-bit programs only: there the 32-bit build's tests run in a small virtual machine of
# their own (scripts/vm32), which needs the emulator, busybox and a kernel.
. "$root/scripts/wine-env.sh"
if [ "${1:-test}" = test ] && ! wine_runs_32bit; then
    install_missing qemu-system-x86 busybox-static
    unpack_kernel "$build/vm32/kernel"
fi
