#!/usr/bin/env bash
# Runs ctest on build/x86_64 under Wine, in a private network namespace when the machine allows one.
# Extra arguments go to ctest (e.g. -R QLibMutex).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

if [ -z "${TOLLAN_NETNS:-}" ] && unshare --net true 2>/dev/null; then
    exec unshare --net env TOLLAN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

. "$root/scripts/wine-env.sh"
wine_up "$build/x86_64/wineprefix"
trap wine_down EXIT
ctest --test-dir "$build/x86_64" --output-on-failure -j "$(nproc)" "$@"
