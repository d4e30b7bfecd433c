#!/usr/bin/env bash
# Card detection under a flood of foreign DHCP traffic, in test namespaces (root needed):
#   bench/flood/run.sh build [SAMPLES] [RATES...]
set -eu
build=$(cd "$1" && pwd)
samples=${2:-50}
shift $(($# < 2 ? $# : 2))
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(0 10000 50000 100000)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tests/support/netns.sh"
netns_setup "tvfl$$"
runtime=$(mktemp -d)
NETNS_ON_EXIT='rm -rf "$runtime"'
printf '%-10s %s\n' "rate/s" "result"
for rate in "${rates[@]}"; do
    flood=""
    if [ "$rate" -gt 0 ]; then
        ip netns exec "$NETNS_CARD" "$build/tools/cardsim/torvane-cardsim" --interface tvcard0 \
            --flood "$rate" --duration 600 >/dev/null 2>&1 &
        flood=$!
        sleep 1
    fi
    result=$(ip netns exec "$NETNS_PC" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" \
        "$build/app/flood_bench" "$NETNS_CARD" "$samples" 2>/dev/null | grep latency_ms)
    printf '%-10s %s\n' "$rate" "$result"
    if [ -n "$flood" ]; then
        kill "$flood" 2>/dev/null
        wait "$flood" 2>/dev/null || true
    fi
done
