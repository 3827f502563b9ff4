#!/usr/bin/env bash
# Runs scripts/test.sh on the 32-bit build inside a small virtual machine, for machines whose kernel runs no 32-bit
# program: QEMU boots the kernel package that install-deps.sh unpacked under the build tree, with a busybox
# initramfs (vm32/init); the guest sees this machine's root read-only, keeps its writes in its own memory, and
# leaves in RESULTS_DIR (made anew) its console (console.log), ctest's records of every case and of the failed ones
# (LastTest.log, LastTestsFailed.log) and test.sh's exit code (test.rc). Arguments after RESULTS_DIR go to test.sh in the guest (e.g. -R Purgekit).
# The checkout, BUILD_DIR and RESULTS_DIR may lie anywhere but below /proc, /sys and /dev, which the guest has of its
# own.
#   vm32/run.sh RESULTS_DIR [TEST_ARGUMENTS ...]
# Exit code: 0 when test.sh passed in the guest, 1 when it failed there, 2 when the guest did not end (a line names
# what hung) or could not start.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
results=$(mkdir -p "${1:?usage: $0 RESULTS_DIR [TEST_ARGUMENTS ...]}" && cd "$1" && pwd)
# Emptied before anything can fail: a record of an earlier run must never be counted for this one.
rm -rf "${results:?}"/*
shift
kernel_dir=$build/vm32/kernel
# Measured without an accelerator, 8 CPUs: boot 2 s, a fresh Wine prefix under 2 min, the 32-bit cases 5 min (10 on
# a slower machine with 6). A guest past this has hung; the run ends with a line saying where, long before CI's limit.
limit=${VM32_LIMIT:-1800}

fail() {
    echo "32-bit virtual machine: $*" >&2
    exit 2
}

# Where the guest finds PATH: its real place, links resolved as here, since the guest resolves an absolute link
# from its own root; refused below the file systems the guest mounts anew, which would hide it.
guest_path() {
    local place
    place=$(realpath -m "$1")
    case "$place/" in
        /proc/* | /sys/* | /dev/*) fail "cannot show $1 to the guest: it lies at $place, below /proc, /sys or /dev" ;;
    esac
    echo "$place"
}

# The modules the guest needs before it can mount anything, with what they need (modules.dep lists the whole
# closure on each line), and busybox as every command.
make_initramfs() {
    local dir=$1 version=$2 modules=$kernel_dir/lib/modules/$2 module file
    rm -rf "$dir"
    mkdir -p "$dir/bin" "$dir/proc" "$dir/sys" "$dir/dev" "$dir/lib/modules/$version"
    cp "$(command -v busybox)" "$dir/bin/busybox"
    ln -s busybox "$dir/bin/sh"
    install -m 755 "$root/scripts/vm32/init" "$dir/init"
    cp "$modules/modules.dep" "$dir/lib/modules/$version/"
    for module in virtio_pci 9pnet_virtio 9p overlay; do
        for file in $(grep -E "(^|/)$module\.ko:" "$modules/modules.dep" | tr -d :); do
            mkdir -p "$dir/lib/modules/$version/$(dirname "$file")"
            cp "$modules/$file" "$dir/lib/modules/$version/$file"
        done
    done
    (cd "$dir" && find . | busybox cpio -o -H newc 2>/dev/null) >"$dir.img"
}

last_line() {
    # The guest's own last word, rather than the kernel's lines (its power-down among them) that follow it.
    tr -d '\r' <"$results/console.log" | awk '/^ *$/ { next } { any = $0 } !/^\[ *[0-9]+\.[0-9]+\]/ { own = $0 }
        END { print (own != "" ? own : any) }'
}

# What the guest was doing when it had to be stopped, from its console: the case ctest started and never ended,
# else its last mark or line.
what_hung() {
    local console started ended
    console=$(tr -d '\r' <"$results/console.log")
    started=$(sed -n 's/^ *Start *\([0-9]*\): \(.*\)$/\1 \2/p' <<<"$console" | sort)
    ended=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#\([0-9]*\): \([^ ]*\) .*$/\1 \2/p' <<<"$console" | sort)
    started=$(comm -23 <(echo "$started") <(echo "$ended") | cut -d' ' -f2 | tr '\n' ' ')
    if [ -n "${started// /}" ]; then
        echo "in ctest, cases started and not ended: $started"
    elif grep -q '^Total Test time' <<<"$console"; then
        echo "after ctest, at: $(grep -E '^whole:' <<<"$console" | tail -1)"
    else
        echo "before ctest began; its last line: $(last_line)"
    fi
}

root=$(guest_path "$root") || exit 2
build=$(guest_path "$build") || exit 2
results=$(guest_path "$results") || exit 2
vmlinuz=$(ls "$kernel_dir"/boot/vmlinuz-* 2>/dev/null | head -1 || true)
[ -n "$vmlinuz" ] || fail "no kernel under $kernel_dir (scripts/install-deps.sh unpacks one)"
version=${vmlinuz##*/vmlinuz-}
case "$root$build$results" in
    *[[:space:]]*) fail "the repository, build and results paths must hold no blank" ;;
esac
make_initramfs "$build/vm32/initramfs" "$version"
modules=$(realpath "$kernel_dir/lib/modules/$version")
printf '%s=%q\n' repo "$root" build "$build" results "$results" modules "$modules" version "$version" tests "$*" \
    >"$results/guest.env"

cpus=$(nproc)
[ "$cpus" -le 8 ] || cpus=8
memory=$(($(awk '/^MemTotal:/ { print $2 }' /proc/meminfo) / 2048))
[ "$memory" -le 8192 ] || memory=8192
share=security_model=none,multidevs=remap
echo "32-bit virtual machine: $cpus CPUs, $memory MiB; its console follows, prefixed with 'vm32|'"
: >"$results/console.log"
start=$SECONDS
# Emulated: the machines this is for have no accelerator (and one seen here offered /dev/kvm and hung in it).
# QEMU's emulation faults the iretq of Wine's 32-bit system-call return on a CPU with SMAP.
timeout -k 10 "$limit" qemu-system-x86_64 -accel tcg -cpu max,-smap -smp "$cpus" -m "$memory" \
    -kernel "$vmlinuz" -initrd "$build/vm32/initramfs.img" -append "console=ttyS0 quiet panic=-1" \
    -display none -monitor none -nic none -no-reboot -serial "file:$results/console.log" \
    -virtfs "local,path=/,mount_tag=host,readonly=on,$share" \
    -virtfs "local,path=$results,mount_tag=results,$share" </dev/null >"$results/qemu.log" 2>&1 &
vm=$!
trap 'kill "$vm" 2>/dev/null || true' EXIT
# The console as it comes; the follower ends once the machine has.
tail -n +1 -F --pid="$vm" "$results/console.log" 2>/dev/null | sed -u 's/\r$//; s/^/vm32| /'
code=0
wait "$vm" || code=$?
echo "32-bit virtual machine: ended after $((SECONDS - start)) s"
if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
    fail "hung: no end within $limit s, $(what_hung)"
fi
[ -f "$results/test.rc" ] \
    || fail "ended without running the tests (QEMU's exit code $code): $(tail -3 "$results/qemu.log")"
[ "$(cat "$results/test.rc")" -ne 0 ] || exit 0
[ -f "$results/LastTest.log" ] || fail "scripts/test.sh ended before ctest ran, after: $(last_line)"
exit 1
