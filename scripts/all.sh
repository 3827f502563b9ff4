#!/usr/bin/env bash
# From a fresh machine: install what is missing, build, then run the demonstration ("demo") or every test ("test").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-demo}
case "$what" in
    demo | test) ;;
    *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh" "$what"
"$root/scripts/build.sh"
if [ "$what" = test ]; then
    "$root/scripts/format.sh" --check
fi
exec "$root/scripts/$what.sh"
