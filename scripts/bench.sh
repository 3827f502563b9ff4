#!/usr/bin/env bash
# Runs every benchmark program (every *_bench.exe the build made) under Wine in one fresh prefix. Each
# times ours against the bare equivalent in the same run and prints
#   NAME: ratio MIN / MEDIAN / MAX (ours X ms, bare Y ms)
# Benchmarks never fail the build: a program that fails is reported and the rest still run.
# Arguments, when given, are name filters (grep patterns) on the program names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-env.sh"
wine_up "$build/x86_64/wineprefix-bench"
trap wine_down EXIT
cd "$build/x86_64/bin"
for bench in *_bench.exe; do
    name=${bench%.exe}
    if [ $# -gt 0 ] && ! printf '%s\n' "$name" | grep -q -e "$(printf '%s\n' "$@")"; then
        continue
    fi
    echo "== $name"
    wine "./$bench" </dev/null || echo "$name: FAILED (exit $?)"
done
