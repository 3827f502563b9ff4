#!/usr/bin/env bash
# Fails when an object of product code (qlib, agent, trigger, installer) was compiled with any header
# from standins/: the product depends on the engine's interfaces, never on the stand-ins.
# Reads the compiler's own dependency record, so every way of reaching a header is seen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: $0 BUILD_DIR}
ninja -C "$build" -t deps | awk -v standins="$root/standins/" '
    /^[^ \t]/ { product = ($1 ~ /^(qlib|agent|trigger|installer)\//); object = $1; next }
    product && index($0, standins) { sub(/^[ \t]+/, ""); print object " includes " $0; found = 1 }
    END { exit found }
'
