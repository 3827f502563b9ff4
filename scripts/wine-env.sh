# Sourced: gives the caller a fresh Wine prefix under the build tree and one server kept alive.
# Call wine_up before running Windows programs and wine_down when done.
wine_up() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wineserver -p
    # The first program after a fresh server hangs unless something has run before it.
    wine cmd /c exit </dev/null >/dev/null 2>&1
}

wine_down() {
    wineserver -k 2>/dev/null || true
}
