#!/usr/bin/env bash
# Formats the product and test sources with the tree's .clang-format; "--check" only reports what differs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^cmake/')
if [ "${1:-}" = "--check" ]; then
    exec clang-format --dry-run --Werror "${files[@]}"
fi
exec clang-format -i "${files[@]}"
