#!/usr/bin/env bash
# Runs ctest on build/x86_64 under Wine, inside the test bed's private network, mount and UTS namespaces when the
# machine allows them (else the tests that need the bed skip). Extra arguments go to ctest (e.g. -R QLibMutex).
# TEST_TREE=i686 runs the 32-bit build's tree alone (what the virtual machine of scripts/vm32 does).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
tree=${TEST_TREE:-x86_64}
bed=$build/$tree/testbed

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

# Where this machine runs no 32-bit program, a full run first runs the 32-bit build's tests in a virtual machine;
# ctest below then counts each of their cases as the guest judged it.
vm32=
if [ "$tree" = x86_64 ] && [ $# -eq 0 ] && [ -d "$build/i686/bin" ] && ! wine_runs_32bit; then
    vm32=0
    "$root/scripts/vm32/run.sh" "$build/vm32/results" || vm32=$?
    export TOLLAN_I686_RESULTS=$build/vm32/results
fi

if [ -n "$inside" ]; then
    make_bed
fi
wine_up "$build/$tree/wineprefix"
if [ -n "$inside" ]; then
    "$root/scripts/bed/slapd.sh" start "$bed/slapd"
fi
ctest --test-dir "$build/$tree" --output-on-failure -j "$(nproc)" "$@"
# A full run also runs the fast programs once whole, so that a case depending on an earlier one fails here.
if [ $# -eq 0 ]; then
    "$root/scripts/whole-programs.sh" "$build/$tree/bin"
    if [ "$tree" = x86_64 ] && [ -d "$build/i686/bin" ] && wine_runs_32bit; then
        "$root/scripts/whole-programs.sh" "$build/i686/bin"
    fi
fi
# The guest's failed cases failed ctest above; what is left is a guest that did not end, or its whole programs.
case "$vm32" in
    1) echo "The 32-bit build's tests failed in the virtual machine (its lines above, prefixed with 'vm32|')" >&2 ;;
    2) echo "The 32-bit build's tests did not run to their end in the virtual machine (see above)" >&2 ;;
esac
[ "${vm32:-0}" -eq 0 ]
