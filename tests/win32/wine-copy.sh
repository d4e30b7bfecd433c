# shellcheck shell=bash
# Sourced by the Windows window tests: wine_copy_prefix SOURCE WORK makes WORK afresh with a
# copy of the wine_prefix fixture's prefix in WORK/prefix, once that prefix's wineserver has
# ended, and points Wine at the copy, so that a test's display meets no other test's server.
wine_copy_prefix() {
    local source=$1 work=$2
    [ -f "$source/system.reg" ] || fail "no Wine prefix at $source (the wine_prefix test makes it)"
    WINEPREFIX=$source wineserver -w 2>/dev/null || true
    rm -rf "$work"
    mkdir -p "$work"
    cp -a "$source" "$work/prefix"
    export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset WAYLAND_DISPLAY
}
