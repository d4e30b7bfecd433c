#!/usr/bin/env bash
# A rack switched on at once: N simulated cards send their first requests at the same moment
# (torvane-cardsim --cards N --spread 0 --interval 1) to torvane-assign, once with a relation
# list of the N cards and once with a pool and --count N. Root; everything runs inside network
# namespaces this script creates.
#   bench/burst/run.sh [--build DIR] [--cards N] [--runs R]
# Prints a Markdown table on stdout: cards answered, total time until the last card had its
# reply, and the 50th/99th percentile of the time from a card's first request to its reply.
set -u

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build
cards=200
runs=1
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$(cd "$2" && pwd) && shift ;;
    --cards) cards=$2 && shift ;;
    --runs) runs=$2 && shift ;;
    *)
        echo "usage: $0 [--build DIR] [--cards N] [--runs R]" >&2
        exit 2
        ;;
    esac
    shift
done
assign=$build/app/torvane-assign
cardsim=$build/tools/cardsim/torvane-cardsim
for p in "$assign" "$cardsim" "$build/app/torvane-helper"; do
    [ -x "$p" ] || {
        echo "no $p: build torvane-assign, torvane-helper and torvane-cardsim first" >&2
        exit 2
    }
done
[ "$cards" -ge 1 ] && [ "$cards" -le 230 ] || {
    echo "--cards must be 1 to 230 (addresses 10.77.0.20 to .249)" >&2
    exit 2
}

# shellcheck source=../../tests/support/netns.sh
source "$top/tests/support/netns.sh"
work=$(mktemp -d)
NETNS_ON_EXIT='[ -n "${KEEP_WORK:-}" ] && echo "kept $work" >&2 || rm -rf "$work"'
MASK=255.255.255.0
GATEWAY=10.77.0.254
export LC_ALL=en_GB.UTF-8 LANGUAGE= 2>/dev/null

mac_of() { printf '02-00-00-00-%02X-%02X' $(((0x4000 + $1) >> 8)) $(((0x4000 + $1) & 255)); }

# run MODE: one burst; prints "answered total p50 p99 assign_exit"
burst() {
    local mode=$1 out=$work/$1 args i
    netns_cleanup
    netns_setup "tvbu$$" || exit 1
    if [ "$mode" = list ]; then
        {
            echo "mac,ip,mask,gateway"
            for ((i = 0; i < cards; i++)); do echo "$(mac_of $i),10.77.0.$((20 + i)),$MASK,$GATEWAY"; done
        } >"$work/cards.csv"
        args=(--list "$work/cards.csv")
    else
        rm -f "$work/record.csv"
        args=(--pool 10.77.0.20-10.77.0.250 --mask $MASK --gateway $GATEWAY --record "$work/record.csv"
            --count "$cards")
    fi
    ip netns exec "$NETNS_PC" ${TIMER:-} "$assign" "${args[@]}" --interface tvpc0 --confirm none \
        --format json --timeout 120 >"$out.assign" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do
        grep -q '"event":"started"' "$out.assign" && break
        sleep 0.05
    done
    ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --cards "$cards" \
        --mac-base "$(mac_of 0)" --spread 0 --interval 1 --timeout 100 --format kv >"$out.cards" 2>&1
    wait "$pid"
    local rc=$?
    # Datagrams the kernel dropped because a receiving socket's queue was full.
    local dropped
    dropped=$(ip netns exec "$NETNS_PC" awk '/^Udp:/ { if (!h) { for (i = 1; i <= NF; i++) f[$i] = i; h = 1 } else print $f["RcvbufErrors"] }' /proc/net/snmp)
    # Each card's time from its first request to its reply ("seconds" of its assigned event).
    sed -n 's/^event=assigned .* seconds=\([0-9.]*\).*/\1/p' "$out.cards" | sort -n >"$out.times"
    awk -v rc=$rc -v d="$dropped" 'BEGIN { n = 0 } { t[++n] = $1 } END {
        if (n == 0) { print 0, "–", "–", "–", rc, d; exit }
        p50 = t[int(0.50 * n + 0.999999)]; p99 = t[int(0.99 * n + 0.999999)]
        printf "%d %.3f %.3f %.3f %d %s\n", n, t[n], p50, p99, rc, d }' "$out.times"
}

echo "$cards cards at once (torvane-cardsim --cards $cards --spread 0 --interval 1), torvane-assign --confirm none"
echo
echo "| run | cards answered | last card answered after (s) | per card p50 / p99 (s) | datagrams dropped by full socket queues | exit |"
echo "|---|---|---|---|---|---|"
for ((r = 1; r <= runs; r++)); do
    for mode in list pool; do
        burst $mode >"$work/result"
        read -r answered total p50 p99 rc dropped <"$work/result"
        label="--list"
        [ "$mode" = pool ] && label="--pool --count $cards (probe-wait 1 s)"
        echo "| $label | $answered/$cards | $total | $p50 / $p99 | $dropped | $rc |"
    done
done
