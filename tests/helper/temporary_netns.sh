#!/usr/bin/env bash
# The helper's temporary address for a card outside the PC's networks, in test namespaces:
# a /32 with a host route to the card alone, reached over HTTP; another NIC's route to the
# card's subnet untouched; an address another device answers for refused; everything gone
# when the front-end's link closes, when the address is flushed, and after kill -9.
#   temporary_netns.sh HELPER_DRIVER CARDSIM     (root)
set -u
driver=$1
cardsim=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/netns.sh"

failures=0
check() { # description, output, expected pattern
    if grep -qE -- "$3" <<<"$2"; then
        echo "ok   - $1"
    else
        echo "FAIL - $1 (expected /$3/)"
        echo "$2" | sed 's/^/       /'
        failures=$((failures + 1))
    fi
}
absent() { # description, output, pattern that must not be there
    if grep -qE -- "$3" <<<"$2"; then
        echo "FAIL - $1 (found /$3/)"
        echo "$2" | sed 's/^/       /'
        failures=$((failures + 1))
    else
        echo "ok   - $1"
    fi
}
# Waits up to $1 tenths of a second for the command's output to match $2.
until_match() {
    local tenths=$1 pattern=$2 i
    shift 2
    for ((i = 0; i < tenths; i++)); do
        "$@" 2>/dev/null | grep -qE -- "$pattern" && return 0
        sleep 0.1
    done
    return 1
}

netns_setup "tvtm$$" --pc-no-address --second-nic --no-default-route
pc() { ip netns exec "$NETNS_PC" "$@"; }
card() { ip netns exec "$NETNS_CARD" "$@"; }

# The helper ends a moment after its front-end: the next one may bind port 67 only then.
port_free() {
    local i
    for ((i = 0; i < 100; i++)); do
        [[ -z $(pc ss -H -lun "sport = :67") ]] && return 0
        sleep 0.1
    done
    echo "FAIL - port 67 still bound 10 s after the front-end ended"
    failures=$((failures + 1))
}
work=$(mktemp -d)
NETNS_ON_EXIT='rm -rf "$work"'
# Behind the router namespace, the card's subnet is reached through the PC's second NIC.
ip -n "$NETNS_OTHER" addr add 192.168.0.77/32 dev lo
pc ip route add 192.168.0.0/24 via 10.78.0.254 dev tvpc1
ip netns exec "$NETNS_OTHER" /usr/bin/python3 -m http.server --bind 192.168.0.77 8077 \
    --directory "$work" >/dev/null 2>&1 &
serverpid=$!

card "$cardsim" --interface tvcard0 --interval 0.3 --timeout 20 --serve-http \
    --serve-seconds 30 --format kv >"$work/card" 2>&1 &
cardpid=$!
ip netns exec "$NETNS_PC" "$driver" start listen wait-request reply ip=192.168.0.20 mask=255.255.255.0 \
    temp 192.168.0.20 temp 10.77.0.9 temp 192.168.0.254 8 sleep 60 >"$work/driver" 2>"$work/helper" &
driverpid=$!
until_match 100 '^answer 0 ' sed -n 6p "$work/driver"
out=$(cat "$work/driver")
check "the card is answered" "$(sed -n 4p <<<"$out")" "^answer 0 $"
check "the card's own address is refused as temporary" "$(sed -n 5p <<<"$out")" "^answer -6 "
check "an address outside the card's subnet is refused" "$(sed -n 6p <<<"$out")" "^answer -6 "
until_match 50 '^answer' sed -n 7p "$work/driver"
check "the temporary address is added" "$(sed -n 7p "$work/driver")" "^answer 0 $"
check "as a /32 with a lifetime" "$(pc ip -4 addr show dev tvpc0)" \
    "inet 192.168.0.254/32 .*tvpc0"
check "that the kernel counts down" "$(pc ip -4 addr show dev tvpc0)" "valid_lft [0-8]sec"
check "the card is reached through it" "$(pc ip -4 route get 192.168.0.20)" \
    "192.168.0.20 dev tvpc0 src 192.168.0.254"
check "every other address of the subnet goes on through the router" \
    "$(pc ip -4 route get 192.168.0.77)" "192.168.0.77 via 10.78.0.254 dev tvpc1"
check "and answers there" "$(pc curl -s -o /dev/null -w '%{http_code}' --max-time 5 \
    http://192.168.0.77:8077/)" "^200$"
until_match 50 'assigned' cat "$work/card"
check "the card's page answers through the temporary address" \
    "$(pc curl -s --max-time 5 http://192.168.0.20/)" "<html|<HTML"
sleep 4 # past a third of the lifetime: renewed
check "the address is renewed while the search lasts" "$(pc ip -4 addr show dev tvpc0)" \
    "inet 192.168.0.254/32"
# A network manager that flushes the address: its route goes with it, and it is not renewed.
pc ip addr del 192.168.0.254/32 dev tvpc0
absent "a route whose source went goes too" "$(pc ip -4 route show table main)" "192.168.0.20"
sleep 4
absent "a flushed address is not added again" "$(pc ip -4 addr show dev tvpc0)" "192.168.0.254"
kill $driverpid
wait $driverpid
kill $cardpid 2>/dev/null
wait $cardpid 2>/dev/null

# Another device answers for the first address: refused, the next is taken; the link's end
# removes everything.
ip netns exec "$NETNS_CARD" ip addr add 192.168.0.254/24 dev tvcard0
card "$cardsim" --interface tvcard0 --mac 02-00-00-00-00-31 --interval 0.3 --timeout 20 \
    --format kv >/dev/null 2>&1 &
port_free
ip netns exec "$NETNS_PC" "$driver" start listen wait-request reply ip=192.168.0.21 mask=255.255.255.0 \
    temp 192.168.0.254 temp 192.168.0.253 sleep 3 >"$work/driver" 2>"$work/helper" &
driverpid=$!
until_match 100 '^answer' sed -n 6p "$work/driver"
check "an address another device answers for is refused" "$(sed -n 5p "$work/driver")" \
    "^answer -19 "
check "the next one is taken" "$(sed -n 6p "$work/driver")" "^answer 0 $"
check "with its route" "$(pc ip -4 route get 192.168.0.21)" "dev tvpc0 src 192.168.0.253"
wait $driverpid
absent "the end of the link removes the address" "$(pc ip -4 addr show dev tvpc0)" "192.168.0"
absent "and its route" "$(pc ip -4 route show table main)" "192.168.0.21"

# kill -9 of both helper processes: the kernel removes the address when its lifetime ends.
card "$cardsim" --interface tvcard0 --mac 02-00-00-00-00-32 --interval 0.3 --timeout 20 \
    --format kv >/dev/null 2>&1 &
port_free
ip netns exec "$NETNS_PC" "$driver" start listen wait-request reply ip=192.168.0.22 mask=255.255.255.0 \
    temp 192.168.0.252 6 pidfile "$work/pids" sleep 60 >"$work/driver" 2>"$work/helper" &
driverpid=$!
until_match 100 . cat "$work/pids"
check "added for the kill" "$(sed -n 5p "$work/driver")" "^answer 0 $"
read -r listener writer <"$work/pids"
# Only the helper's own two processes: never a pid that is no process's.
if [[ ${listener:-} =~ ^[0-9]+$ && ${writer:-} =~ ^[0-9]+$ && $listener -gt 1 && $writer -gt 1 ]]; then
    kill -9 "$listener" "$writer"
else
    echo "FAIL - no helper to kill (pids '${listener:-}' '${writer:-}')"
    failures=$((failures + 1))
fi
check "still there right after the kill" "$(pc ip -4 addr show dev tvpc0)" "192.168.0.252/32"
for ((i = 0; i < 120; i++)); do
    pc ip -4 addr show dev tvpc0 | grep -q 192.168.0.252 || break
    sleep 0.1
done
if [ "$i" -lt 120 ]; then
    echo "ok   - gone within its lifetime after kill -9"
else
    echo "FAIL - still there 12 s after kill -9"
    failures=$((failures + 1))
fi
absent "its route too" "$(pc ip -4 route show table main)" "192.168.0.22"
kill $driverpid $serverpid 2>/dev/null
wait

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
