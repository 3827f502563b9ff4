#!/usr/bin/env bash
# The virtual machine's cases count on this machine as the guest's ctest judged them: records of a real ctest run,
# each case replayed, its exit code and a line of its output checked.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/CTestTestfile.cmake" <<'CASES'
add_test(Suite.Case "/bin/sh" "-c" "echo output of Suite.Case")
add_test(Suite.Case2 "/bin/sh" "-c" "echo output of Suite.Case2; exit 1")
add_test(Suite.Slow "/bin/sh" "-c" "echo output of Suite.Slow; sleep 30")
set_tests_properties(Suite.Slow PROPERTIES TIMEOUT 1)
add_test(Suite.Unbuilt "/nonexistent/program.exe")
add_test(Suite.Skipped "/bin/sh" "-c" "echo '[  SKIPPED ] 1 test'")
CASES
(cd "$work" && ctest -j 4 >/dev/null 2>&1)
mkdir "$work/results"
cp "$work"/Testing/Temporary/LastTest*.log "$work/results/"

# name | exit code | a line of the output shown
rows=(
    "Suite.Case|0|output of Suite.Case"
    "Suite.Case2|1|output of Suite.Case2"
    "Suite.Slow|1|output of Suite.Slow"
    "Suite.Unbuilt|1|"
    "Suite.Skipped|0|[  SKIPPED ] 1 test"
    "Suite.Missing|1|replay: the virtual machine's ctest record holds no case Suite.Missing"
)
failed=0
for row in "${rows[@]}"; do
    IFS='|' read -r name expected line <<<"$row"
    output=$("$root/scripts/vm32/replay.sh" "$work/results" "$name")
    code=$?
    if [ "$code" -ne "$expected" ] || { [ -n "$line" ] && ! grep -qxF -- "$line" <<<"$output"; }; then
        echo "FAILED $name: exit code $code (expected $expected), output:"
        echo "$output"
        failed=1
    fi
done
exit "$failed"
