#!/usr/bin/env bash
# Runs ctest on build/x86_64 under Wine, inside the test bed's private network, mount and UTS namespaces when the
# machine allows them (else the tests that need the bed skip). Extra arguments go to ctest (e.g. -R QLibMutex).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bed=$build/x86_64/testbed

. "$root/scripts/bed/namespaces.sh"
bed_enter "$0" "$@"
. "$root/scripts/wine-env.sh"
wine_fixed_layout "$0" "$@"
inside=$bed_inside

# Loopback, a veth pair with fixed MACs (only the first end addressed), the bed's name servers and host name.
# Wine cannot serve UDP on 127.0.0.2 itself, so the second name server's port goes to a port of 127.0.0.1.
make_bed() {
    ip link set lo up
    ip link add bed0 address 02:00:5e:10:00:01 type veth peer name bed1 address 02:00:5e:10:00:02
    ip link set bed1 addrgenmode none
    ip addr add 10.77.0.5/24 dev bed0
    ip link set bed0 up
    ip link set bed1 up
    nft 'table ip bed { chain out { type nat hook output priority -100; ip daddr 127.0.0.2 udp dport 53 dnat to 127.0.0.1:5302; }; }'
    mkdir -p "$bed"
    printf 'nameserver 127.0.0.1\nnameserver 127.0.0.2\n' >"$bed/resolv.conf"
    mount --bind "$bed/resolv.conf" /etc/resolv.conf
    hostname host1.test.example
}

# Servers the whole run shares start after Wine (those of the bed only inside the namespaces); the trap stops
# each of them however the run ends.
stop_servers() {
    wine_down
    "$root/scripts/bed/slapd.sh" stop "$bed/slapd"
}
trap stop_servers EXIT

if [ -n "$inside" ]; then
    make_bed
fi
wine_up "$build/x86_64/wineprefix"
if [ -n "$inside" ]; then
    "$root/scripts/bed/slapd.sh" start "$bed/slapd"
fi
ctest --test-dir "$build/x86_64" --output-on-failure -j "$(nproc)" "$@"
# A full run also runs the fast programs once whole, so that a case depending on an earlier one fails here.
if [ $# -eq 0 ]; then
    "$root/scripts/whole-programs.sh" "$build/x86_64/bin"
    if [ -d "$build/i686/bin" ] && wine_runs_32bit; then
        "$root/scripts/whole-programs.sh" "$build/i686/bin"
    fi
fi
