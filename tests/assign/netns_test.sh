#!/bin/bash
# torvane-assign against the real torvane-helper and many simulated cards, each card a
# torvane-cardsim on its own macvlan interface (its own MAC) in the card namespace. Everything
# runs in namespaces this test creates; nothing is sent from the machine's own namespace.
#   netns_test.sh SOURCE_DIR ASSIGN CARDSIM [FAKE_HELPER]
set -u
# The messages checked here are the English ones.
export LC_ALL=en_GB.UTF-8 LANGUAGE= 2>/dev/null

SOURCE_DIR=$1
ASSIGN=$2
CARDSIM=$3
FAKE=${4:-} # the scripted stand-in for the helper (FakeHelper.cpp), for the pool's refusals
# shellcheck source=../support/netns.sh
source "$SOURCE_DIR/tests/support/netns.sh"

FAILURES=0
WORK=$(mktemp -d)
chmod 755 "$WORK"
MASK=255.255.255.0
GW=10.77.0.254

fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}

pass() { echo "ok: $*"; }

in_pc() { ip netns exec "$NETNS_PC" "$@"; }
in_card() { ip netns exec "$NETNS_CARD" "$@"; }

# A card with a fixed MAC on interface csN: mac_of N KIND gives 02:00:00:00:KIND:NN.
mac_of() { printf '02:00:00:00:%02x:%02x' "$2" "$1"; }
mac_text() { echo "$1" | tr 'a-f:' 'A-F-'; }

add_card_link() { # name mac
    ip -n "$NETNS_CARD" link add "$1" link tvcard0 address "$2" type macvlan mode bridge ||
        netns_fail "cannot create macvlan $1"
    ip -n "$NETNS_CARD" link set "$1" up
}

CARD_PIDS=()
# Starts a card on link $1 that serves its page once assigned; output in $WORK/card-$1.out.
start_card() { # link [cardsim options...]
    local link=$1
    shift
    ip netns exec "$NETNS_CARD" "$CARDSIM" --interface "$link" --interval 0.5 --timeout 60 \
        --format kv "$@" >"$WORK/card-$link.out" 2>"$WORK/card-$link.err" &
    CARD_PIDS+=($!)
}

stop_cards() {
    local pid
    for pid in "${CARD_PIDS[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${CARD_PIDS[@]}"; do
        wait "$pid" 2>/dev/null
    done
    CARD_PIDS=()
}

# Runs torvane-assign in the pc namespace: sets RC; stdout in $WORK/$1.out, stderr in .err.
run_assign() { # name args...
    local name=$1
    shift
    in_pc timeout 80 "$ASSIGN" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
    RC=$?
}

json_lines_parse() { # file
    local line n=0
    while IFS= read -r line; do
        n=$((n + 1))
        printf '%s\n' "$line" | python3 -m json.tool >/dev/null 2>&1 || {
            echo "line $n: $line"
            return 1
        }
    done <"$1"
}

# The address each card's simulator printed: "MAC ADDRESS" lines, sorted.
received() {
    local f
    for f in "$@"; do
        sed -n 's/.*event=assigned mac=\([^ ]*\) address=\([^ ]*\) .*/\1 \2/p' "$f"
    done | sort
}

# The record's "MAC IP" lines, sorted.
recorded() { tail -n +2 "$1" | cut -d, -f1,2 | tr , ' ' | sort; }

finish() {
    stop_cards
    netns_cleanup
    rm -rf "$WORK"
}

if ! netns_setup "tvas$$"; then
    echo "cannot create network namespaces" >&2
    exit 1
fi
trap finish EXIT

# --- 20 listed cards and 2 unlisted ones -------------------------------------------------
{
    echo "mac,ip,mask,gateway,name"
    for n in $(seq 1 20); do
        echo "$(mac_text "$(mac_of "$n" 1)"),10.77.0.$((20 + n)),$MASK,$GW,\"card $n, \"\"rack\"\" A\""
    done
} >"$WORK/cards.csv"
for n in $(seq 1 22); do
    add_card_link "cs$n" "$(mac_of "$n" 1)"
done
# The run ends as soon as the listed cards are done: the unlisted ones ask first, and the
# listed ones start only once both have been reported, so that the report always names them.
in_pc timeout 80 "$ASSIGN" --list "$WORK/cards.csv" --record "$WORK/list-record.csv" --format json \
    --interface tvpc0 --confirm-timeout 20 --timeout 60 >"$WORK/list.out" 2>"$WORK/list.err" &
list_pid=$!
start_card cs21 --serve-http
start_card cs22 --serve-http
for _ in $(seq 200); do
    [ "$(grep -c '"event":"not_listed"' "$WORK/list.out")" -ge 2 ] && break
    sleep 0.1
done
for n in $(seq 1 20); do
    start_card "cs$n" --serve-http
done
wait "$list_pid"
RC=$?
if [ "$RC" -eq 0 ]; then pass "list: exit 0"; else fail "list: exit $RC: $(cat "$WORK/list.err")"; fi
bad=$(json_lines_parse "$WORK/list.out") && pass "list: every output line is JSON" ||
    fail "list: not JSON: $bad"
n_assigned=$(grep -c '"event":"assigned"' "$WORK/list.out")
n_confirmed=$(grep -c '"event":"confirmed"' "$WORK/list.out")
[ "$n_assigned" -eq 20 ] && [ "$n_confirmed" -eq 20 ] && pass "list: 20 assigned, 20 answered" ||
    fail "list: $n_assigned assigned, $n_confirmed answered"
grep -q '"name":"card 7, \\"rack\\" A"' "$WORK/list.out" && pass "list: names escaped in JSON" ||
    fail "list: name of card 7 not found escaped"
for n in 21 22; do
    mac=$(mac_text "$(mac_of "$n" 1)")
    count=$(grep -c "\"event\":\"not_listed\",\"mac\":\"$mac\"" "$WORK/list.out")
    [ "$count" -eq 1 ] && pass "list: unlisted $mac reported once" ||
        fail "list: unlisted $mac reported $count times"
    grep -q "event=assigned" "$WORK/card-cs$n.out" && fail "list: unlisted $mac was answered"
done
grep -q '"not_listed":\["02-00-00-00-01-15","02-00-00-00-01-16"\]' "$WORK/list.out" &&
    pass "list: the summary names the unlisted cards" || fail "list: summary: $(tail -1 "$WORK/list.out")"
want=$(for n in $(seq 1 20); do echo "$(mac_text "$(mac_of "$n" 1)") 10.77.0.$((20 + n))"; done | sort)
got_cards=$(received "$WORK"/card-cs{1..20}.out)
[ "$got_cards" = "$want" ] && pass "list: every card received its own address" ||
    fail "list: cards received: $got_cards"
[ "$(recorded "$WORK/list-record.csv")" = "$want" ] && pass "list: the record matches the cards" ||
    fail "list: record: $(cat "$WORK/list-record.csv")"
[ "$(grep -c ',yes,' "$WORK/list-record.csv")" -eq 20 ] && pass "list: the record says confirmed" ||
    fail "list: record confirmations: $(cat "$WORK/list-record.csv")"
perm=$(in_pc ip neigh show dev tvpc0 nud permanent | grep -c lladdr)
[ "$perm" -eq 20 ] && pass "list: 20 permanent neighbour entries" || fail "list: $perm permanent entries"
stop_cards
for n in $(seq 1 22); do
    ip -n "$NETNS_CARD" link del "cs$n"
done
in_pc ip neigh flush dev tvpc0 nud permanent 2>/dev/null

# --- a pool, interrupted and resumed ------------------------------------------------------
POOL=10.77.0.101-10.77.0.120
# An address of the pool that a device already uses: it must never be handed out.
add_card_link busy0 02:00:00:00:0f:01
ip -n "$NETNS_CARD" addr add 10.77.0.103/24 dev busy0
for n in $(seq 1 8); do
    add_card_link "cp$n" "$(mac_of "$n" 2)"
done
pool_args=(--pool "$POOL" --mask "$MASK" --gateway "$GW" --record "$WORK/pool.csv" --format json
    --interface tvpc0 --probe-wait 0.3 --confirm-timeout 20)
ip netns exec "$NETNS_PC" "$ASSIGN" "${pool_args[@]}" >"$WORK/pool1.out" 2>"$WORK/pool1.err" &
pool_pid=$!
sleep 0.5
for n in $(seq 1 8); do
    start_card "cp$n" --serve-http
    sleep 0.3
done
for _ in $(seq 100); do
    [ "$(grep -c '"event":"assigned"' "$WORK/pool1.out")" -ge 5 ] && break
    sleep 0.1
done
# ip netns exec runs the program itself (exec): the pid is torvane-assign's.
kill -INT "$pool_pid"
wait "$pool_pid"
RC=$?
[ "$RC" -eq 130 ] && pass "pool: SIGINT ends with 130" || fail "pool: SIGINT: exit $RC $(cat "$WORK/pool1.err")"
grep -q '"event":"interrupted"' "$WORK/pool1.out" && grep -q '"event":"summary"' "$WORK/pool1.out" &&
    pass "pool: interrupted run prints its report" || fail "pool: no report: $(tail -2 "$WORK/pool1.out")"
first=$(recorded "$WORK/pool.csv" | wc -l)
[ "$first" -ge 5 ] && pass "pool: $first cards recorded before the interruption" ||
    fail "pool: only $first recorded: $(cat "$WORK/pool.csv")"
grep -q '"event":"in_use","ip":"10.77.0.103"' "$WORK/pool1.out" &&
    pass "pool: 10.77.0.103 found in use" || fail "pool: the busy address was not reported"
last_first=$(tail -n +2 "$WORK/pool.csv" | cut -d, -f2 | sort -t. -k4 -n | tail -1)

# The first card asks again as a restarted card would: it must get its recorded address.
again_mac=$(mac_text "$(mac_of 1 2)")
again_ip=$(grep "^$again_mac," "$WORK/pool.csv" | cut -d, -f2)
kill -TERM "${CARD_PIDS[0]}"
wait "${CARD_PIDS[0]}" 2>/dev/null
mv "$WORK/card-cp1.out" "$WORK/first-cp1.out"
# A run cut short left checks pending: the next run does them again. The line of cp2 says
# pending as if Ctrl-C had come during its check; cp2 still serves its page.
pending_mac=$(mac_text "$(mac_of 2 2)")
sed -i "s/^\($pending_mac,.*\),[a-z]*,\(.*\)$/\1,pending,\2/" "$WORK/pool.csv"
grep -q "^$pending_mac,.*,pending," "$WORK/pool.csv" || fail "pool: could not mark $pending_mac pending"
start_card cp1 --serve-http
# --count is the total of the roll-out: 8 cards so far and one more, cp9, still to come.
ip netns exec "$NETNS_PC" "$ASSIGN" "${pool_args[@]}" --count 9 --timeout 40 \
    >"$WORK/pool2.out" 2>"$WORK/pool2.err" &
pool_pid=$!
for _ in $(seq 100); do
    grep -q "\"event\":\"assigned\",\"mac\":\"$again_mac\"" "$WORK/pool2.out" && break
    sleep 0.1
done
add_card_link cp9 "$(mac_of 9 2)"
start_card cp9 --serve-http
wait "$pool_pid"
RC=$?
[ "$RC" -eq 0 ] && pass "pool: resumed run exits 0" || fail "pool: resumed: exit $RC $(cat "$WORK/pool2.err") $(tail -3 "$WORK/pool2.out")"
bad=$(json_lines_parse "$WORK/pool2.out") && pass "pool: every output line is JSON" ||
    fail "pool: not JSON: $bad"
grep -q "\"event\":\"assigned\",\"mac\":\"$again_mac\",\"ip\":\"$again_ip\".*\"source\":\"record\"" \
    "$WORK/pool2.out" && pass "pool: a recorded card gets its recorded address again" ||
    fail "pool: $again_mac did not get $again_ip again: $(grep "$again_mac" "$WORK/pool2.out")"
grep -q "\"event\":\"started\".*\"count\":9,\"recorded_from_pool\":$first" "$WORK/pool2.out" &&
    pass "pool: the resumed run counts the $first recorded cards towards --count 9" ||
    fail "pool: started: $(grep '"started"' "$WORK/pool2.out")"
grep -q "\"event\":\"confirmed\",\"mac\":\"$pending_mac\".*\"recheck\":true" "$WORK/pool2.out" &&
    grep -q "^$pending_mac,.*,yes," "$WORK/pool.csv" &&
    pass "pool: a check left pending is done again" ||
    fail "pool: pending check: $(grep "$pending_mac" "$WORK/pool2.out" "$WORK/pool.csv")"
lines=$(recorded "$WORK/pool.csv")
[ "$(echo "$lines" | wc -l)" -eq 9 ] && pass "pool: 9 cards in the record" || fail "pool: record: $lines"
[ "$(echo "$lines" | cut -d' ' -f2 | sort -u | wc -l)" -eq 9 ] &&
    pass "pool: no address given twice" || fail "pool: an address twice: $lines"
echo "$lines" | grep -q ' 10.77.0.103$' && fail "pool: the address in use was handed out"
for ip in $(echo "$lines" | cut -d' ' -f2); do
    host=${ip##*.}
    [ "$host" -ge 101 ] && [ "$host" -le 120 ] || fail "pool: $ip outside the pool"
done
for ip in $(grep '"event":"assigned"' "$WORK/pool2.out" | grep '"source":"pool"' |
    sed 's/.*"ip":"\([^"]*\)".*/\1/'); do
    [ "${ip##*.}" -gt "${last_first##*.}" ] ||
        fail "pool: the resumed run gave $ip, not after $last_first where the first stopped"
done
[ "$(received "$WORK"/card-cp*.out)" = "$lines" ] && pass "pool: the record matches the cards" ||
    fail "pool: cards received $(received "$WORK"/card-cp*.out) but the record says $lines"
# The same command once more: the total is reached, so nothing is waited for.
run_assign pool3 "${pool_args[@]}" --count 9 --timeout 10
[ "$RC" -eq 0 ] && grep -q '"event":"summary".*"pool_missing":0' "$WORK/pool3.out" &&
    pass "pool: the same --count again ends at once" ||
    fail "pool: the same --count again: exit $RC $(tail -2 "$WORK/pool3.out")"
stop_cards

# --- the pool's addresses when the helper refuses: a scripted helper in the pc namespace ---
# Card A's first address is refused for itself (a gateway of this PC): its next request gets
# the next address. Card B's reply must wait (a forgotten request): its next request gets the
# address it was offered. Card C is refused for good: its address goes to the next card, D.
# The scripted helper sends nothing; the probes go out on lo of the pc namespace.
if [ -n "$FAKE" ]; then
    mkdir -p "$WORK/fake"
    cp "$FAKE" "$WORK/fake/torvane-helper"
    printf '%b' "request 1 02-00-00-00-05-0A\nreply 1 -15\nrequest 2 02-00-00-00-05-0A\nreply 2 0\nrequest 3 02-00-00-00-05-0B\nreply 3 -2\nrequest 4 02-00-00-00-05-0B\nreply 4 0\nrequest 5 02-00-00-00-05-0C\nreply 5 -17\nrequest 6 02-00-00-00-05-0D\nreply 6 0\n" \
        >"$WORK/fake/torvane-helper.script"
    run_assign poolfake --pool 10.77.0.101-10.77.0.120 --mask $MASK --gateway $GW \
        --record "$WORK/poolfake.csv" --count 4 --confirm none --probe-wait 0.1 --timeout 20 \
        --format json --helper "$WORK/fake/torvane-helper"
    log=$(cat "$WORK/fake/torvane-helper.log" 2>/dev/null)
    if [ "$RC" -eq 1 ] && grep -q '^reply 1 10.77.0.101 -15$' <<<"$log" &&
        grep -q '^reply 2 10.77.0.102 0$' <<<"$log" && grep -q '^reply 3 10.77.0.103 -2$' <<<"$log" &&
        grep -q '^reply 4 10.77.0.103 0$' <<<"$log" && grep -q '^reply 5 10.77.0.104 -17$' <<<"$log" &&
        grep -q '^reply 6 10.77.0.104 0$' <<<"$log"; then
        pass "pool: an address refused for itself is skipped, one whose reply waits is kept, one refused for good goes to the next card"
    else
        fail "pool with refusals: exit $RC; helper saw: $log; $(tail -2 "$WORK/poolfake.out")"
    fi
    [ "$(recorded "$WORK/poolfake.csv")" = "$(printf '02-00-00-00-05-0A 10.77.0.102\n02-00-00-00-05-0B 10.77.0.103\n02-00-00-00-05-0D 10.77.0.104')" ] &&
        pass "pool: the record holds only the addresses given" ||
        fail "pool with refusals: record $(cat "$WORK/poolfake.csv")"
fi

# --- exit statuses and messages -----------------------------------------------------------
add_card_link cx1 02:00:00:00:03:01
printf 'mac,ip,mask,gateway\n02-00-00-00-03-01,10.77.0.60,%s,%s\n02-00-00-00-03-02,10.77.0.61,%s,%s\n' \
    $MASK $GW $MASK $GW >"$WORK/missing.csv"
start_card cx1 --serve-http
run_assign timeout --list "$WORK/missing.csv" --timeout 4 --format json
[ "$RC" -eq 3 ] && grep -q '"missing":\["02-00-00-00-03-02"\]' "$WORK/timeout.out" &&
    pass "timeout with a card missing: exit 3, the card named" ||
    fail "timeout: exit $RC: $(tail -1 "$WORK/timeout.out")"
stop_cards

# The gateway of the PC's default route: the helper refuses it, the run goes on.
printf 'mac,ip,mask,gateway\n02-00-00-00-03-01,10.77.0.254,%s,0.0.0.0\n' $MASK >"$WORK/refused.csv"
start_card cx1 --mac 02-00-00-00-03-01
run_assign refused --list "$WORK/refused.csv" --timeout 10
[ "$RC" -eq 1 ] && grep -q "refused the reply: it is a gateway.s address" "$WORK/refused.out" &&
    pass "a refusal is reported with its reason: exit 1" ||
    fail "refusal: exit $RC: $(cat "$WORK/refused.out" "$WORK/refused.err")"
stop_cards

# A card that takes its address but serves no page.
start_card cx1 --mac 02-00-00-00-03-01
run_assign silent --mac 02:00:00:00:03:01 --ip 10.77.0.62 --mask $MASK --gateway $GW \
    --confirm-timeout 2 --timeout 20
[ "$RC" -eq 1 ] && grep -q "did not answer within" "$WORK/silent.out" &&
    pass "a card that does not answer: exit 1" || fail "silent: exit $RC: $(cat "$WORK/silent.out")"
stop_cards
start_card cx1 --mac 02-00-00-00-03-01
run_assign unchecked --mac 02:00:00:00:03:01 --ip 10.77.0.63 --mask $MASK --gateway $GW \
    --confirm none --timeout 20
[ "$RC" -eq 0 ] && pass "--confirm none: exit 0 without a page" || fail "--confirm none: exit $RC"
stop_cards

run_assign nohelper --mac 02:00:00:00:03:01 --ip 10.77.0.63 --mask $MASK --gateway $GW \
    --helper "$WORK/none"
[ "$RC" -eq 4 ] && grep -q "torvane-helper was not found" "$WORK/nohelper.err" &&
    pass "no helper: exit 4" || fail "no helper: exit $RC: $(cat "$WORK/nohelper.err")"

# Another server holds port 67: it is named.
ip netns exec "$NETNS_PC" /usr/bin/python3 -c 'import socket,time; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind(("0.0.0.0",67)); time.sleep(30)' &
holder=$!
sleep 0.5
run_assign held --mac 02:00:00:00:03:01 --ip 10.77.0.63 --mask $MASK --gateway $GW
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
[ "$RC" -eq 4 ] && grep -q "UDP port 67 is held by another program (python3, pid $holder)" "$WORK/held.err" &&
    pass "port 67 held: exit 4, the holder named" || fail "port held: exit $RC: $(cat "$WORK/held.err")"

# A root:root 0750 helper: no group to join helps; the owner and mode are named, with the
# commands that fix them.
helper_dir=$WORK/libexec
mkdir -p "$helper_dir"
cp "$(dirname "$ASSIGN")/torvane-helper" "$helper_dir/torvane-helper"
chown root:root "$helper_dir/torvane-helper"
chmod 0750 "$helper_dir/torvane-helper"
in_pc setpriv --reuid=nobody --regid=nogroup --clear-groups "$ASSIGN" --mac 02:00:00:00:03:01 \
    --ip 10.77.0.63 --mask $MASK --gateway $GW --helper "$helper_dir/torvane-helper" \
    >"$WORK/group.out" 2>"$WORK/group.err"
RC=$?
[ "$RC" -eq 4 ] && grep -q "its owner or mode is wrong (0750, owner root:root)" "$WORK/group.err" &&
    grep -q "sudo chgrp torvane $helper_dir/torvane-helper" "$WORK/group.err" &&
    pass "a root-group helper: exit 4, owner, mode and commands named" ||
    fail "root-group helper: exit $RC: $(cat "$WORK/group.err")"

# An interface that does not exist, or is down, is refused before the helper starts.
run_assign noif --mac 02:00:00:00:03:01 --ip 10.77.0.63 --mask $MASK --gateway $GW --interface nosuch0
[ "$RC" -eq 2 ] && grep -q "there is no interface nosuch0" "$WORK/noif.err" &&
    pass "unknown interface: exit 2" || fail "unknown interface: exit $RC: $(cat "$WORK/noif.err")"
in_pc ip link add tvdown0 type veth peer name tvdown1
run_assign downif --mac 02:00:00:00:03:01 --ip 10.77.0.63 --mask $MASK --gateway $GW --interface tvdown0
[ "$RC" -eq 2 ] && grep -q "tvdown0 is down" "$WORK/downif.err" &&
    pass "interface down: exit 2" || fail "interface down: exit $RC: $(cat "$WORK/downif.err")"

# --- a burst: 100 listed cards asking at the same moment ------------------------------
in_pc ip neigh flush dev tvpc0 nud permanent 2>/dev/null
BURST=${ASSIGN_BURST:-100}
{
    echo "mac,ip,mask,gateway"
    for ((i = 0; i < BURST; i++)); do
        printf '02-00-00-00-%02X-%02X,10.77.%d.%d,%s,%s\n' $(((0x2000 + i) >> 8)) $(((0x2000 + i) & 255)) \
            $((i / 200)) $((20 + i % 200)) $MASK $GW
    done
} >"$WORK/burst.csv"
[ "$BURST" -le 200 ] || fail "burst: at most 200 cards fit the subnet"
in_pc timeout 80 "$ASSIGN" --list "$WORK/burst.csv" --format json --interface tvpc0 \
    --confirm none --timeout 60 >"$WORK/burst.out" 2>"$WORK/burst.err" &
burst_pid=$!
for _ in $(seq 50); do
    grep -q '"event":"started"' "$WORK/burst.out" && break
    sleep 0.1
done
in_card "$CARDSIM" --interface tvcard0 --cards "$BURST" --mac-base 02-00-00-00-20-00 --spread 0 \
    --interval 1 --timeout 50 --format kv >"$WORK/burst-cards.out" 2>"$WORK/burst-cards.err"
cards_rc=$?
wait "$burst_pid"
RC=$?
summary=$(grep '^event=summary' "$WORK/burst-cards.out")
[ "$RC" -eq 0 ] && [ "$cards_rc" -eq 0 ] && grep -q " answered=$BURST " <<<"$summary " &&
    pass "burst: $BURST cards at once, all answered ($summary)" ||
    fail "burst: exit $RC, cards $cards_rc: $summary $(tail -1 "$WORK/burst.out")"
want=$(tail -n +2 "$WORK/burst.csv" | cut -d, -f1,2 | tr , ' ' | sort)
[ "$(received "$WORK/burst-cards.out")" = "$want" ] &&
    pass "burst: every card received its own address" ||
    fail "burst: $(diff <(received "$WORK/burst-cards.out") <(echo "$want") | head -5)"

[ $FAILURES -eq 0 ] || {
    echo "$FAILURES failure(s)" >&2
    exit 1
}
echo "all passed"
