#!/bin/bash
# 100 listed cards ask while 50,000 card requests/s from foreign MACs flood port 67: the helper
# drops the foreign ones before its ledger and its link (it passes on only the first 100 MACs,
# once each, to be named), so every listed card is answered at its first request. In
# namespaces this test makes.
#   flood_netns.sh SOURCE_DIR ASSIGN CARDSIM
set -u
SOURCE_DIR=$1
ASSIGN=$2
CARDSIM=$3
# shellcheck source=../support/netns.sh
source "$SOURCE_DIR/tests/support/netns.sh"
WORK=$(mktemp -d)
chmod 755 "$WORK"
NETNS_ON_EXIT='rm -rf "$WORK"'
netns_setup "tvfl$$" || exit 1
CARDS=100

{
    echo "mac,ip,mask,gateway"
    for ((i = 0; i < CARDS; i++)); do
        printf '02-00-00-00-%02X-%02X,10.77.0.%d,255.255.255.0,10.77.0.254\n' \
            $(((0x1000 + i) >> 8)) $(((0x1000 + i) & 255)) $((20 + i))
    done
} >"$WORK/cards.csv"

ip netns exec "$NETNS_PC" "$ASSIGN" --list "$WORK/cards.csv" --interface tvpc0 --confirm none \
    --timeout 20 --format json >"$WORK/assign.out" 2>"$WORK/assign.err" &
assign_pid=$!
for _ in $(seq 50); do
    [ -n "$(ip netns exec "$NETNS_PC" ss -Hlun 'sport = :67')" ] && break
    sleep 0.1
done
ip netns exec "$NETNS_CARD" "$CARDSIM" --interface tvcard0 --flood 50000 --flood-cards \
    --duration 8 --format kv >"$WORK/flood.out" 2>&1 &
flood_pid=$!
sleep 1
ip netns exec "$NETNS_CARD" "$CARDSIM" --interface tvcard0 --cards $CARDS \
    --mac-base 02-00-00-00-10-00 --spread 1 --interval 1 --timeout 6 --format kv \
    >"$WORK/cards.out" 2>&1
wait "$assign_pid"
rc=$?
kill "$flood_pid" 2>/dev/null
wait "$flood_pid" 2>/dev/null

summary=$(grep '^event=summary' "$WORK/cards.out")
answered=$(sed -n 's/.* answered=\([0-9]*\).*/\1/p' <<<"$summary")
requests=$(sed -n 's/^event=\(assigned\|invalid\|timeout\) .* requests=\([0-9]*\).*/\2/p' \
    "$WORK/cards.out" | awk '{ t += $1 } END { print t + 0 }')
named=$(grep -c '"event":"not_listed"' "$WORK/assign.out")
more=$(grep -c '"event":"not_listed_more"' "$WORK/assign.out")
counters=$(grep 'torvane-helper: packet socket:' "$WORK/assign.err")
flood=$(grep '^event=flood' "$WORK/flood.out")
echo "cards: $summary"
echo "flood: $flood"
echo "helper: $counters"
if [ "$rc" -eq 0 ] && [ "$answered" = "$CARDS" ] && [ "$requests" -eq "$CARDS" ] &&
    [ "$named" -ge 1 ] && [ "$named" -le 100 ] && [ "$more" -eq 0 ] && [ -n "$counters" ]; then
    echo "ok: $CARDS listed cards answered at their first request under the flood"
    exit 0
fi
echo "FAIL: exit $rc, $answered/$CARDS answered, $requests requests, $named foreign MACs named ($more more)"
tail -3 "$WORK/assign.out"
exit 1
