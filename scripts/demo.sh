#!/usr/bin/env bash
# The main job: a scripted demonstration of the built binaries on the stand-ins, under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

# The agent checks the SAP accounts in a directory: the demonstration runs in private namespaces with the bed's
# directory server on their own loopback, and everything it starts ends with them.
. "$root/scripts/bed/namespaces.sh"
bed_enter "$0" "$@"
. "$root/scripts/wine-env.sh"
wine_fixed_layout "$0" "$@"
inside=$bed_inside
directory=$build/x86_64/demobed/slapd

stop_servers() {
    wine_down
    if [ -n "$inside" ]; then
        "$root/scripts/bed/slapd.sh" stop "$directory"
    fi
}
trap stop_servers EXIT
wine_up "$build/x86_64/wineprefix-demo"
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

step "3. One SAP instance's life under the agent, through the framework stand-in"
if [ -z "$inside" ]; then
    echo "skipped: this machine cannot make the private namespaces the directory server runs in"
else
    ip link set lo up
    mkdir -p "$(dirname "$directory")"
    "$root/scripts/bed/slapd.sh" start "$directory" >/dev/null
    # Under Wine every process runs as the Unix user: the directory knows it as the SAP administrator.
    user=$(id -un)
    ldapadd -x -H ldap://127.0.0.1:389/ -D cn=admin,dc=test,dc=example -w bed-admin >/dev/null <<LDIF
dn: cn=$user,cn=Users,dc=test,dc=example
objectClass: user
cn: $user
name: $user
distinguishedName: cn=$user,cn=Users,dc=test,dc=example
sAMAccountName: $user
userAccountControl: 512
objectCategory: person
LDIF
    echo "A fixture ABAP central instance PRD 00 (stand-ins of SAP's programs and its service SAPPRD_00);"
    echo "monitor level 2 every third online cycle (SecondLevelMonitor 3), level 3 the instance's monitor program."
    set +e
    wine sapinstance.exe --set SecondLevelMonitor=3 --set ResLogLevel=INFO --monitor central PRD 00 PRD_DVEBMGS00 \
        instance.desc tarnaghost.exe --directory --messages-only Tollan.dll instance.script </dev/null
    echo "sapinstance -> exit code $?"
    set -e
fi

step "4. Purgekit, as the installer calls it, on a machine with the installer's running service and no installed solution left"
# The installer is a 32-bit program: its service program and files lie where a 32-bit program puts them, and it
# calls the shipped 32-bit library through the 32-bit rundll32 of syswow64.
if wine_runs_32bit; then
    system='C:\windows\syswow64' library=$build/deliverables/Purgekit.dll service=$build/i686/bin/testservice.exe
else
    echo "This machine cannot run 32-bit programs: the 64-bit test build of Purgekit stands in for the shipped one."
    system='C:\windows\system32' library=$PWD/Purgekit.dll service=$PWD/testservice.exe
fi
installer() { wine "$system\\$1" "${@:2}" </dev/null 2>/dev/null | tr -d '\r'; }
unix() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }
programs=$(installer cmd.exe /c 'echo %ProgramFiles%')
packs="$(installer cmd.exe /c 'echo %CommonProgramFiles%')\\Osmark Shared\\Kito\\MaintenancePacks"
mkdir -p "$(unix "$programs\\Osmark\\Kito")" "$(unix "$packs")"
cp "$service" "$(unix "$programs\\Osmark\\Kito\\qzInstaller.exe")"
echo "pack" >"$(unix "$packs\\pack1.txt")"
installer sc.exe create qzInstaller binPath= "\"$programs\\Osmark\\Kito\\qzInstaller.exe\"" >/dev/null
installer sc.exe start qzInstaller >/dev/null
query() {
    local state
    state=$(installer sc.exe query qzInstaller | grep -E 'STATE' | sed 's/  */ /g')
    echo "${state:- the service qzInstaller is not installed}"
}
packsFolder() { [ -d "$(unix "$packs")" ] && echo " $packs is there" || echo " $packs is gone"; }
echo "before:$(query);$(packsFolder)"
echo "> $system\\rundll32.exe Purgekit.dll,Purgekit MaintenancePacks"
installer rundll32.exe "$(wine winepath -w "$library" 2>/dev/null | tr -d '\r'),Purgekit" MaintenancePacks
# A running service that was deleted goes away once it stops.
installer sc.exe stop qzInstaller >/dev/null || true
sleep 1
echo "after it stops:$(query);$(packsFolder)"
log=$(installer cmd.exe /c 'echo %ALLUSERSPROFILE%\qzPurgekit.log')
echo "why, from its log $log:"
iconv -f UTF-16LE -t UTF-8 "$(unix "$log")" | tr -d '\r' \
    | grep -E 'service removed|can be cleaned|cannot be cleaned|not present|successful or not run' | sed 's/^/    /'
