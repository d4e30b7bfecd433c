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
    # Each start is awaited until it has happened (30 s at most on a busy machine): a test that
    # ran before its manager had the screen would see no hints at all.
    for _ in $(seq 600); do [ -s "$tmp" ] && break; sleep 0.05; done
    display=:$(head -n1 "$tmp")
    rm -f "$tmp"
    if [ "$display" = ":" ]; then
        echo "FAIL - Xvfb did not start"
        kill "$xvfb" 2>/dev/null
        failures=$((failures + 1))
        continue
    fi
    # xfwm4 reads its settings over D-Bus: it gets a session bus of its own.
    home=$(mktemp -d)
    case $wm in
    xfwm4) DISPLAY=$display HOME=$home setsid dbus-run-session -- xfwm4 --compositor=off >/dev/null 2>&1 & ;;
    *) DISPLAY=$display HOME=$home setsid "$wm" >/dev/null 2>&1 & ;;
    esac
    wmpid=$!
    # The manager is ready once it has claimed the screen's selection.
    ready=0
    for _ in $(seq 600); do
        if DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
            ready=1
            break
        fi
        sleep 0.05
    done
    echo "== $wm"
    if [ $ready -eq 0 ]; then
        echo "FAIL - $wm did not take the screen"
        failures=$((failures + 1))
    else
        DISPLAY=$display QT_QPA_PLATFORM=xcb WINDOW_MANAGER=$wm timeout -k 5 60 "$test_binary" ||
            failures=$((failures + 1))
    fi
    kill -- -"$wmpid" 2>/dev/null
    wait "$wmpid" 2>/dev/null
    rm -rf "$home"
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
done
exit $failures
