#!/usr/bin/env bash
# The window-hints test under Xvfb with each window manager in turn: the buttons that the
# manager offers follow from the hints the windows set, and managers read them differently.
set -u
test_binary=$1
shift
failures=0
for wm in "$@"; do
    if ! command -v "$wm" >/dev/null; then
        echo "FAIL - $wm is not installed (scripts/lib/common.sh lists it)"
        failures=$((failures + 1))
        continue
    fi
    tmp=$(mktemp)
    Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp >"$tmp" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$tmp" ] && break; sleep 0.05; done
    display=:$(head -n1 "$tmp")
    rm -f "$tmp"
    # xfwm4 reads its settings over D-Bus: it gets a session bus of its own.
    home=$(mktemp -d)
    case $wm in
    xfwm4) DISPLAY=$display HOME=$home setsid dbus-run-session -- xfwm4 --compositor=off >/dev/null 2>&1 & ;;
    *) DISPLAY=$display HOME=$home setsid "$wm" >/dev/null 2>&1 & ;;
    esac
    wmpid=$!
    # The manager is ready once it has claimed the screen's selection.
    for _ in $(seq 100); do
        DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
    echo "== $wm"
    DISPLAY=$display QT_QPA_PLATFORM=xcb WINDOW_MANAGER=$wm timeout -k 5 60 "$test_binary" ||
        failures=$((failures + 1))
    kill -- -"$wmpid" 2>/dev/null
    wait "$wmpid" 2>/dev/null
    rm -rf "$home"
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
done
exit $failures
