#!/usr/bin/env bash
# Runs test programs whole, every case of each in one process and in order, as a person runs one by hand: a case
# that depends on what an earlier one loaded or left behind fails here, where ctest (one process per case) hides it.
# Runs under the caller's Wine and test bed (scripts/test.sh calls it once ctest passed).
#   whole-programs.sh BIN_DIR [PROGRAM ...] [-- PROGRAM_ARGUMENTS ...]
# PROGRAM is a test program's name without ".exe"; none named means the fast ones below. The arguments go to every
# program (e.g. --gtest_repeat=2). A program passes as ctest judges a case (cmake/wine-gtest.sh): exit code 0 and its
# own verdict line; its output is shown only when it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:?usage: $0 BIN_DIR [PROGRAM ...] [-- PROGRAM_ARGUMENTS ...]}
shift

# Measured whole on the bed: each of these runs in about a second or less. The others start SAP fixtures, services
# or servers and take from ten seconds to minutes; ctest runs their cases in parallel.
fast=(qlib_core_tests qlib_net_tests kito_repository_tests kito_repository_alloc_tests kito_inventory_tests
    kito_view_tests kito_discovery_tests kito_logger_tests kito_utils_tests trigger_tests)

programs=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    programs+=("$1")
    shift
done
[ $# -eq 0 ] || shift
[ ${#programs[@]} -gt 0 ] || programs=("${fast[@]}")

cd "$bin"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
failed=()
for program in "${programs[@]}"; do
    start=$SECONDS
    if "$root/cmake/wine-gtest.sh" "./$program.exe" "$@" </dev/null >"$out" 2>&1; then
        echo "whole: $program passed ($((SECONDS - start)) s)"
    else
        cat "$out"
        echo "whole: $program FAILED ($((SECONDS - start)) s)"
        failed+=("$program")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "whole: failed when run whole: ${failed[*]}"
    exit 1
fi
