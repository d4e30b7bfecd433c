#!/bin/bash
# torvane-assign --temporary-address against the real helper in test namespaces: a card given
# an address outside every network of the PC's NIC is checked through a temporary address,
# which is gone when the run ends; without the option the run is as before.
#   temporary_netns.sh SOURCE_DIR ASSIGN CARDSIM
set -u
export LC_ALL=en_GB.UTF-8 LANGUAGE= 2>/dev/null
ASSIGN=$2
CARDSIM=$3
source "$1/tests/support/netns.sh"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

netns_setup "tvat$$" --pc-no-address
work=$(mktemp -d)
NETNS_ON_EXIT='rm -rf "$work"'
mac=$(ip -n "$NETNS_CARD" -br link show tvcard0 | awk '{print $3}')

card() { # the card's address
    ip netns exec "$NETNS_CARD" "$CARDSIM" --interface tvcard0 --interval 0.5 --timeout 20 \
        --serve-http --serve-seconds 20 --format kv >"$work/card" 2>&1 &
}
card
ip netns exec "$NETNS_PC" "$ASSIGN" --mac "$mac" --ip 192.168.0.20 --mask 255.255.255.0 \
    --gateway 0.0.0.0 --interface tvpc0 --temporary-address --confirm-timeout 15 \
    --timeout 30 --format json >"$work/with" 2>&1
rc=$?
wait
grep -q '"event":"temporary".*"address":"192.168.0.254"' "$work/with" &&
    pass "the temporary address is taken" || fail "no temporary event: $(cat "$work/with")"
[ $rc -eq 0 ] && grep -q '"event":"confirmed"' "$work/with" &&
    pass "the card's page is checked through it" || fail "exit $rc: $(cat "$work/with")"
ip -n "$NETNS_PC" -4 addr show dev tvpc0 | grep -q 192.168.0 &&
    fail "the temporary address outlived the run" || pass "gone after the run"
ip -n "$NETNS_PC" -4 route | grep -q 192.168.0.20 &&
    fail "its route outlived the run" || pass "its route too"

# Without the option: no temporary address, and the card cannot be checked from here.
card
ip netns exec "$NETNS_PC" "$ASSIGN" --mac "$mac" --ip 192.168.0.21 --mask 255.255.255.0 \
    --gateway 0.0.0.0 --interface tvpc0 --confirm-timeout 3 --timeout 30 \
    --format json >"$work/without" 2>&1
rc=$?
wait
grep -q '"temporary"' "$work/without" && fail "a temporary address without the option" ||
    pass "without the option no temporary address"
[ $rc -eq 1 ] && grep -q '"event":"unconfirmed"' "$work/without" &&
    pass "and the report is as before" || fail "exit $rc: $(cat "$work/without")"

echo "$failures failure(s)"
[ $failures -eq 0 ]
