#!/bin/bash
# torvane_netlink against the real kernel, inside a network namespace of its own (unshare -n):
# the addresses, neighbour entries, routes and links it reads match what was set up, a port's
# owner is named (and left without pid for a user who may not see the process), and a query
# that cannot even open its socket reports an error instead of an empty answer. Nothing is
# sent: a veth pair with both ends in the namespace, permanent neighbour entries, a socket on
# 127.0.0.1. Needs root; a namespace that cannot be made is a failure, never a skip.
set -u
PROBE=$1

if [ "${NETLINK_IN_NS:-}" != 1 ]; then
    [ "$(id -u)" -eq 0 ] || { echo "FAIL: needs root (network namespaces)" >&2; exit 1; }
    NETLINK_IN_NS=1 exec unshare -n bash "$0" "$@"
    echo "FAIL: unshare -n failed" >&2
    exit 1
fi

failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() { # name, wanted, got
    if [ "$2" = "$3" ]; then ok "$1"; else fail "$1: wanted [$2], got [$3]"; fi
}

ip link set lo up || { echo "FAIL: lo up"; exit 1; }
ip link add tvnl0 type veth peer name tvnl1 || { echo "FAIL: veth pair"; exit 1; }
ip addr add 10.77.9.1/24 dev tvnl0
ip addr add 10.77.9.7/32 dev tvnl0
ip link set tvnl0 up
ip link set tvnl1 up
ip route add default via 10.77.9.254 dev tvnl0
ip neigh add 10.77.9.2 lladdr 02:00:00:00:09:02 dev tvnl0 nud permanent
# Enough entries that the dump spans several datagrams.
for i in $(seq 10 250); do
    printf 'neigh add 10.77.9.%d lladdr 02:00:00:00:09:%02x dev tvnl0 nud permanent\n' "$i" "$i"
done | ip -batch - || fail "neighbour entries"

index=$(ip -o link show tvnl0 | cut -d: -f1)

expect "addresses of tvnl0" "10.77.9.1/24 10.77.9.7/32" "$("$PROBE" addresses tvnl0 | xargs)"
expect "tvnl1 has no address" "" "$("$PROBE" addresses tvnl1)"
expect "one neighbour entry" "10.77.9.2 02:00:00:00:09:02 0x80" "$("$PROBE" neighbour tvnl0 10.77.9.2)"
expect "no entry is none" "none" "$("$PROBE" neighbour tvnl0 10.77.9.3)"
expect "every entry of the dump" "242" "$("$PROBE" neighbours tvnl0 | wc -l)"
expect "the dump matches ip neigh" \
    "$(ip -4 neigh show dev tvnl0 | awk '{print $1}' | sort | xargs)" \
    "$("$PROBE" neighbours tvnl0 | awk '{print $1}' | sort | xargs)"
expect "other interfaces filtered out" "0" "$("$PROBE" neighbours tvnl1 | wc -l)"
expect "default route" "0.0.0.0/0 via 10.77.9.254 dev $index" \
    "$("$PROBE" routes | grep '^0.0.0.0/0')"

# Routes through nexthop objects: with compat mode off the kernel names only the object, and
# the reader takes the gateway and interface from the nexthop table; a group's gateways are
# its next hops, as are those of a route written with RTA_MULTIPATH.
sysctl -qw net.ipv4.nexthop_compat_mode=0 || fail "nexthop_compat_mode"
ip nexthop add id 7 via 10.77.9.253 dev tvnl0
ip nexthop add id 8 via 10.77.9.251 dev tvnl0
ip nexthop add id 9 via 10.77.9.252 dev tvnl0
ip nexthop add id 10 group 8/9
ip route add 10.66.0.0/16 nhid 7
ip route add 10.67.0.0/16 nhid 10
ip route add 10.68.0.0/16 nexthop via 10.77.9.249 dev tvnl0 nexthop via 10.77.9.250 dev tvnl0
routes=$("$PROBE" routes)
expect "a route through a nexthop object" "10.66.0.0/16 via 10.77.9.253 dev $index" \
    "$(grep '^10.66.0.0/' <<<"$routes")"
expect "a route through a nexthop group" "10.67.0.0/16 via 10.77.9.251,10.77.9.252 dev $index" \
    "$(grep '^10.67.0.0/' <<<"$routes")"
expect "a multipath route" "10.68.0.0/16 via 10.77.9.249,10.77.9.250 dev $index" \
    "$(grep '^10.68.0.0/' <<<"$routes")"
sysctl -qw net.ipv4.nexthop_compat_mode=1
expect "links" "up up" "$("$PROBE" links | awk '$2 == "lo" || $2 == "tvnl0" {print $3}' | xargs)"

# An interface that is gone is an error, not "no entry".
out=$("$PROBE" neighbour 9999 10.77.9.2 2>&1)
status=$?
expect "gone interface: exit 2" 2 "$status"
case $out in *"No such device"*) ok "gone interface: ENODEV named" ;; *) fail "gone interface: $out" ;; esac

# No descriptor left for the netlink socket: an error on every query, never an empty answer.
# The probe lowers RLIMIT_NOFILE to 3 itself once loaded (under prlimit the loader could not
# even open libmnl).
for query in "addresses $index" "neighbours $index" "neighbour $index 10.77.9.3" routes links; do
    # shellcheck disable=SC2086
    out=$("$PROBE" --nofile 3 $query 2>&1)
    status=$?
    if [ "$status" -eq 2 ] && [[ $out == *"Too many open files"* ]]; then
        ok "no socket: $query refused"
    else
        fail "no socket: $query gave exit $status: [$out]"
    fi
done

# The helper's host facts with its watch on follow every change of an address, a route or a
# nexthop object, and are read again for nothing else.
coproc WATCH { exec "$PROBE" watch; }
# Kept now: bash unsets the coprocess's variables once it has ended.
watch_in=${WATCH[1]} watch_out=${WATCH[0]} watch_pid=$WATCH_PID
facts() {
    local line=""
    echo >&"$watch_in"
    read -r -t 5 line <&"$watch_out"
    echo "$line"
}
first=$(facts)
case $first in *"10.77.9.1/24"*"| "*10.77.9.254*) ok "watched facts: the first reading" ;;
*) fail "watched facts: the first reading: [$first]" ;; esac
expect "watched facts: unchanged" "$first" "$(facts)"
ip addr add 10.77.9.8/32 dev tvnl0
case $(facts) in *"10.77.9.8/32"*) ok "watched facts: an added address" ;;
*) fail "watched facts: an added address missing" ;; esac
ip addr del 10.77.9.8/32 dev tvnl0
case $(facts) in *"10.77.9.8/32"*) fail "watched facts: a removed address kept" ;;
*) ok "watched facts: a removed address" ;; esac
ip route add 10.69.0.0/16 via 10.77.9.248 dev tvnl0 table 100
case $(facts) in *" 10.77.9.248"*) ok "watched facts: another table's gateway" ;;
*) fail "watched facts: another table's gateway missing" ;; esac
ip nexthop add id 11 via 10.77.9.247 dev tvnl0
sysctl -qw net.ipv4.nexthop_compat_mode=0
ip route add 10.70.0.0/16 nhid 11
case $(facts) in *" 10.77.9.247"*) ok "watched facts: a nexthop object's gateway" ;;
*) fail "watched facts: a nexthop object's gateway missing" ;; esac
ip nexthop replace id 11 via 10.77.9.246 dev tvnl0
case $(facts) in *" 10.77.9.246"*) ok "watched facts: a nexthop object replaced" ;;
*) fail "watched facts: a nexthop object replaced, still the old gateway" ;; esac
sysctl -qw net.ipv4.nexthop_compat_mode=1
ip neigh add 10.77.9.3 lladdr 02:00:00:00:09:03 dev tvnl0 nud permanent
ip link set tvnl0 down
case $(facts) in *" 10.77.9.254"*) fail "watched facts: routes of a link gone down kept" ;;
*) ok "watched facts: a link gone down takes its routes" ;; esac
ip link set tvnl0 up
ip route add default via 10.77.9.254 dev tvnl0
exec {watch_in}>&-
wait "$watch_pid" 2>/dev/null

# The owner of a UDP port: named for root, uid only for a user who cannot see the process.
expect "free port" "free" "$("$PROBE" owner 6767)"
coproc HOLD { exec "$PROBE" hold 6767; }
holder=$HOLD_PID
read -r -t 5 line <&"${HOLD[0]}"
expect "holder ready" "ready" "${line:-}"
expect "owner named" "uid 0 user root pid $holder program netlink_probe" "$("$PROBE" owner 6767)"
expect "owner hidden from nobody" "uid 0 user root pid 0 program -" \
    "$(setpriv --reuid=65534 --regid=65534 --clear-groups "$PROBE" owner 6767)"
kill "$holder"
wait "$holder" 2>/dev/null

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
