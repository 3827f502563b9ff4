#!/usr/bin/env bash
# The main job: a scripted demonstration of the built binaries on the stand-ins, under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

. "$root/scripts/wine-env.sh"
wine_up "$build/x86_64/wineprefix-demo"
trap wine_down EXIT
cd "$build/x86_64/bin"
wine tollandemo.exe </dev/null
