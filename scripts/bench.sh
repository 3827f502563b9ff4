#!/usr/bin/env bash
# Runs every benchmark program (every *_bench.exe the build made) under Wine in one fresh prefix. Each
# times ours against the bare equivalent in the same run and prints
#   NAME: ratio MIN / MEDIAN / MAX (ours X ms, bare Y ms)
# Benchmarks never fail the build: a program that fails is reported and the rest still run.
# Arguments, when given, are name filters (grep patterns) on the program names.
# Where the machine allows private namespaces, the run has its own loopback with the bed's directory server on
# it (benchmarks of directory lookups skip without it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

. "$root/scripts/bed/namespaces.sh"
bed_enter "$0" "$@"
. "$root/scripts/wine-env.sh"
wine_fixed_layout "$0" "$@"
inside=$bed_inside

bash "$root/scripts/build.sh" >/dev/null
directory=$build/x86_64/benchbed/slapd
stop_servers() {
    wine_down
    if [ -n "$inside" ]; then
        "$root/scripts/bed/slapd.sh" stop "$directory"
    fi
}
trap stop_servers EXIT
wine_up "$build/x86_64/wineprefix-bench"
if [ -n "$inside" ]; then
    ip link set lo up
    mkdir -p "$(dirname "$directory")"
    "$root/scripts/bed/slapd.sh" start "$directory" >/dev/null
fi
cd "$build/x86_64/bin"
for bench in *_bench.exe; do
    name=${bench%.exe}
    if [ $# -gt 0 ] && ! printf '%s\n' "$name" | grep -q -e "$(printf '%s\n' "$@")"; then
        continue
    fi
    echo "== $name"
    wine "./$bench" </dev/null || echo "$name: FAILED (exit $?)"
done
