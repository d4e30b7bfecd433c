#!/usr/bin/env bash
# The Windows server side under Wine against a simulated card, inside namespaces this test
# makes: win_card_probe.exe runs in the "pc" namespace (its own Wine prefix, so its wineserver
# and every socket live there), torvane-cardsim in the "card" one. The card must get the
# address; the arrival interface must be tvpc0; the neighbour step must say what it could do.
# ROUTE is --second-nic (the pc's default route leaves by another NIC) or --no-default-route:
# either way the reply must go out of tvpc0. Before the card, HELPER_DRIVER sends two requests
# that are no fresh card's (from an address to the broadcast; from an address to the PC's
# address, as a routed host's arrives): both must be skipped. (The kernel under Wine drops a
# datagram from 0.0.0.0 to any other address than 255.255.255.255 itself.)
#   netns_test.sh CARDSIM PROBE_EXE PREFIX_TO_COPY WORK_DIR ROUTE HELPER_DRIVER
set -euo pipefail
cardsim=$1 probe=$2 source_prefix=$3 work=$4 route=$5 driver=$6
# shellcheck source=../support/netns.sh
source "$(dirname "$0")/../support/netns.sh"

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/probe.out" ] && sed 's/^/probe: /' "$work/probe.out" >&2
    [ -s "$work/probe.err" ] && sed 's/^/probe stderr: /' "$work/probe.err" >&2
    exit 1
}
[ -x "$cardsim" ] || fail "no card simulator at $cardsim: build the Linux tree first (TORVANE_LINUX_BUILD)"
[ -f "$probe" ] || fail "no probe at $probe"
[ -f "$source_prefix/system.reg" ] || fail "no Wine prefix at $source_prefix (the wine_prefix test makes it)"

export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The copied prefix gets a wineserver of its own, started inside the namespace.
WINEPREFIX=$source_prefix wineserver -w 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work"
cp -a "$source_prefix" "$work/prefix"

netns_setup "tvwin$$" "$route"
trap '{ wineserver -k 2>/dev/null || true; }; netns_cleanup' EXIT
ifindex=$(ip -n "$NETNS_PC" -o link show tvpc0 | cut -d: -f1)

ip netns exec "$NETNS_PC" wine "$probe" 10.77.0.50 255.255.255.0 10.77.0.254 60 \
    >"$work/probe.out" 2>"$work/probe.err" &
probe_pid=$!
for _ in $(seq 600); do
    grep -q '^event=listening' "$work/probe.out" 2>/dev/null && break
    kill -0 $probe_pid 2>/dev/null || break
    sleep 0.1
done
grep -q '^event=listening' "$work/probe.out" || fail "the probe did not bind port 67"

pc_mac=$(ip netns exec "$NETNS_PC" cat /sys/class/net/tvpc0/address)
ip netns exec "$NETNS_CARD" "$driver" frame tvcard0 10.77.0.9 255.255.255.255 ff:ff:ff:ff:ff:ff \
    02-00-00-00-00-21 frame tvcard0 10.77.0.9 10.77.0.1 "$pc_mac" 02-00-00-00-00-22 >/dev/null
card=$(ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --mac 00-0A-1B-C2-3D-FF \
    --interval 1 --timeout 30 --format kv) || fail "the card got no valid reply: $card"
probe_status=0
wait $probe_pid || probe_status=$?
tr -d '\r' <"$work/probe.out" >"$work/probe.txt"
mv "$work/probe.txt" "$work/probe.out"
sed 's/^/probe: /' "$work/probe.out"
echo "card: $card"

[ $probe_status -eq 0 ] || fail "the probe ended with status $probe_status"
echo "$card" | grep -q 'event=assigned' || fail "the card reports no assignment"
echo "$card" | grep -q ' address=10.77.0.50 mask=255.255.255.0 gateway=10.77.0.254 server=10.77.0.1 ' || fail "the card got another address"
grep -q "^event=request ifindex=$ifindex mac=00-0A-1B-C2-3D-FF source=0.0.0.0:68 destination=255.255.255.255 " "$work/probe.out" ||
    fail "the request's arrival interface is not tvpc0 ($ifindex), or its destination is not read"
grep -q "^event=skipped mac=02-00-00-00-00-21 source=10.77.0.9 destination=255.255.255.255$" "$work/probe.out" ||
    fail "a request from an address was not skipped"
grep -q "^event=skipped mac=02-00-00-00-00-22 source=10.77.0.9 destination=10.77.0.1$" "$work/probe.out" ||
    fail "a request to the PC's address was not skipped"
grep -q "^event=interface ifindex=$ifindex addresses=10.77.0.1/24$" "$work/probe.out" ||
    fail "tvpc0's address is not read back"
grep -Eq '^event=holder found=1 pid=([0-9]+) self=\1 program=win_card_probe.exe' "$work/probe.out" ||
    fail "the port's holder is not the probe"
# Wine 8 has no CreateIpNetEntry2: the step must say so, and the probe must not abort.
grep -q '^event=neighbour outcome=unsupported call=CreateIpNetEntry2 ' "$work/probe.out" ||
    fail "the neighbour step did not report the missing call"
echo "PASS"
