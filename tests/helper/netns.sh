#!/usr/bin/env bash
# torvane-helper against crafted messages on its link, in test namespaces (and its listener's
# packet socket under the listener's system-call filter): it passes on only
# card requests in an Ethernet broadcast from 0.0.0.0:68 to 255.255.255.255 on a real
# interface with a unicast MAC, and refuses every reply
# and neighbour entry that does not belong to a request it passed on.
#   netns.sh HELPER_DRIVER CARDSIM NEIGHBOUR_PROBE LISTENER_SEND_PROBE     (root)
set -u
driver=$1
cardsim=$2
probe=$3
send_probe=$4
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
nth() { sed -n "$1p" <<<"$2"; }
n=0

netns_setup "tvhe$$"
pc() { ip netns exec "$NETNS_PC" "$@"; }
# Another device already owns 10.77.0.30 in the neighbour table.
pc ip neigh add 10.77.0.30 lladdr 02:00:00:00:00:99 dev tvpc0 nud permanent

ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --mac 02-00-00-00-00-01 \
    --interval 0.3 --timeout 20 --format kv >/dev/null 2>&1 &
out=$(pc "$driver" start listen wait-request \
    reply id=999 \
    reply flip=44 \
    reply ip=127.0.0.1 \
    reply ip=224.0.0.1 \
    reply ip=10.77.0.254 \
    reply ip=10.77.0.1 \
    raw 5A \
    neigh ip=10.77.0.30 \
    reply ip=10.77.0.30 si=10.77.0.1 \
    reply ip=10.77.0.31 \
    neigh mac=FF-FF-FF-FF-FF-FF \
    neigh)
wait
check "the card's request is passed on" "$(nth 3 "$out")" "^request id=1 if=[0-9]+ size=300 mac=02-00-00-00-00-01$"
check "a reply to a request never passed on is refused" "$(nth 4 "$out")" "^answer -2 "
check "a changed byte outside the reply's fields is refused" "$(nth 5 "$out")" "^answer -5 "
check "yiaddr 127.0.0.1 is refused" "$(nth 6 "$out")" "^answer -6 "
check "yiaddr 224.0.0.1 is refused" "$(nth 7 "$out")" "^answer -6 "
check "the gateway's address is refused" "$(nth 8 "$out")" "^answer -15 "
check "the PC's own address is refused" "$(nth 9 "$out")" "^answer -13 "
check "a malformed message is refused" "$(nth 10 "$out")" "^answer -1 "
check "an entry before its reply is refused" "$(nth 11 "$out")" "^answer -11 "
check "a sound reply is sent" "$(nth 12 "$out")" "^answer 0 $"
check "a second reply to the same request is refused" "$(nth 13 "$out")" "^answer -3 "
check "an entry with a broadcast MAC is refused" "$(nth 14 "$out")" "^answer -12 "
check "an entry over another MAC's is refused" "$(nth 15 "$out")" "^answer -16 "
check "the other device's entry is untouched" "$(pc ip neigh show 10.77.0.30 dev tvpc0)" \
    "lladdr 02:00:00:00:00:99 PERMANENT"

# Gateways of routes through nexthop objects, in the main table and another, single and in a
# group, are refused whether the kernel's dump names only the object (compat mode 0, as with
# FRR) or also writes its gateways out (compat mode 1).
for mode in 0 1; do
    pc sysctl -qw net.ipv4.nexthop_compat_mode=$mode
    pc ip nexthop add id 7$mode via 10.77.0.7$mode dev tvpc0
    pc ip nexthop add id 8$mode via 10.77.0.8$mode dev tvpc0
    pc ip nexthop add id 9$mode via 10.77.0.9$mode dev tvpc0
    pc ip nexthop add id 10$mode group 8$mode/9$mode
    pc ip route add 10.9$mode.0.0/16 nhid 7$mode
    pc ip route add 10.9$mode.0.0/16 nhid 10$mode table 10$mode
    ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --mac 02-00-00-00-00-1$mode \
        --interval 0.3 --timeout 20 --format kv >/dev/null 2>&1 &
    out=$(pc "$driver" start listen wait-request \
        reply ip=10.77.0.7$mode reply ip=10.77.0.8$mode reply ip=10.77.0.9$mode)
    kill %% 2>/dev/null
    wait
    check "compat mode $mode: a nexthop object's gateway is refused" "$(nth 4 "$out")" "^answer -15 "
    check "compat mode $mode: a group's gateways in another table are refused" \
        "$(nth 5 "$out") $(nth 6 "$out")" "^answer -15 .*answer -15 "
done

# Requests that must never reach the front-end, then one that must.
out=$(pc "$driver" start listen \
    send - 68 127.0.0.1 02-00-00-00-00-02 wait-request 2 \
    send tvpc0 68 255.255.255.255 FF-FF-FF-FF-FF-FF wait-request 2 \
    send tvpc0 68 255.255.255.255 02-00-00-00-00-05 wait-request 2 \
    send tvpc0 68 10.77.0.255 02-00-00-00-00-06 wait-request 2 \
    send - 68 10.77.0.1 02-00-00-00-00-07 wait-request 2)
check "a request over loopback is not passed on" "$(nth 4 "$out")" "^no request$"
check "a request with a broadcast MAC is not passed on" "$(nth 6 "$out")" "^no request$"
check "the PC's own broadcast is not passed on" "$(nth 8 "$out")" "^no request$"
check "the PC's own subnet broadcast is not passed on" "$(nth 10 "$out")" "^no request$"
check "a request to the PC's own address is not passed on" "$(nth 12 "$out")" "^no request$"
ip netns exec "$NETNS_CARD" "$driver" send tvcard0 6868 255.255.255.255 02-00-00-00-00-03 >/dev/null &
out=$(pc "$driver" start listen wait-request 2)
check "a request from a port other than 68 is not passed on" "$(nth 3 "$out")" "^no request$"
ip netns exec "$NETNS_CARD" "$driver" sleep 0.5 send tvcard0 68 255.255.255.255 02-00-00-00-00-04 >/dev/null &
out=$(pc "$driver" start listen wait-request)
check "while a card from port 68 on tvpc0 is" "$(nth 3 "$out")" "^request id=1 .*mac=02-00-00-00-00-04$"
wait

# Only what a factory-fresh card sends is passed on: an Ethernet broadcast frame from 0.0.0.0
# to 255.255.255.255 on the PC's wire. Each sender below tries, then a card's frame is sent.
pc_mac=$(pc cat /sys/class/net/tvpc0/address)
bcast=ff:ff:ff:ff:ff:ff
sent=$(mktemp)
card() { ip netns exec "$NETNS_CARD" "$driver" "$@" >"$sent"; }
for case in "255.255.255.255 255.255.255.255 $bcast|source 255.255.255.255" \
    "127.0.0.2 255.255.255.255 $bcast|source 127.0.0.2" \
    "10.77.0.9 255.255.255.255 $bcast|a source with an address" \
    "0.0.0.0 10.77.0.1 $pc_mac|a unicast to the PC's address" \
    "0.0.0.0 255.255.255.255 $pc_mac|the limited broadcast in a unicast frame" \
    "0.0.0.0 10.77.0.1 $bcast|a broadcast frame to the PC's address" \
    "0.0.0.0 10.77.0.255 $bcast|the subnet's broadcast address" \
    "0.0.0.0 255.255.255.255 $bcast 0|time to live 0"; do
    read -r src dst ether ttl <<<"${case%%|*}"
    card sleep 0.5 frame tvcard0 "$src" "$dst" "$ether" 02-00-00-00-00-11 $ttl &
    out=$(pc "$driver" start listen wait-request 2)
    wait
    check "a request with ${case#*|} is not passed on" "$(nth 3 "$out") $(cat "$sent")" \
        "^no request sent ok$"
done
pc "$driver" sleep 0.5 tun tvtun0 02-00-00-00-00-12 >"$sent" &
out=$(pc "$driver" start listen wait-request 2)
wait
check "a request written into a tun device is not passed on" "$(nth 3 "$out") $(cat "$sent")" \
    "^no request sent ok$"
card sleep 0.5 frame tvcard0 0.0.0.0 255.255.255.255 $bcast 02-00-00-00-00-13 &
out=$(pc "$driver" start listen wait-request)
wait
check "while a card's own frame is" "$(nth 3 "$out")" "^request id=1 .*mac=02-00-00-00-00-13$"

# A host two hops away (routed by the card namespace, which now plays the gateway) sends a
# card-shaped request to the PC's address; the PC's firewall would drop it, and so does the
# helper.
netns_add "$NETNS_PC-far"
NETNS_FAR=$NETNS_PC-far
ip -n "$NETNS_CARD" link add tvgw0 type veth peer name tvfar0 netns "$NETNS_FAR"
ip -n "$NETNS_CARD" addr add 10.77.0.254/24 dev tvcard0
ip -n "$NETNS_CARD" addr add 203.0.113.1/24 dev tvgw0
ip -n "$NETNS_CARD" link set tvgw0 up
ip netns exec "$NETNS_CARD" sysctl -qw net.ipv4.ip_forward=1
ip -n "$NETNS_FAR" addr add 203.0.113.50/24 dev tvfar0
ip -n "$NETNS_FAR" link set tvfar0 up
ip -n "$NETNS_FAR" route add default via 203.0.113.1
ip netns exec "$NETNS_FAR" ping -c 1 -W 2 10.77.0.1 >/dev/null 2>&1 # the route works
ip netns exec "$NETNS_FAR" "$driver" sleep 0.5 send - 68 10.77.0.1 02-00-00-00-00-14 >"$sent" &
out=$(pc "$driver" start listen wait-request 2)
wait
check "a request routed from a host two hops away is not passed on" \
    "$(nth 3 "$out") $(cat "$sent")" "^no request sent ok$"
rm -f "$sent"
check "and it did reach the PC" "$(pc ip neigh show 10.77.0.254 dev tvpc0)" "lladdr"
# From here on the card namespace holds an address (on tvgw0): the simulated cards below still
# send from 0.0.0.0, as a card does.
ip -n "$NETNS_CARD" addr flush dev tvcard0

# Once its filter is in place the listener cannot send on its packet socket, which could put
# any frame on the wire (here an ARP reply naming the gateway's address): the kernel ends it.
check "without the filter the packet socket can send" "$(pc "$send_probe" control tvpc0 2>&1)" \
    "^sent ok$"
for call in sendto sendmsg write; do
    pc "$send_probe" $call tvpc0 >/dev/null 2>&1
    check "a $call on the packet socket under the filter is killed by SIGSYS" "$?" "^159$"
done

# A host firewall that drops inbound UDP 67 (ufw's default) does not blind the search: the
# helper reads card requests below it, and its reply leaves by the output path.
pc nft -f - <<'NFT'
table inet tvfirewall {
    chain input {
        type filter hook input priority filter; policy accept;
        udp dport 67 counter drop
    }
}
NFT
card_out=$(mktemp)
ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --mac 02-00-00-00-00-0a \
    --interval 0.3 --timeout 10 --format kv >"$card_out" 2>&1 &
card=$!
out=$(pc "$driver" start listen wait-request reply ip=10.77.0.33 si=10.77.0.1)
wait "$card"
check "behind a firewall that drops UDP 67 the card's request is passed on" "$(nth 3 "$out")" \
    "^request id=1 .*mac=02-00-00-00-00-0A$"
check "and the firewall did drop it" "$(pc nft list chain inet tvfirewall input)" \
    "counter packets [1-9][0-9]* bytes"
check "and the reply reaches the card" "$(nth 4 "$out") $(cat "$card_out")" \
    "^answer 0 .*event=assigned mac=02-00-00-00-00-0A address=10.77.0.33"
rm -f "$card_out"
pc nft delete table inet tvfirewall

# The write itself never replaces an entry that holds another MAC, whatever state it is in,
# even when that entry appears after every check (the probe writes with no check at all).
for state in reachable stale permanent; do
    n=$((n + 1))
    pc ip neigh add 10.77.0.4$n lladdr 02:00:00:00:00:98 dev tvpc0 nud $state
    check "a write over another MAC's $state entry is refused by the kernel" \
        "$(pc "$probe" tvpc0 10.77.0.4$n 02-00-00-00-00-01)" "^result 17$"
    check "and the $state entry keeps its MAC" "$(pc ip neigh show 10.77.0.4$n dev tvpc0)" \
        "lladdr 02:00:00:00:00:98"
done
pc ip neigh add 10.77.0.45 lladdr 02:00:00:00:00:01 dev tvpc0 nud stale
check "an entry learnt with the card's MAC becomes permanent" \
    "$(pc "$probe" tvpc0 10.77.0.45 02-00-00-00-00-01 | tr '\n' ' '; pc ip neigh show 10.77.0.45 dev tvpc0)" \
    "result 0.*lladdr 02:00:00:00:00:01 PERMANENT"
pc ping -c 1 -W 0.3 10.77.0.46 >/dev/null 2>&1 # leaves an entry that never resolved
check "an entry that never resolved is filled" \
    "$(pc "$probe" tvpc0 10.77.0.46 02-00-00-00-00-01 | tr '\n' ' '; pc ip neigh show 10.77.0.46 dev tvpc0)" \
    "result 0.*lladdr 02:00:00:00:00:01 PERMANENT"

# A descriptor limit cannot blind the checks: the helper opens every socket at its start.
out=$(pc prlimit --nofile=5 "$driver" start)
check "under a tiny descriptor limit the helper does not start" "$out" "^start [1-9]"
pc ip neigh replace 10.77.0.254 lladdr 02:00:00:00:00:fe dev tvpc0 nud reachable
ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --mac 02-00-00-00-00-08 \
    --interval 0.3 --timeout 20 --format kv >/dev/null 2>&1 &
out=$(pc "$driver" start listen wait-request nofile 4 \
    reply ip=10.77.0.254 reply ip=10.77.0.1 reply ip=10.77.0.32 neigh)
check "the limit is set on the running listener and writer" "$(nth 4 "$out")" "^nofile ok$"
check "under it the gateway's address is still refused" "$(nth 5 "$out")" "^answer -15 "
check "under it the PC's own address is still refused" "$(nth 6 "$out")" "^answer -13 "
check "under it a sound reply is sent" "$(nth 7 "$out")" "^answer 0 $"
check "under it the writer still writes the card's entry" "$(nth 8 "$out")" "^answer 0 $"
wait

# A racer flips the limit while replies naming the gateway's address arrive.
ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --mac 02-00-00-00-00-09 \
    --interval 0.3 --timeout 20 --format kv >/dev/null 2>&1 &
pids=$(mktemp)
NETNS_ON_EXIT="rm -f $pids"
replies=()
for _ in $(seq 30); do replies+=(reply ip=10.77.0.254 sleep 0.01); done
pc "$driver" start listen wait-request pidfile "$pids" "${replies[@]}" >"$pids.out" &
driver_pid=$!
while kill -0 "$driver_pid" 2>/dev/null; do
    for limit in 4 1024; do
        for p in $(cat "$pids" 2>/dev/null); do prlimit --pid "$p" --nofile=$limit:1024 2>/dev/null; done
    done
done
wait "$driver_pid"
out=$(cat "$pids.out")
rm -f "$pids.out"
check "every reply naming the gateway is refused while the limit flips" \
    "$(grep -c '^answer -15 ' <<<"$out")" "^30$"
check "the gateway's entry comes through untouched" "$(pc ip neigh show 10.77.0.254 dev tvpc0)" \
    "lladdr 02:00:00:00:00:fe"
wait
exit $failures
