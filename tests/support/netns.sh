# Test networks that exist only inside namespaces the test creates; nothing is ever sent from
# the machine's own namespace. Source it, then:
#   netns_setup PREFIX [--second-nic] [--no-default-route]
# creates "$PREFIX-pc" and "$PREFIX-card" joined by a veth pair (pc: tvpc0 10.77.0.1/24;
# card: tvcard0 without an address, like a fresh card). With --second-nic a third namespace
# "$PREFIX-other" is joined to pc by tvpc1 10.78.0.1/24 <-> tvoth0 10.78.0.254/24 and holds
# the pc's default route; otherwise the default route is via 10.77.0.254 on tvpc0, unless
# --no-default-route. With --pc-no-address tvpc0 has no address (and no default route of its
# own). With --firewall the pc drops inbound UDP port 67 in an nftables input chain, as ufw's
# default policy does. netns_cleanup runs on exit, then the commands in NETNS_ON_EXIT.
# shellcheck shell=bash

NETNS_CREATED=()

netns_fail() {
    echo "netns: $*" >&2
    exit 1
}

netns_cleanup() {
    local ns
    for ns in "${NETNS_CREATED[@]}"; do
        # Kill whatever still runs inside before the namespace goes.
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null
        ip netns del "$ns" 2>/dev/null
    done
    NETNS_CREATED=()
}

netns_add() {
    ip netns add "$1" || netns_fail "cannot create namespace $1 (root and iproute2 needed)"
    NETNS_CREATED+=("$1")
    ip -n "$1" link set lo up || netns_fail "cannot set lo up in $1"
}

netns_setup() {
    local prefix=$1 second=0 defroute=1 address=1 firewall=0
    shift
    while [ $# -gt 0 ]; do
        case $1 in
        --second-nic) second=1 ;;
        --no-default-route) defroute=0 ;;
        --pc-no-address) address=0 ;;
        --firewall) firewall=1 ;;
        *) netns_fail "unknown option $1" ;;
        esac
        shift
    done
    [ "$(id -u)" -eq 0 ] || netns_fail "network namespace tests need root"
    trap 'netns_cleanup; eval "${NETNS_ON_EXIT:-}"' EXIT
    # A test killed by a signal still removes its namespaces.
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
    NETNS_PC="$prefix-pc"
    NETNS_CARD="$prefix-card"
    netns_add "$NETNS_PC"
    netns_add "$NETNS_CARD"
    # Created straight inside the namespaces: no interface ever appears in the default one.
    ip -n "$NETNS_PC" link add tvpc0 type veth peer name tvcard0 netns "$NETNS_CARD" ||
        netns_fail "cannot create the veth pair"
    [ $address -eq 1 ] && ip -n "$NETNS_PC" addr add 10.77.0.1/24 dev tvpc0
    ip -n "$NETNS_PC" link set tvpc0 up
    ip -n "$NETNS_CARD" link set tvcard0 up
    if [ $second -eq 1 ]; then
        NETNS_OTHER="$prefix-other"
        netns_add "$NETNS_OTHER"
        ip -n "$NETNS_PC" link add tvpc1 type veth peer name tvoth0 netns "$NETNS_OTHER" ||
            netns_fail "cannot create the second veth pair"
        ip -n "$NETNS_PC" addr add 10.78.0.1/24 dev tvpc1
        ip -n "$NETNS_PC" link set tvpc1 up
        ip -n "$NETNS_OTHER" addr add 10.78.0.254/24 dev tvoth0
        ip -n "$NETNS_OTHER" link set tvoth0 up
        [ $defroute -eq 1 ] && ip -n "$NETNS_PC" route add default via 10.78.0.254 dev tvpc1
    elif [ $defroute -eq 1 ] && [ $address -eq 1 ]; then
        ip -n "$NETNS_PC" route add default via 10.77.0.254 dev tvpc0
    fi
    if [ $firewall -eq 1 ]; then
        printf '%s\n' 'table inet tvfirewall {' '  chain input {' \
            '    type filter hook input priority filter; policy accept;' \
            '    udp dport 67 counter drop' '  }' '}' | ip netns exec "$NETNS_PC" nft -f - ||
            netns_fail "cannot install the firewall rule (nftables needed)"
    fi
    # Let the veth pairs come up before anyone sends.
    local i
    for i in $(seq 50); do
        ip -n "$NETNS_PC" -br link show tvpc0 | grep -q UP && break
        sleep 0.1
    done
    return 0
}
