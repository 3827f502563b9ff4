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

step "4. Purgekit on a machine with the installer's running service and no installed solution left"
bin=$(wine winepath -w "$PWD/testservice.exe" 2>/dev/null | tr -d '\r')
wine sc create qzInstaller binPath= "\"$bin\"" </dev/null >/dev/null
wine sc start qzInstaller </dev/null >/dev/null
query() {
    local state
    state=$(wine sc query qzInstaller </dev/null 2>/dev/null | tr -d '\r' | grep -E 'STATE' | sed 's/  */ /g')
    echo "${state:- the service qzInstaller is not installed}"
}
echo "before:$(query)"
wine purgedriver.exe MaintenancePacks </dev/null
# A running service that was deleted goes away once it stops.
wine sc stop qzInstaller </dev/null >/dev/null 2>&1 || true
sleep 1
echo "after it stops:$(query)"
log=$(wine cmd /c 'echo %ALLUSERSPROFILE%\qzPurgekit.log' </dev/null | tr -d '\r')
echo "why, from its log $log:"
iconv -f UTF-16LE -t UTF-8 "$(wine winepath -u "$log" 2>/dev/null | tr -d '\r')" | tr -d '\r' \
    | grep -E 'service removed|can be cleaned|cannot be cleaned|not present|successful or not run' | sed 's/^/    /'
