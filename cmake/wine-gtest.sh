#!/usr/bin/env bash
# Runs a GoogleTest program under Wine for ctest. A case passes only when the program exits 0 and its own
# verdict line says one case passed or was skipped: a program that ends early with exit code 0 (a process
# ended from inside, or a test redirect gone wrong) must not count as a pass.
case " $* " in
    *" --gtest_list_tests "*) exec wine "$@" ;;
esac
# The program writes to a file, never to a pipe: a process Wine starts on its behalf and keeps for the whole
# server's life (the desktop, explorer.exe) inherits its output, and a pipe would stay open, holding ctest, until
# the desktop closes once nothing else runs.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
[ "$rc" -eq 0 ] || exit "$rc"
if ! grep -q -E '^\[  (PASSED  |SKIPPED )\] [1-9]' "$out"; then
    echo "wine-gtest: the program exited 0 without saying that a case passed"
    exit 1
fi
