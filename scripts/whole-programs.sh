#!/usr/bin/env bash
# Runs test programs whole, every case of each in one process and in order, as a person runs one by hand: a case
# that depends on what an earlier one loaded or left behind fails here, where ctest (one process per case) hides it.
# Runs under the caller's Wine and test bed (scripts/test.sh calls it once ctest passed).
#   whole-programs.sh BIN_DIR [PROGRAM ...] [-- PROGRAM_ARGUMENTS ...]
# PROGRAM is a test program's name without ".exe"; none named means the fast ones below that BIN_DIR holds (the
# 32-bit build holds only the installer's). The arguments go to every
# program (e.g. --gtest_repeat=2). A program passes as ctest judges a case (cmake/wine-gtest.sh): exit code 0 and its
# own verdict line; its output is shown only when it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:?usage: $0 BIN_DIR [PROGRAM ...] [-- PROGRAM_ARGUMENTS ...]}
shift

# Measured whole on the bed, one after the other after ctest: each of these takes about a second or less (about five
# in all). The others run SAP fixtures, services or many processes and take from two seconds to minutes.
fast=(qlib_core_tests qlib_net_tests qlib_directory_tests kito_repository_tests kito_repository_alloc_tests
    kito_inventory_tests kito_view_tests kito_discovery_tests kito_logger_tests kito_utils_tests tarn_standin_tests
    testbed_tests)

programs=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    programs+=("$1")
    shift
done
[ $# -eq 0 ] || shift
cd "$bin"
if [ ${#programs[@]} -eq 0 ]; then
    for program in "${fast[@]}"; do
        [ ! -f "$program.exe" ] || programs+=("$program")
    done
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
failed=()
for program in "${programs[@]}"; do
    start=${EPOCHREALTIME/./}
    if "$root/cmake/wine-gtest.sh" "./$program.exe" "$@" </dev/null >"$out" 2>&1; then
        echo "whole: $program passed ($(((${EPOCHREALTIME/./} - start) / 1000)) ms)"
    else
        cat "$out"
        echo "whole: $program FAILED ($(((${EPOCHREALTIME/./} - start) / 1000)) ms)"
        failed+=("$program")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "whole: failed when run whole: ${failed[*]}"
    exit 1
fi
