# Sourced: gives the caller a fresh Wine prefix under the build tree and one server kept alive.
# Call wine_fixed_layout "$0" "$@" first, before the script does anything, then wine_up before running Windows
# programs and wine_down when done.

# Re-runs the script with address-space randomisation off, for it and everything it starts. Wine's loader maps the
# shared user data at a fixed address, and a randomised program break now and then lands on it: the program dies
# before it starts ("failed to map the shared user data"; about one start in ten thousand here, which is one
# failure in most full test runs). Where the machine forbids the switch, the script runs as it is.
wine_fixed_layout() {
    local personality
    personality=$(cat /proc/self/personality 2>/dev/null || echo 0)
    if [ $((0x$personality & 0x0040000)) -eq 0 ] && setarch "$(uname -m)" -R true 2>/dev/null; then
        exec setarch "$(uname -m)" -R "$@"
    fi
}

# True when this machine runs 32-bit programs: some virtual machines run 64-bit ones only, and there Wine's 32-bit
# loader cannot start at all.
wine_runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Debian's wine command prefers the 32-bit loader whenever it is installed; where it cannot start, every Wine
# command goes through the 64-bit loader instead (64-bit programs run as before, 32-bit ones cannot run).
wine_64bit_only() {
    local shims=$1
    mkdir -p "$shims"
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shims/$name"
        chmod +x "$shims/$name"
    done
    export PATH="$shims:$PATH"
    export WINELOADER=/usr/lib/wine/wine64
}

wine_up() {
    # Wine gives a file name beyond ASCII a Unix name only under a UTF-8 locale: one is set here, whatever the
    # caller's environment holds (C.UTF-8 comes with the C library itself, no locale package needed).
    export LC_ALL=C.UTF-8
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    if ! wine_runs_32bit; then
        echo "This machine cannot run 32-bit programs: Wine runs 64-bit programs only" >&2
        wine_64bit_only "$WINEPREFIX-64bit-only"
    fi
    wineboot -i >/dev/null 2>&1
    # Services get the 30 s of Windows, not Wine's 10 s, to start and to answer a control: a loaded machine
    # must not fail them. The service manager reads it when it next starts, after the wait below.
    wine reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_SZ /d 30000 /f \
        >/dev/null 2>&1
    wineserver -w
    wineserver -p
    # The first program after a fresh server hangs unless something has run before it.
    wine cmd /c exit </dev/null >/dev/null 2>&1
}

wine_down() {
    # The server's folder below the temporary folder, named in the prefix, outlives the server: removed once it ended.
    local dir
    dir=$(cat "${WINEPREFIX:-}/wineserver" 2>/dev/null || true)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    case "$dir" in
        wine-?*) rm -rf "${TMPDIR:-/tmp}/$dir" ;;
    esac
}
