#!/usr/bin/env bash
# The main job: a scripted demonstration of the built binaries on the stand-ins, under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

. "$root/scripts/wine-env.sh"
wine_up "$build/x86_64/wineprefix-demo"
trap wine_down EXIT
cd "$build/x86_64/bin"

step() { printf '\n\n==== %s\n' "$*"; }

step "1. System-object library: one operation traced per thread, dumped through the base sink"
wine tollandemo.exe </dev/null

step "2. Preonline trigger on a two-node cluster (demo.desc): PRD_ERS02, the replication server, runs on NODE2"
for run in "NODE1 PRD_ASCS FAULT" "NODE2 PRD_ERS FAULT"; do
    rm -f trigger-demo.journal
    set +e
    # shellcheck disable=SC2086
    TARN_CLUSTER_DESC=demo.desc TARN_JOURNAL=trigger-demo.journal wine tollanpreonline.exe $run </dev/null
    code=$?
    set -e
    echo "tollanpreonline $run -> exit code $code"
    echo "  messages it logged to the cluster:"
    grep -E '^log ' trigger-demo.journal | sed 's/^/    /'
    echo "  groups it brought online:"
    grep -E '^online ' trigger-demo.journal | sed 's/^/    /' || echo "    none"
done

step "3. Agent framework stand-in loads Tollan.dll"
set +e
TARN_CLUSTER_DESC=demo.desc wine tarnaghost.exe --desc demo.desc --journal agent-demo.journal Tollan.dll demo.script </dev/null
echo "tarnaghost -> exit code $?"
set -e
