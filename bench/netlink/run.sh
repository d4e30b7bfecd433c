#!/usr/bin/env bash
# torvane_netlink against the code it replaced, in a network namespace of its own (root needed;
# nothing is sent: a veth pair inside the namespace, permanent neighbour entries):
#   bench/netlink/run.sh build [ENTRIES] [ADDRESSES]
# ENTRIES neighbour entries (default 1000) and ADDRESSES addresses (default 20) on one interface.
set -eu
if [ "${NETLINK_BENCH_IN_NS:-}" != 1 ]; then
    build=$(cd "$1" && pwd)
    shift
    NETLINK_BENCH_IN_NS=1 exec unshare -n bash "$0" "$build" "$@"
fi
build=$1
entries=${2:-1000}
addresses=${3:-20}
ip link set lo up
ip link add tvnb0 type veth peer name tvnb1
ip link set tvnb0 up
ip link set tvnb1 up
for i in $(seq 1 "$addresses"); do
    echo "addr add 10.76.$i.1/24 dev tvnb0"
done | ip -batch -
for i in $(seq 0 $((entries - 1))); do
    printf 'neigh add 10.76.%d.%d lladdr 02:00:00:00:%02x:%02x dev tvnb0 nud permanent\n' \
        $((i / 250 + 1)) $((i % 250 + 2)) $((i / 256)) $((i % 256))
done | ip -batch -
last=$((entries - 1))
NETLINK_BENCH_IF=tvnb0 NETLINK_BENCH_IP="10.76.$((last / 250 + 1)).$((last % 250 + 2))" \
    "$build/bench/netlink/netlink_bench" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true "${@:4}"
