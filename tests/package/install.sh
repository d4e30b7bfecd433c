#!/usr/bin/env bash
# The Debian package on this machine, the way an operator uses it: dpkg installs it, the
# postinst creates the group torvane and gives the helper (root:torvane 0750) its two
# capabilities, /usr/bin/torvane none; a fresh user, added to the group, runs the installed
# program under Xvfb inside test namespaces, with torvane-cardsim as the card. Through the
# helper, the user's Torvane must bind port 67, write the card's neighbour entry and show the
# card's page in the browser window with the web engine's sandbox on; no process but the
# helper holds a capability, and a plugin slipped into Qt runs without any. Everything is
# removed afterwards: the package (purged), the user and the namespaces.
# Usage: install.sh BUILD_DIR VERSION     (root; exit 77 = skipped, never under CI=true)
set -u
build=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)

failures=0
ok() { echo "ok   - $1"; }
fail() {
    echo "FAIL - $1"
    [ $# -gt 1 ] && [ -n "$2" ] && echo "$2" | sed 's/^/       /'
    failures=$((failures + 1))
}
# A precondition that does not hold: CI must see a failure, a developer's machine a skip.
cannot() {
    echo "cannot run: $1" >&2
    [ "${CI:-}" = true ] && exit 1
    exit 77
}
die() {
    echo "FAIL - $1" >&2
    [ $# -gt 1 ] && echo "$2" | sed 's/^/       /' >&2
    exit 1
}
# Polls a command for up to $1 tenths of a second.
wait_for() {
    local tenths=$1 i
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

[ "$(id -u)" -eq 0 ] || cannot "installing a package needs root"
for tool in dpkg cpack getcap useradd userdel setpriv xvfb-run xdotool ss ip; do
    command -v "$tool" >/dev/null || die "$tool is missing (see PACKAGES in scripts/lib/common.sh)"
done
# Never touch an operator's own installation.
if dpkg-query -W -f='${Status}' torvane 2>/dev/null | grep -qv 'not-installed'; then
    die "a torvane package is already installed on this machine; remove it first (dpkg --purge torvane)"
fi
helper=/usr/libexec/torvane/torvane-helper
for f in /usr/bin/torvane /usr/bin/torvane-cardsim /usr/bin/torvane-assign "$helper"; do
    [ -e "$f" ] && die "$f exists outside any package; the test will not overwrite it"
done

tmp=$(mktemp -d /tmp/torvane-package.XXXXXX)
chmod 711 "$tmp"
user=tvpkg$$
installed=0
cleanup() {
    [ -n "${app_pgid:-}" ] && kill -KILL -- "-$app_pgid" 2>/dev/null
    [ -n "${card_pid:-}" ] && kill -KILL "$card_pid" 2>/dev/null
    if [ $installed -eq 1 ]; then
        dpkg --purge torvane >/dev/null 2>&1 || echo "warning: dpkg --purge torvane failed" >&2
    fi
    if id "$user" >/dev/null 2>&1; then
        pkill -KILL -u "$user" 2>/dev/null
        userdel -r "$user" >/dev/null 2>&1 || userdel "$user" >/dev/null 2>&1
    fi
    rm -rf "$tmp"
}
NETNS_ON_EXIT=cleanup
trap cleanup EXIT

# --- The package -----------------------------------------------------------------------
if ! out=$(cd "$build" && cpack -G DEB -B "$tmp/deb" 2>&1); then
    die "cpack builds the package" "$out"
fi
deb=$(ls "$tmp"/deb/torvane_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || die "cpack builds the package" "$out"
ok "cpack builds $(basename "$deb") ($(stat -c %s "$deb") bytes)"
revision=$(dpkg-deb -f "$deb" Version)
if [[ $revision =~ ^$version-[1-9][0-9]*$ ]]; then ok "the package's version $revision has a revision"; else
    fail "the package's version has a revision ($version-N)" "Version: $revision"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libqt6webenginewidgets6 libqt6webenginecore6 fonts-ipafont-gothic \
    fonts-liberation2 fonts-urw-base35 libcap2-bin qt6-qpa-plugins qt6-translations-l10n; do
    if grep -qE "(^|, )$dep( |,|$)" <<<"$depends"; then ok "the package depends on $dep"; else
        fail "the package depends on $dep" "Depends: $depends"; fi
done

recommends=$(dpkg-deb -f "$deb" Recommends)
if grep -qE "(^|, )qt6-wayland( |,|$)" <<<"$recommends"; then ok "the package recommends qt6-wayland"; else
    fail "the package recommends qt6-wayland" "Recommends: $recommends"; fi

installed=1 # from here on, whatever dpkg left behind is purged on exit
if ! out=$(dpkg -i "$deb" 2>&1); then
    die "dpkg -i installs the package (all dependencies are present on a test machine)" "$out"
fi
ok "dpkg -i installs the package"
caps=$(getcap "$helper")
if grep -qE '[ ,]cap_net_admin[,=+]' <<<"$caps" && grep -qE '[ ,]cap_net_bind_service[,=+]' <<<"$caps" &&
    grep -qE '[ ,]cap_net_raw[,=+]' <<<"$caps" && grep -qE '[=+]ep$' <<<"$caps"; then
    ok "the postinst gave the helper cap_net_bind_service, cap_net_admin and cap_net_raw"
else
    fail "the postinst gave the helper cap_net_bind_service, cap_net_admin and cap_net_raw" "getcap: ${caps:-(nothing)}"
fi
mode=$(stat -c '%a %U %G' "$helper")
if [ "$mode" = "750 root torvane" ]; then ok "the helper is 0750 root:torvane"; else
    fail "the helper is 0750 root:torvane" "$mode"; fi
for f in /usr/bin/torvane /usr/bin/torvane-cardsim /usr/bin/torvane-assign; do
    if [ -z "$(getcap "$f")" ]; then ok "$f carries no capability"; else
        fail "$f carries no capability" "$(getcap "$f")"; fi
done
page=$(man -w torvane 2>&1)
if [ "$page" = /usr/share/man/man1/torvane.1.gz ]; then ok "man finds torvane(1)"; else
    fail "man finds torvane(1)" "$page"; fi

# --- The operator: a fresh unprivileged user -------------------------------------------
home=$tmp/home
useradd -m -d "$home" -s /bin/sh -U "$user" >/dev/null 2>&1 || die "useradd $user: cannot create the test user"
# As the postinst tells the operator; --init-groups below is the new login.
usermod -aG torvane "$user" || die "usermod -aG torvane $user"
uid=$(id -u "$user")
gid=$(id -g "$user")
install -d -m 700 -o "$uid" -g "$gid" "$home/run"
# A clean environment as a desktop session would give it; nothing of root's leaks in.
as_user() {
    setpriv --reuid="$uid" --regid="$gid" --init-groups \
        env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$home/run" "$@"
}

out=$(as_user timeout 10 /usr/bin/torvane --version 2>&1)
if grep -qw -- "$version" <<<"$out"; then
    ok "torvane --version prints $version without a display"
else
    fail "torvane --version prints $version without a display" "$out"
fi
if out=$(as_user timeout 10 /usr/bin/torvane --help 2>&1) && grep -q -- --version <<<"$out"; then
    ok "torvane --help works without a display"
else
    fail "torvane --help works without a display" "$out"
fi

# --- The card road, inside namespaces --------------------------------------------------
source "$here/../support/netns.sh"
netns_setup "tvpk$$"
app_log=$tmp/torvane.log
# The probe plugin, where the test user can read it, and the file it reports to.
probe_dir=$tmp/plugins
mkdir -p "$probe_dir" && cp -r "$build/tests/package/probe/generic" "$build/tests/package/probe/platforms" "$probe_dir/"
probe_out=$tmp/probe.out
install -m 666 /dev/null "$probe_out"
chmod -R a+rX "$probe_dir"
card_log=$tmp/cardsim.log
display_file=$home/display
# The web engine needs no GPU under Xvfb; without --disable-gpu it hangs now and then. The
# flag leaves the sandbox alone.
setsid ip netns exec "$NETNS_PC" setpriv --reuid="$uid" --regid="$gid" --init-groups \
    env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    XDG_RUNTIME_DIR="$home/run" QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu \
    QT_PLUGIN_PATH="$probe_dir" QT_QPA_GENERIC_PLUGINS=tvprobe TVPROBE_OUT="$probe_out" TVPROBE_LINK=tvpc0 \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    sh -c 'echo "$DISPLAY $XAUTHORITY" >"$1"; exec /usr/bin/torvane' - "$display_file" \
    >"$app_log" 2>&1 &
app_pgid=$!
wait_for 100 test -s "$display_file" || die "Xvfb starts for the test user" "$(cat "$app_log")"
read -r display xauthority <"$display_file"
x() {
    ip netns exec "$NETNS_PC" setpriv --reuid="$uid" --regid="$gid" --init-groups \
        env -i HOME="$home" PATH=/usr/bin:/bin DISPLAY="$display" XAUTHORITY="$xauthority" \
        timeout 20 xdotool "$@"
}
main_win=$(x search --sync --onlyvisible --name '^Torvane$' 2>/dev/null | head -1)
[ -n "$main_win" ] || die "the main window opens" "$(cat "$app_log")"
app_pid=$(pgrep -u "$uid" -x torvane | head -1)
ok "the main window opens (torvane pid $app_pid, user $user)"
caps_of() { awk '/^CapPrm/ {p=$2} /^CapEff/ {e=$2} END {print p, e}' "/proc/$1/status"; }
if grep -qE "^Uid:\s+$uid\s+$uid" "/proc/$app_pid/status" && [ "$(caps_of "$app_pid")" = "0000000000000000 0000000000000000" ]; then
    ok "torvane runs as $user and holds no capability"
else
    fail "torvane runs as $user and holds no capability" "$(grep -E '^(Uid|Cap)' "/proc/$app_pid/status")"
fi
if grep -qE "^pid=$app_pid CapEff=0000000000000000 mtu=Operation not permitted$" "$probe_out"; then
    ok "a plugin in QT_PLUGIN_PATH runs in torvane without capabilities and cannot change a link"
else
    fail "a plugin in QT_PLUGIN_PATH runs in torvane without capabilities and cannot change a link" \
        "$(cat "$probe_out")"
fi
: >"$probe_out"
ip netns exec "$NETNS_PC" setpriv --reuid="$uid" --regid="$gid" --init-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin DISPLAY="$display" XAUTHORITY="$xauthority" \
    TVPROBE_OUT="$probe_out" TVPROBE_LINK=tvpc0 \
    timeout 20 /usr/bin/torvane -platformpluginpath "$probe_dir/platforms" -platform tvprobe >/dev/null 2>&1
if grep -qE "CapEff=0000000000000000 mtu=Operation not permitted$" "$probe_out"; then
    ok "a platform plugin given by -platformpluginpath runs without capabilities and cannot change a link"
else
    fail "a platform plugin given by -platformpluginpath runs without capabilities and cannot change a link" \
        "$(cat "$probe_out")"
fi

# Start: the window opens centred with nothing else on the screen; click the button.
# Start lies at 360, 1680 twips, 1335 x 375, i.e. its middle at 68, 124 px.
x mousemove --window "$main_win" 68 124 click 1
listening() { ip netns exec "$NETNS_PC" ss -lunpH 'sport = :67' | grep -q '"torvane-helper"'; }
if wait_for 50 listening; then
    ok "Start binds UDP port 67 through the helper as $user"
else
    fail "Start binds UDP port 67 through the helper as $user" "$(ip netns exec "$NETNS_PC" ss -lunp; cat "$app_log")"
fi
# The listener is the helper whose parent is torvane; the writer is its child.
helper_pid=$(pgrep -u "$uid" -x -P "$(pgrep -u "$uid" -x torvane | head -1)" torvane-helper | head -1)
writer_pid=$( [ -n "$helper_pid" ] && pgrep -x -P "$helper_pid" torvane-helper | head -1)
if [ -n "$helper_pid" ] && [ "$(caps_of "$helper_pid")" = "0000000000000000 0000000000000000" ] &&
    grep -qE '^NoNewPrivs:\s+1$' "/proc/$helper_pid/status" && [ ! -s "/proc/$helper_pid/environ" ]; then
    ok "after the bind the helper's listener holds no capability, no new privileges, no environment"
else
    fail "after the bind the helper's listener holds no capability, no new privileges, no environment" \
        "$( [ -n "$helper_pid" ] && grep -E '^(Cap|NoNewPrivs)' "/proc/$helper_pid/status")"
fi
if [ -n "$writer_pid" ] && [ "$(caps_of "$writer_pid")" = "0000000000001000 0000000000001000" ] &&
    grep -qE '^NoNewPrivs:\s+1$' "/proc/$writer_pid/status" && grep -qE '^Seccomp:\s+2$' "/proc/$writer_pid/status"; then
    ok "the helper's neighbour-table writer holds cap_net_admin alone, under its system-call filter"
else
    fail "the helper's neighbour-table writer holds cap_net_admin alone, under its system-call filter" \
        "$( [ -n "$writer_pid" ] && grep -E '^(Cap|NoNewPrivs|Seccomp)' "/proc/$writer_pid/status")"
fi
if ! grep -q "pid=$helper_pid " "$probe_out"; then
    ok "the plugin path given to torvane never reaches the helper"
else
    fail "the plugin path given to torvane never reaches the helper" "$(cat "$probe_out")"
fi

# The card: it serves its page on the address it is given, until Torvane's browser came.
ip netns exec "$NETNS_CARD" /usr/bin/torvane-cardsim --interface tvcard0 --interval 1 \
    --timeout 30 --serve-http --serve-seconds 60 --format kv >"$card_log" 2>&1 &
card_pid=$!
card_mac=$(ip -n "$NETNS_CARD" -br link show tvcard0 | awk '{print $3}')

dialog=$(x search --sync --onlyvisible --name 'アドレス未設定カード検出' 2>/dev/null | head -1)
[ -n "$dialog" ] || die "the settings dialog opens for the card" "$(cat "$app_log" "$card_log")"
ok "the settings dialog opens for the card"
# The focus starts in the fourth IP box; "100" completes it and moves to Set. Six Tabs lead
# from Set past Cancel and the IP boxes to the first mask box; a completed box advances on
# its own. The confirmation's Yes is Alt+Y.
x windowfocus --sync "$dialog"
x key --delay 60 1 0 0 Tab Tab Tab Tab Tab Tab 2 5 5 2 5 5 2 5 5 0 Tab \
    1 0 Tab 7 7 Tab 0 Tab 2 5 4 Return
sleep 0.5
x key alt+y

if wait_for 100 grep -q 'event=assigned' "$card_log"; then
    ok "the card got its reply: $(grep -o 'event=assigned.*' "$card_log" | head -1)"
else
    fail "the card got its reply" "$(cat "$card_log" "$app_log")"
fi
neigh() { ip -n "$NETNS_PC" neigh show 10.77.0.100 dev tvpc0; }
if wait_for 50 sh -c "ip -n '$NETNS_PC' neigh show 10.77.0.100 dev tvpc0 | grep -qi 'lladdr $card_mac PERMANENT'"; then
    ok "the static neighbour entry 10.77.0.100 -> $card_mac is written"
else
    fail "the static neighbour entry 10.77.0.100 -> $card_mac is written" "$(neigh; cat "$app_log")"
fi

# Five seconds after the reply the browser window shows the card's page: its title is the
# page's, which names the card.
mac_text=$(grep -o 'event=assigned mac=[0-9A-F-]*' "$card_log" | head -1 | sed 's/.*mac=//')
browser=""
for _ in $(seq 40); do
    browser=$(x search --onlyvisible --name "^Web/SNMP Card $mac_text\$" 2>/dev/null | head -1)
    [ -n "$browser" ] && break
    sleep 0.5
done
if [ -n "$mac_text" ] && [ -n "$browser" ]; then
    ok "the browser window shows the card's page \"Web/SNMP Card $mac_text\""
else
    fail "the browser window shows the card's page" "$(cat "$card_log" "$app_log")"
fi

# The sandbox. Nothing on stderr says it is off; and it is really on: the web engine's
# sandboxed processes (seccomp filter on) live in user, PID and network namespaces of their
# own. Without the namespace layer Chromium carries on with the seccomp filter alone, silently.
warnings=$(grep -iE 'no-sandbox|without (its |the )?sandbox|no usable sandbox|sandbox.*(disabled|off|fail)' "$app_log")
if [ -z "$warnings" ]; then ok "no sandbox warning on stderr"; else
    fail "no sandbox warning on stderr" "$warnings"; fi
sandboxed="" isolated=0
for pid in $(pgrep -u "$uid" -f QtWebEngineProcess); do
    grep -qE '^Seccomp:\s+2' "/proc/$pid/status" 2>/dev/null || continue
    sandboxed+=" $pid"
    for ns in user pid net; do
        [ "$(readlink "/proc/$pid/ns/$ns")" != "$(readlink "/proc/$app_pid/ns/$ns")" ] || continue 2
    done
    isolated=$((isolated + 1))
done
if [ -n "$sandboxed" ] && [ "$isolated" -eq "$(wc -w <<<"$sandboxed")" ]; then
    ok "the web engine's sandboxed processes run in namespaces of their own ($isolated)"
else
    fail "the web engine's sandboxed processes run in namespaces of their own" \
        "seccomp-filtered:${sandboxed:- none}; in own user+pid+net namespaces: $isolated"
fi
privileged="" confined=0
for pid in $app_pid $(pgrep -u "$uid" -f QtWebEngineProcess); do
    [ "$(caps_of "$pid" 2>/dev/null)" = "0000000000000000 0000000000000000" ] && continue
    # The namespace sandbox's processes hold capabilities only inside a user namespace of
    # their own, over nothing of the host's.
    if [ "$(readlink "/proc/$pid/ns/user")" != "$(readlink "/proc/$app_pid/ns/user")" ]; then
        confined=$((confined + 1))
    else
        privileged+=" $pid"
    fi
done
if [ -z "$privileged" ]; then ok "torvane and every QtWebEngineProcess in its user namespace hold no capability ($confined only in a sandbox namespace of their own)"; else
    fail "torvane and every QtWebEngineProcess hold no capability" "with capabilities:$privileged"; fi

echo "== torvane's stderr"
sed 's/^/   /' "$app_log"
exit $failures
