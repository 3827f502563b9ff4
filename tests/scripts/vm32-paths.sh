#!/usr/bin/env bash
# The virtual machine of scripts/vm32 sees a checkout and its build tree wherever they lie here, and says why a run
# could not start: small checkouts of its two scripts, whose guest run only proves what it saw (a boot each, no
# Wine). It needs the kernel that scripts/install-deps.sh unpacks where this machine runs no 32-bit program, and
# skips elsewhere.
#   vm32-paths.sh KERNEL_DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
kernel=$(realpath -m "${1:?usage: $0 KERNEL_DIR}")
# command -v succeeds when any one of several names is found: each is asked alone.
if ! ls "$kernel"/boot/vmlinuz-* >/dev/null 2>&1 || ! command -v qemu-system-x86_64 >/dev/null \
    || ! command -v busybox >/dev/null; then
    echo "[  SKIPPED ] no emulator, or no kernel under $kernel: this machine runs 32-bit programs itself"
    exit 77
fi
# The file system mounted for a row lasts as long as this private mount namespace.
if [ -z "${VM32_PATHS_PRIVATE:-}" ]; then
    VM32_PATHS_PRIVATE=1 exec unshare --mount bash "$0" "$@"
fi
work=$(mktemp -d /tmp/vm32-paths.XXXXXX)
below_run=$(mktemp -d /run/vm32-paths.XXXXXX)
below_dev=$(mktemp -d /dev/shm/vm32-paths.XXXXXX)
trap 'umount "$work/mounted"; rm -rf "$work" "$below_run" "$below_dev"' EXIT
mkdir "$work/mounted"
mount -t tmpfs -o size=64m vm32-paths "$work/mounted"

# A checkout at DIR with its build tree at BUILD: the two scripts, the kernel linked in, a mark for the guest to
# find and, unless SCRIPT is "no", a scripts/test.sh that looks for it.
checkout() {
    local dir=$1 build=$2 script=$3
    mkdir -p "$dir/scripts/vm32" "$build/vm32"
    cp "$root/scripts/vm32/run.sh" "$root/scripts/vm32/init" "$dir/scripts/vm32/"
    ln -s "$kernel" "$build/vm32/kernel"
    touch "$build/build.mark"
    [ "$script" = no ] || cat >"$dir/scripts/test.sh" <<'TEST'
#!/usr/bin/env bash
if [ -f "$BUILD_DIR/build.mark" ]; then
    echo "guest: saw $BUILD_DIR/build.mark"
else
    echo "guest: no $BUILD_DIR/build.mark"
    exit 1
fi
TEST
}

# checkout | its build tree | BUILD_DIR given as this link to the tree ("-": none) | scripts/test.sh | exit code |
# a line of run.sh's output
rows=(
    "$work/below-tmp|$work/below-tmp/build|-|yes|0|guest: saw "
    "$work/linked|$work/mounted/build|$below_run/build|yes|0|guest: saw "
    "$work/no-script|$work/no-script/build|-|no|2|ended before ctest ran, after: /bin/bash: $work/no-script/scripts/test.sh: No such file or directory"
    "$work/shm|$below_dev/build|$work/shm-build|yes|2|lies at $below_dev/build, below /proc, /sys or /dev"
)
failed=0
for row in "${rows[@]}"; do
    IFS='|' read -r dir build link script expected line <<<"$row"
    checkout "$dir" "$build" "$script"
    given=$build
    if [ "$link" != - ]; then
        ln -s "$build" "$link"
        given=$link
    fi
    output=$(BUILD_DIR=$given VM32_LIMIT=300 bash "$dir/scripts/vm32/run.sh" "$dir/results" 2>&1)
    code=$?
    if [ "$code" -ne "$expected" ] || ! grep -qF -- "$line" <<<"$output"; then
        echo "FAILED $dir: exit code $code (expected $expected), output:"
        echo "$output"
        failed=1
    fi
done
exit "$failed"
