#!/usr/bin/env bash
# Configures and builds both architectures: build/x64 (everything) and build/i686 (the 32-bit deliverable and its tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

for arch in x86_64 i686; do
    dir=$build/$arch
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$root" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$dir" -j "$(nproc)"
done
