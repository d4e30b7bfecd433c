#!/bin/bash
# The simulator against a minimal boot server, each in its own network namespace joined by a
# veth pair: the card side has no address, as a fresh card. Nothing leaves the namespaces.
#   netns_test.sh SOURCE_DIR CARDSIM RESPONDER
set -u

SOURCE_DIR=$1
CARDSIM=$2
RESPONDER=$3
# shellcheck source=../support/netns.sh
source "$SOURCE_DIR/tests/support/netns.sh"

FAILURES=0
WORK=$(mktemp -d)
PIDS=()

fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}

pass() {
    echo "ok: $*"
}

finish() {
    local pid
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    netns_cleanup
    rm -rf "$WORK"
}

in_pc() { ip netns exec "$NETNS_PC" "$@"; }
in_card() { ip netns exec "$NETNS_CARD" "$@"; }

# Starts the responder in the pc namespace; waits until it listens. Sets RESPONDER_PID.
start_responder() {
    local out=$WORK/responder.out
    : >"$out"
    # Started straight (not through a function) so that $! is the responder itself.
    ip netns exec "$NETNS_PC" "$RESPONDER" --address 10.77.0.20 --mask 255.255.255.0 --gateway 10.77.0.254 \
        --server 10.77.0.1 "$@" >"$out" 2>&1 &
    RESPONDER_PID=$!
    PIDS+=("$RESPONDER_PID")
    local i
    for i in $(seq 50); do
        grep -q listening "$out" && return 0
        sleep 0.1
    done
    fail "responder did not start: $(cat "$out")"
}

stop_responder() {
    kill -TERM "$RESPONDER_PID" 2>/dev/null
    wait "$RESPONDER_PID" 2>/dev/null
}

# Runs the card in the card namespace: sets RC and OUT, stderr in $WORK/card.err.
run_card() {
    OUT=$(in_card timeout 30 "$CARDSIM" --interface tvcard0 --format kv "$@" 2>"$WORK/card.err")
    RC=$?
}

expect() { # what, wanted rc, text that must be in OUT
    if [ "$RC" -ne "$2" ]; then
        fail "$1: exit $RC, wanted $2; out: $OUT; err: $(cat "$WORK/card.err")"
    elif [[ "$OUT" != *"$3"* ]]; then
        fail "$1: output lacks '$3': $OUT"
    else
        pass "$1"
    fi
}

# One HTTP/1.0 GET from the pc namespace with bash's /dev/tcp.
http_get() {
    in_pc timeout 5 bash -c 'exec 3<>/dev/tcp/10.77.0.20/80 &&
        printf "GET %s HTTP/1.0\r\nHost: 10.77.0.20\r\n\r\n" "$1" >&3 && cat <&3' _ "$1"
}

if ! netns_setup "tvcs$$"; then
    echo "cannot create network namespaces" >&2
    exit 1
fi
trap finish EXIT

# A reply on the first request.
start_responder --count 1
run_card --timeout 10
expect "assignment" 0 "event=assigned mac="
expect "assignment values" 0 "address=10.77.0.20 mask=255.255.255.0 gateway=10.77.0.254 server=10.77.0.1"
stop_responder

# The server misses the first request: the card repeats it with the same xid.
start_responder --count 1 --skip 1
run_card --interval 0.3 --timeout 10 --length 548
expect "repeated request" 0 "length=548 requests=2"
stop_responder

# A server that breaks the router option code: invalid reply.
start_responder --count 1 --flip 252
run_card --timeout 10
expect "broken reply" 4 "event=invalid reason=router-option"
stop_responder

# Nobody answers: the timeout status, within the timeout.
started=$(date +%s%N)
run_card --interval 0.2 --timeout 1.5
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
expect "timeout" 3 "event=timeout"
[[ "$OUT" =~ requests=([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -ge 7 ] ||
    fail "timeout: about 8 requests expected in 1.5 s at 0.2 s: $OUT"
[ "$elapsed_ms" -ge 1400 ] && [ "$elapsed_ms" -lt 3000 ] ||
    fail "timeout took $elapsed_ms ms for 1.5 s"

# The card serves its page on the address it was given; the pc fetches it many times.
start_responder --count 1
card_mac=$(in_card cat /sys/class/net/tvcard0/address | tr 'a-f:' 'A-F-')
ip netns exec "$NETNS_CARD" "$CARDSIM" --interface tvcard0 --format kv --timeout 10 --serve-http \
    --serve-seconds 60 --verbose >"$WORK/serve.out" 2>"$WORK/serve.err" &
serve_pid=$!
PIDS+=("$serve_pid")
for _ in $(seq 100); do
    grep -q event=serving "$WORK/serve.out" && break
    sleep 0.1
done
if ! grep -q "event=serving url=http://10.77.0.20/" "$WORK/serve.out"; then
    fail "serve-http: not serving: $(cat "$WORK/serve.out" "$WORK/serve.err")"
else
    grep -q "event=assigned mac=$card_mac " "$WORK/serve.out" ||
        fail "serve-http: chaddr is not the interface's MAC $card_mac: $(cat "$WORK/serve.out")"
    page=$(http_get /)
    if [[ "$page" == "HTTP/1.0 200 OK"* && "$page" == *"<title>Web/SNMP Card $card_mac</title>"* ]]; then
        pass "page title"
    else
        fail "page: $page"
    fi
    icon=$(http_get /favicon.ico)
    [[ "$icon" == "HTTP/1.0 404 "* ]] && pass "favicon 404" || fail "favicon: $icon"
    good=0
    for _ in $(seq 30); do
        [[ "$(http_get /)" == *"<title>Web/SNMP Card"* ]] && good=$((good + 1))
    done
    [ $good -eq 30 ] && pass "30 sequential GETs" || fail "only $good of 30 GETs answered"

    # Clients that connect and say nothing must not hold up the next one.
    in_pc bash -c 'exec 3<>/dev/tcp/10.77.0.20/80 4<>/dev/tcp/10.77.0.20/80 \
        5<>/dev/tcp/10.77.0.20/80 && sleep 20' &
    idle_pid=$!
    PIDS+=("$idle_pid")
    sleep 0.3
    started=$(date +%s%N)
    page=$(http_get /)
    elapsed_ms=$((($(date +%s%N) - started) / 1000000))
    if [[ "$page" == *"<title>Web/SNMP Card"* ]] && [ "$elapsed_ms" -lt 2000 ]; then
        pass "GET beside three idle connections in $elapsed_ms ms"
    else
        fail "GET beside three idle connections took $elapsed_ms ms: $page"
    fi
    kill "$idle_pid" 2>/dev/null
    wait "$idle_pid" 2>/dev/null

    # The log shows a client's path without handing its terminal escapes to ours.
    http_get $'/\e[2J\e]0;owned\a' >/dev/null
    for _ in $(seq 20); do
        grep -q 'owned' "$WORK/serve.err" && break
        sleep 0.1
    done
    if grep -q $'\e' "$WORK/serve.err"; then
        fail "verbose log holds a raw escape byte: $(grep -a owned "$WORK/serve.err" | od -c | head -3)"
    elif grep -qF 'http GET /\x1b[2J\x1b]0;owned\x07: 404' "$WORK/serve.err"; then
        pass "verbose log escapes the path"
    else
        fail "verbose log lacks the escaped path: $(grep -a owned "$WORK/serve.err")"
    fi
fi
kill -TERM "$serve_pid"
wait "$serve_pid"
rc=$?
[ $rc -eq 0 ] || fail "serve-http ended with $rc: $(cat "$WORK/serve.err")"
grep -q "event=served requests=34" "$WORK/serve.out" ||
    fail "serve-http: served count: $(cat "$WORK/serve.out")"
in_card ip -4 addr show dev tvcard0 | grep -q 10.77.0.20 &&
    fail "serve-http: address left on tvcard0 after exit"
stop_responder

# A flood of foreign DISCOVERs at a paced rate, then the card is still served.
start_responder --seconds 20
run_card --flood 2000 --duration 1 --then-card --timeout 10
expect "flood then card" 0 "event=assigned"
[[ "$OUT" == *" foreign_replies=0"* ]] || fail "replies counted from a server that sent none: $OUT"
stop_responder
if [[ "$OUT" =~ event=flood\ sent=([0-9]+)\ errors=([0-9]+)\ seconds=([0-9.]+)\ rate=([0-9.]+) ]]; then
    sent=${BASH_REMATCH[1]}
    rate=${BASH_REMATCH[4]%.*}
    [ "$sent" -ge 1980 ] && [ "$sent" -le 2000 ] || fail "flood sent $sent, wanted 2000"
    [ "$rate" -ge 1900 ] && [ "$rate" -le 2100 ] || fail "flood rate $rate/s for 2000/s"
    # The responder saw the flood and exactly one card among it.
    counts=$(tail -1 "$WORK/responder.out")
    if [[ "$counts" =~ datagrams=([0-9]+)\ cards=1\ replies=1 ]] && [ "${BASH_REMATCH[1]}" -ge "$sent" ]; then
        pass "flood rate $rate/s, responder: $counts"
    else
        fail "responder counts after the flood: $counts"
    fi
else
    fail "no flood record: $OUT"
fi

# A server that answers every client: the flood counts the replies sent to its clients.
start_responder --seconds 20 --answer-all 1
run_card --flood 500 --duration 1
stop_responder
answered=$(sed -n 's/.* foreign=\([0-9]*\)$/\1/p' "$WORK/responder.out")
if [[ "$OUT" =~ event=flood\ sent=([0-9]+).*\ foreign_replies=([0-9]+) ]] &&
    [ "${BASH_REMATCH[2]}" -ge $((answered - 5)) ] && [ "${BASH_REMATCH[2]}" -le "$answered" ] &&
    [ "$answered" -ge 480 ]; then
    pass "foreign replies counted: ${BASH_REMATCH[2]} of $answered sent"
else
    fail "foreign replies: $OUT; responder: $(tail -1 "$WORK/responder.out")"
fi

# A flood of card requests from foreign MACs: every datagram is a card request to the
# responder, and replies to them are counted as foreign too.
start_responder --seconds 20 --answer-all 1
run_card --flood 300 --duration 1 --flood-cards
stop_responder
counts=$(tail -1 "$WORK/responder.out")
if [[ "$counts" =~ datagrams=([0-9]+)\ cards=([0-9]+) ]] && [ "${BASH_REMATCH[2]}" -ge 290 ] &&
    [ "${BASH_REMATCH[2]}" -eq "${BASH_REMATCH[1]}" ] && [[ "$OUT" =~ foreign_replies=([0-9]+)\ kind=cards ]] &&
    [ "${BASH_REMATCH[1]}" -ge 280 ]; then
    pass "card flood: every datagram a card request, the replies counted: $counts"
else
    fail "card flood: $OUT; responder: $counts"
fi

# Five cards at once, each with its own MAC on its own macvlan, each given its own address.
start_responder --count 5 --distinct 1
ip netns exec "$NETNS_CARD" "$CARDSIM" --interface tvcard0 --format kv --timeout 10 --interval 1 \
    --cards 5 --mac-base 02-00-00-00-10-00 --serve-http --serve-seconds 60 \
    >"$WORK/cards.out" 2>"$WORK/cards.err" &
cards_pid=$!
PIDS+=("$cards_pid")
for _ in $(seq 100); do
    [ "$(grep -c event=serving "$WORK/cards.out")" -eq 5 ] && break
    sleep 0.1
done
macs=$(sed -n 's/^event=assigned mac=\([^ ]*\) .*/\1/p' "$WORK/cards.out" | sort -u | tr '\n' ' ')
addresses=$(sed -n 's/^event=assigned .* address=\([^ ]*\) .*/\1/p' "$WORK/cards.out" | sort -u | wc -l)
if [ "$macs" = "02-00-00-00-10-00 02-00-00-00-10-01 02-00-00-00-10-02 02-00-00-00-10-03 02-00-00-00-10-04 " ] &&
    [ "$addresses" -eq 5 ] &&
    grep -qE '^event=summary cards=5 answered=5 assigned=5 invalid=0 timeouts=0 other_layout=0 p50=0\.[0-9]{6} p99=' "$WORK/cards.out"; then
    pass "five cards at once: distinct MACs and addresses"
else
    fail "five cards: $(cat "$WORK/cards.out" "$WORK/cards.err")"
fi
# The PC pins each address to its card's MAC, as Torvane does; each page must come from there.
reached=0
first_address=""
while read -r mac address; do
    [ -n "$first_address" ] || first_address=$address
    in_pc ip neigh replace "$address" lladdr "${mac//-/:}" nud permanent dev tvpc0
    page=$(in_pc timeout 5 bash -c 'exec 3<>/dev/tcp/$1/80 &&
        printf "GET / HTTP/1.0\r\n\r\n" >&3 && cat <&3' _ "$address")
    [[ "$page" == *"<title>Web/SNMP Card $mac</title>"* ]] && reached=$((reached + 1))
done < <(sed -n 's/^event=assigned mac=\([^ ]*\) address=\([^ ]*\) .*/\1 \2/p' "$WORK/cards.out")
[ $reached -eq 5 ] && pass "each card's page at its address through its MAC" ||
    fail "only $reached of 5 pages reached"
# Pinned to another card's MAC, the address is not reached: the page is tied to its own card.
if [ -n "$first_address" ]; then
    in_pc ip neigh replace "$first_address" lladdr 02:00:00:00:10:04 nud permanent dev tvpc0
    if in_pc timeout 3 bash -c 'exec 3<>/dev/tcp/$1/80' _ "$first_address" 2>/dev/null; then
        fail "a page answered frames sent to another card's MAC"
    else
        pass "a page does not answer frames for another card's MAC"
    fi
fi
kill -TERM "$cards_pid"
wait "$cards_pid"
rc=$?
[ $rc -eq 0 ] || fail "five cards ended with $rc: $(cat "$WORK/cards.err")"
grep -q "^event=served requests=5$" "$WORK/cards.out" || fail "five cards: served count"
stop_responder
links=$(in_card ip -br link show type macvlan | wc -l)
arp_ignore=$(in_card cat /proc/sys/net/ipv4/conf/tvcard0/arp_ignore)
[ "$links" -eq 0 ] && [ "$arp_ignore" -eq 0 ] && pass "card interfaces removed, arp_ignore back" ||
    fail "after the cards: $links macvlans left, arp_ignore $arp_ignore"

# Interrupted while waiting, the cards still take their interfaces away.
ip netns exec "$NETNS_CARD" "$CARDSIM" --interface tvcard0 --cards 3 --timeout 30 \
    >/dev/null 2>"$WORK/cards.err" &
cards_pid=$!
PIDS+=("$cards_pid")
sleep 0.5
made=$(in_card ip -br link show type macvlan | wc -l)
kill -INT "$cards_pid"
wait "$cards_pid"
rc=$?
links=$(in_card ip -br link show type macvlan | wc -l)
[ "$made" -eq 3 ] && [ $rc -eq 130 ] && [ "$links" -eq 0 ] && pass "SIGINT removes the card interfaces" ||
    fail "SIGINT: $made made, exit $rc, $links left: $(cat "$WORK/cards.err")"

[ $FAILURES -eq 0 ] || {
    echo "$FAILURES failure(s)" >&2
    exit 1
}
echo "all passed"
