#!/usr/bin/env bash
# Torvane on Wayland. First the sessions in which no Qt platform plugin can work (Wayland
# only, without qt6-wayland, and without a compositor): Torvane's words and status 1, never an
# abort. Then weston, on its X11 backend inside Xvfb so that its key bindings can be pressed:
# the program itself in a session with WAYLAND_DISPLAY only, maximised by weston's binding; the
# program with an X server too, on X11; and the test binary in test namespaces with the
# simulated card (wayland_test).
set -u
test_binary=$1
cardsim=$2
torvane=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/netns.sh"

work=$(mktemp -d)
chmod 700 "$work"
pids=()
# The compositor goes before its X server: weston left without one no longer ends on a TERM.
stop_all() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        for _ in $(seq 40); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.05; done
        kill -9 "${pids[i]}" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$work"
}
NETNS_ON_EXIT=stop_all
trap stop_all EXIT
failures=0
ok() { echo "ok - $1"; }
fail() {
    echo "FAIL - $1"
    [ $# -gt 1 ] && printf '%s\n' "$2" | sed 's/^/    /'
    failures=$((failures + 1))
}

# Status and words of a start that cannot open a window.
refused() { # label, expected words, command...
    local label=$1 words=$2 out status
    shift 2
    out=$("$@" 2>&1)
    status=$?
    if [ $status -eq 1 ] && grep -qF -- "$words" <<<"$out"; then ok "$label"; else
        fail "$label: status 1 and \"$words\"" "status $status: $out"; fi
}

# A session as the program sees it: no X server, the runtime folder of the test.
session() { # LANG, variables and command
    env -u DISPLAY -u QT_QPA_PLATFORM -u QT_PLUGIN_PATH -u QT_QPA_PLATFORM_PLUGIN_PATH \
        XDG_RUNTIME_DIR="$work" LANG="$@"
}

# Without qt6-wayland: its platform folder, as the package leaves it, without the plugin.
platforms=$(dirname "$(find /usr/lib -path '*qt6/plugins/platforms/libqxcb.so' | head -n1)")
mkdir "$work/platforms"
find "$platforms" -maxdepth 1 -name '*.so' ! -name 'libqwayland*' -exec cp {} "$work/platforms/" \;
without_wayland_plugin=(unshare --mount --propagation private
    sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' sh "$work/platforms" "$platforms")
refused "Wayland only, without qt6-wayland: the package is named" \
    "sudo apt-get install qt6-wayland" \
    session C.UTF-8 WAYLAND_DISPLAY=wayland-0 "${without_wayland_plugin[@]}" timeout -k 5 30 "$torvane"
refused "Wayland only, without qt6-wayland: in English too" \
    "Showing windows on Wayland needs Qt's Wayland plugin" \
    session en_US.UTF-8 WAYLAND_DISPLAY=wayland-0 "${without_wayland_plugin[@]}" timeout -k 5 30 "$torvane"
refused "Wayland only, no compositor: the display is named" \
    "画面に接続できません (WAYLAND_DISPLAY=nowhere)" \
    session C.UTF-8 WAYLAND_DISPLAY=nowhere timeout -k 5 30 "$torvane"

# weston on Xvfb.
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb" 2>/dev/null &
pids+=($!)
for _ in $(seq 600); do [ -s "$work/xvfb" ] && break; sleep 0.05; done
xdisplay=:$(head -n1 "$work/xvfb")
DISPLAY=$xdisplay XDG_RUNTIME_DIR="$work" weston --backend=x11-backend.so --socket=weston \
    --width=1024 --height=768 --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do [ -S "$work/weston" ] && break; sleep 0.05; done
if ! [ -S "$work/weston" ]; then
    fail "weston started" "$(cat "$work/weston.log")"
    exit $failures
fi
# weston's window takes the keys that the test presses.
DISPLAY=$xdisplay xdotool mousemove 512 400

# The program as installed: Wayland natively with WAYLAND_DISPLAY only, and weston's maximise
# binding on its main window, which has the keyboard once shown.
session C.UTF-8 WAYLAND_DISPLAY=weston WAYLAND_DEBUG=1 "$torvane" 2>"$work/torvane.log" &
program=$!
pids+=($program)
# Shown and given the keyboard: a configure with a state (activated).
for _ in $(seq 400); do grep -qE 'xdg_toplevel@[0-9]+\.configure\([0-9]+, [0-9]+, array\[[1-9]' \
    "$work/torvane.log" && break; sleep 0.05; done
# A key pressed while weston is busy may be lost: pressed again until it has acted.
for _ in 1 2 3; do
    DISPLAY=$xdisplay xdotool key super+shift+m
    for _ in $(seq 60); do grep -q 'unset_fullscreen' "$work/torvane.log" && break 2; sleep 0.05; done
done
sleep 0.5
if kill -0 $program 2>/dev/null && grep -q 'set_fullscreen' "$work/torvane.log" &&
    grep -q 'unset_fullscreen' "$work/torvane.log"; then
    ok "torvane on Wayland only: maximised by weston, back to normal, still running"
else
    fail "torvane on Wayland only survives weston's maximise binding" \
        "$(grep -E 'error|configure\(|_fullscreen|maximized' "$work/torvane.log" | tail -n 20)"
fi
kill $program 2>/dev/null
wait $program 2>/dev/null

# With an X server as well (XWayland on a desktop), the windows open on X11.
env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work" LANG=C.UTF-8 DISPLAY=$xdisplay WAYLAND_DISPLAY=weston \
    WAYLAND_DEBUG=1 "$torvane" 2>"$work/torvane-x.log" &
program=$!
pids+=($program)
if DISPLAY=$xdisplay timeout 20 xdotool search --sync --onlyvisible --pid $program >/dev/null &&
    ! grep -q 'xdg_toplevel' "$work/torvane-x.log"; then
    ok "torvane with DISPLAY and WAYLAND_DISPLAY: its window is an X11 one"
else
    fail "torvane with DISPLAY and WAYLAND_DISPLAY opens on X11" "$(tail -n 5 "$work/torvane-x.log")"
fi
kill $program 2>/dev/null
wait $program 2>/dev/null

# The windows' whole road in test namespaces.
netns_setup "tvw$$"
echo "== wayland_test"
ip netns exec "$NETNS_PC" env -u DISPLAY CARD_NS="$NETNS_CARD" CARDSIM="$cardsim" \
    QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY="$work/weston" XDG_RUNTIME_DIR="$work" \
    XVFB_DISPLAY="$xdisplay" QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
    timeout -k 5 150 "$test_binary" || failures=$((failures + 1))
exit $failures
