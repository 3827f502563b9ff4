#!/usr/bin/env bash
# Checks the include rules of the product code against the compiler's own dependency record, so every way
# of reaching a header is seen.
#   check-includes.sh BUILD_DIR
#       Fails when an object of product code (qlib, agent, trigger, installer) was compiled with any header
#       from standins/: the product depends on the engine's interfaces, never on the stand-ins.
#   check-includes.sh --installer-layers BUILD_DIR
#       Fails when an object of the installer was compiled with a header of a library above its own. The
#       libraries form a line: the framework, the repository above it, the utilities above that; the
#       engine's service control stands on the framework alone, and the removal on all of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=standins
if [ "${1:-}" = "--installer-layers" ]; then
    mode=layers
    shift
fi
build=${1:?usage: $0 [--installer-layers] BUILD_DIR}

if [ "$mode" = standins ]; then
    ninja -C "$build" -t deps | awk -v standins="$root/standins/" '
        /^[^ \t]/ { product = ($1 ~ /^(qlib|agent|trigger|installer)\//); object = $1; next }
        product && index($0, standins) { sub(/^[ \t]+/, ""); print object " includes " $0; found = 1 }
        END { exit found }
    '
    exit
fi

ninja -C "$build" -t deps | awk -v root="$root/" '
    # The library of a path below the source tree, or none.
    function layer(path) {
        if (path ~ /^installer\/repository\/framework\//) return "framework"
        if (path ~ /^installer\/repository\/src\//) return "repository"
        if (path ~ /^installer\/utils\//) return "utils"
        if (path ~ /^installer\/engine\//) return "engine"
        if (path ~ /^installer\/purgekit\//) return "removal"
        return ""
    }
    BEGIN {
        reaches["framework"] = " framework "
        reaches["repository"] = " framework repository "
        reaches["utils"] = " framework repository utils "
        reaches["engine"] = " framework engine "
        reaches["removal"] = " framework repository utils engine removal "
    }
    /^[^ \t]/ { object = $1; sub(/:$/, "", object); own = layer(object); next }
    own != "" {
        sub(/^[ \t]+/, "")
        if (index($0, root) != 1)
            next
        other = layer(substr($0, length(root) + 1))
        if (other != "" && index(reaches[own], " " other " ") == 0) {
            print object " (" own ") includes " $0 " (" other ")"
            found = 1
        }
    }
    END { exit found }
'
