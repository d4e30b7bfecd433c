#!/usr/bin/env bash
# Makes a fresh Wine prefix for the Windows tests (or ends its wineserver with --end). Nothing
# left on the machine is used: the prefix is removed and made again, without the Mono and
# Gecko installers' dialogs, and Wine must then run a program, or the test fails loudly.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if [ "${2:-}" = --end ]; then
    [ -d "$prefix" ] && { wineserver -k 2>/dev/null || true; }
    exit 0
fi

fail() {
    echo "wine-prefix: $*" >&2
    exit 1
}
command -v wine >/dev/null || fail "wine is not installed (packages wine and wine64)"
if [ -d "$prefix" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
fi
mkdir -p "$(dirname "$prefix")"
timeout 180 wineboot --init || fail "wineboot --init failed in $prefix"
timeout 60 wineserver -w || fail "wineserver did not finish the prefix's set-up"
answer=$(timeout 60 wine cmd.exe /c echo wine-ok | tr -d '\r') || fail "Wine cannot start a program"
[ "$answer" = wine-ok ] || fail "Wine's cmd.exe answered '$answer'"
echo "Wine prefix ready: $(wine --version)"
