#!/usr/bin/env bash
# One case of the 32-bit build as the virtual machine ran it (scripts/vm32/run.sh), counted by this machine's ctest:
# its output and verdict come from the guest's ctest records in RESULTS_DIR.
#   vm32/replay.sh RESULTS_DIR NAME
results=${1:?usage: $0 RESULTS_DIR NAME}
name=${2:?usage: $0 RESULTS_DIR NAME}
# A case's record runs from "N/M Testing: NAME" to '"NAME" end time:', with its output between the line of dashes
# after "Output:" and "<end of output>".
record=$(awk -v name="$name" '
    !inside && $0 ~ /^[0-9]+\/[0-9]+ Testing: / && substr($0, index($0, ": ") + 2) == name { inside = 1; next }
    inside && index($0, "\"" name "\" end time:") == 1 { exit }
    inside { print }' "$results/LastTest.log")
if [ -z "$record" ]; then
    echo "replay: the virtual machine's ctest record holds no case $name"
    exit 1
fi
echo "$record" | awk '/^Output:$/ { getline; out = 1; next } /^<end of output>$/ { out = 0 } out'
# The record says "Test Passed." even of a case that could not run; ctest's list of failed cases is the verdict.
! cut -d: -f2- "$results/LastTestsFailed.log" 2>/dev/null | grep -qxF "$name"
