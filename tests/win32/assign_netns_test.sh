#!/usr/bin/env bash
# torvane-assign.exe under Wine against five simulated cards, inside namespaces this test
# makes: the program runs in the "pc" namespace (a copy of the Wine prefix, so its wineserver
# and every socket live there), each card is a torvane-cardsim on a macvlan of its own in
# "card" and serves its page once it has its address. Every card must get its listed address,
# answer the page check and be in the record; the neighbour step must say that this Windows
# cannot write the entry (Wine 8 lacks CreateIpNetEntry2), and nothing may abort.
#   assign_netns_test.sh CARDSIM ASSIGN_EXE PREFIX_TO_COPY WORK_DIR
set -euo pipefail
cardsim=$1 assign=$2 source_prefix=$3 work=$4
# shellcheck source=../support/netns.sh
source "$(dirname "$0")/../support/netns.sh"

fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/assign.out "$work"/assign.err "$work"/card-*.out; do
        [ -s "$f" ] && sed "s|^|$(basename "$f"): |" "$f" >&2
    done
    exit 1
}
[ -x "$cardsim" ] || fail "no card simulator at $cardsim: build the Linux tree first (TORVANE_LINUX_BUILD)"
[ -f "$assign" ] || fail "no torvane-assign.exe at $assign"
# shellcheck source=wine-copy.sh
source "$(dirname "$0")/wine-copy.sh"
wine_copy_prefix "$source_prefix" "$work"
unset DISPLAY
# A locale this machine has; the JSON reasons checked here are English in every language.
export LANG=C.UTF-8
unset LC_ALL LANGUAGE

netns_setup "tvwas$$"
card_pids=()
stop_all() {
    for pid in "${card_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${card_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    ip netns exec "$NETNS_PC" wineserver -k 2>/dev/null || true
    netns_cleanup
}
trap stop_all EXIT

mac_of() { printf '02:00:00:00:07:%02x' "$1"; }
mac_text() { echo "$1" | tr 'a-f:' 'A-F-'; }
{
    echo "mac,ip,mask,gateway,name"
    for n in 1 2 3 4 5; do
        echo "$(mac_text "$(mac_of "$n")"),10.77.0.$((30 + n)),255.255.255.0,10.77.0.254,rack $n"
    done
} >"$work/cards.csv"
for n in 1 2 3 4 5; do
    ip -n "$NETNS_CARD" link add "cw$n" link tvcard0 address "$(mac_of "$n")" type macvlan mode bridge
    ip -n "$NETNS_CARD" link set "cw$n" up
done

# The wineserver starts inside the pc namespace with the program, so its sockets are there.
ip netns exec "$NETNS_PC" wine "$assign" --list 'Z:'"$work/cards.csv" --record 'Z:'"$work/record.csv" \
    --format json --confirm-timeout 40 --timeout 90 >"$work/assign.out" 2>"$work/assign.err" &
assign_pid=$!
for _ in $(seq 600); do
    grep -q '"event":"started"' "$work/assign.out" 2>/dev/null && break
    kill -0 $assign_pid 2>/dev/null || break
    sleep 0.1
done
grep -q '"event":"started"' "$work/assign.out" || fail "torvane-assign.exe did not start listening"
[ "$(ip netns exec "$NETNS_PC" ss -Hulpn 'sport = :67' | grep -c .)" -ge 1 ] ||
    fail "nothing holds UDP port 67 in the pc namespace"

for n in 1 2 3 4 5; do
    ip netns exec "$NETNS_CARD" "$cardsim" --interface "cw$n" --interval 0.5 --timeout 80 \
        --serve-http --format kv >"$work/card-$n.out" 2>&1 &
    card_pids+=($!)
done
status=0
wait $assign_pid || status=$?
tr -d '\r' <"$work/assign.out" >"$work/assign.txt"
mv "$work/assign.txt" "$work/assign.out"
sed 's/^/assign: /' "$work/assign.out"

[ $status -eq 0 ] || fail "torvane-assign.exe ended with status $status"
while IFS= read -r line; do
    printf '%s\n' "$line" | python3 -m json.tool >/dev/null 2>&1 || fail "not JSON: $line"
done <"$work/assign.out"
[ "$(grep -c '"event":"assigned"' "$work/assign.out")" -eq 5 ] || fail "not five cards assigned"
[ "$(grep -c '"event":"confirmed"' "$work/assign.out")" -eq 5 ] || fail "not five pages answered"
for n in 1 2 3 4 5; do
    grep -q "event=assigned mac=$(mac_text "$(mac_of "$n")") address=10.77.0.$((30 + n)) mask=255.255.255.0 gateway=10.77.0.254 server=10.77.0.1 " \
        "$work/card-$n.out" || fail "card $n did not get 10.77.0.$((30 + n))"
done
[ "$(tail -n +2 "$work/record.csv" | grep -c ',yes,')" -eq 5 ] || fail "the record does not hold five confirmed cards"
# Wine 8 has no CreateIpNetEntry2: each card's warning says so, in words, not a bare code.
[ "$(grep -c '"event":"warning".*CreateIpNetEntry2 is missing' "$work/assign.out")" -eq 5 ] ||
    fail "the missing neighbour call is not reported for every card"
grep -q '"neighbour":false' "$work/assign.out" || fail "an entry is reported as written"

# Ctrl-C (SIGINT reaches the program as the console's CTRL_C_EVENT): the run stops with 130,
# reports what it has done, and the record keeps its five cards.
ip netns exec "$NETNS_PC" wine "$assign" --mac 02-00-00-00-07-09 --ip 10.77.0.39 \
    --mask 255.255.255.0 --gateway 10.77.0.254 --record 'Z:'"$work/record.csv" --format json \
    >"$work/stop.out" 2>"$work/stop.err" &
stop_pid=$!
for _ in $(seq 600); do
    grep -q '"event":"started"' "$work/stop.out" 2>/dev/null && break
    sleep 0.1
done
grep -q '"event":"started"' "$work/stop.out" || fail "the second run did not start"
kill -INT $stop_pid
status=0
wait $stop_pid || status=$?
tr -d '\r' <"$work/stop.out" | sed 's/^/stop: /'
[ $status -eq 130 ] || fail "Ctrl-C ended the run with status $status"
grep -q '"event":"interrupted"' "$work/stop.out" && grep -q '"event":"summary"' "$work/stop.out" ||
    fail "the interrupted run printed no report"
[ "$(tail -n +2 "$work/record.csv" | grep -c ',yes,')" -eq 5 ] || fail "the record lost cards"
echo "PASS"
