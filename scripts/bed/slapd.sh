#!/usr/bin/env bash
# The tests' directory server: slapd on 127.0.0.1:389 with the schema, root entry and data beside this script,
# its configuration and database in DIR (made anew on start, removed on stop). Run inside the test namespace.
# Usage: slapd.sh start DIR | slapd.sh stop DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:-}
dir=${2:-}
[ -n "$dir" ] && [[ $action == start || $action == stop ]] || {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}
url=ldap://127.0.0.1:389/
admin_dn='cn=admin,dc=test,dc=example'
admin_password='bed-admin'

write_config() {
    cat >"$dir/slapd.conf" <<CONF
include /etc/ldap/schema/core.schema
include $here/directory.schema
rootDSE $here/rootdse.ldif
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
modulepath /usr/lib/ldap
moduleload back_mdb
loglevel none

database mdb
maxsize 16777216
suffix "dc=test,dc=example"
rootdn "$admin_dn"
rootpw $admin_password
directory $dir/data
access to * by * read
CONF
}

answers() {
    ldapsearch -x -H "$url" -b '' -s base -LLL defaultNamingContext >/dev/null 2>&1
}

stop() {
    local pid
    pid=$(cat "$dir/slapd.pid" 2>/dev/null || true)
    # A pid file left by a killed run may name a process that is no longer slapd.
    if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = slapd ] && kill "$pid" 2>/dev/null; then
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
}

start() {
    stop # what a killed run may have left
    mkdir -p "$dir/data"
    write_config
    slapadd -q -f "$dir/slapd.conf" -l "$here/directory.ldif"
    slapd -f "$dir/slapd.conf" -h "$url"
    # Up to 30 s: an emulated machine starts it in seconds.
    for _ in $(seq 300); do
        answers && return 0
        sleep 0.1
    done
    echo "slapd does not answer on $url" >&2
    slaptest -f "$dir/slapd.conf" >&2 || true
    stop
    return 1
}

$action
