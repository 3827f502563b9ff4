#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine; each prints its time against the bare equivalent as a ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-env.sh"
wine_up "$build/x86_64/wineprefix-bench"
trap wine_down EXIT
cd "$build/x86_64/bin"
for bench in kito_installorder_bench; do
    wine "./$bench.exe"
done
