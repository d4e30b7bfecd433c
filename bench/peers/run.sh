#!/usr/bin/env bash
# General DHCP/BOOTP servers beside torvane-assign, on the same veth pair against the same
# simulated cards. Root; everything runs inside network namespaces this script creates.
#   bench/peers/run.sh [--build DIR] [--assign PATH] [--cards N] [--burst N] [--flood RATE]
#                      [--runs N] [--short] [--baseline PATH]
#                      [--servers "dnsmasq kea torvane-assign"]
# --baseline adds a column for another build's torvane-assign (with its torvane-helper
# beside it), measured in the same runs: a change's before and after.
# Prints a Markdown table on stdout, each cell the median of the runs with their range;
# progress on stderr.
set -u

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build
assign=""
baseline=""
cards=100
burst=200
flood=50000
runs=3
servers="dnsmasq kea torvane-assign"
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$(cd "$2" && pwd) && shift ;;
    --assign) assign=$2 && shift ;;
    --baseline) baseline=$2 && shift ;;
    --cards) cards=$2 && shift ;;
    --burst) burst=$2 && shift ;;
    --flood) flood=$2 && shift ;;
    --runs) runs=$2 && shift ;;
    --short) cards=20 burst=50 flood=20000 runs=1 ;; # a minute, for development
    --servers) servers=$2 && shift ;;
    *)
        echo "usage: $0 [--build DIR] [--assign PATH] [--baseline PATH] [--cards N] [--burst N] [--flood RATE] [--runs N] [--short] [--servers LIST]" >&2
        exit 2
        ;;
    esac
    shift
done
[ -n "$assign" ] || assign=$build/app/torvane-assign
[ -n "$baseline" ] && servers+=" baseline"
is_assign() { [ "$1" = torvane-assign ] || [ "$1" = baseline ]; }
cardsim=$build/tools/cardsim/torvane-cardsim
[ -x "$cardsim" ] || {
    echo "no $cardsim: build the target torvane-cardsim first" >&2
    exit 2
}
[ "$cards" -ge 1 ] && [ "$cards" -le 230 ] && [ "$burst" -ge 0 ] && [ "$burst" -le 230 ] || {
    echo "--cards must be 1 to 230 and --burst 0 to 230 (addresses 10.77.0.20 to .249)" >&2
    exit 2
}
[ "$runs" -ge 1 ] 2>/dev/null || {
    echo "--runs must be 1 or more" >&2
    exit 2
}
listed=$((cards > burst ? cards : burst))

# shellcheck source=../../tests/support/netns.sh
source "$top/tests/support/netns.sh"
work=$(mktemp -d)
NETNS_ON_EXIT='[ -n "${KEEP_WORK:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
rmdir "$cg_root"/torvane-bench.$$.* 2>/dev/null'
SPREAD=2      # the cards' first requests spread over 2 s: latency without a queue of cards
FLOOD_LEAD=1  # the flood runs this long before the cards start
CARD_TIMEOUT=4
MASK=255.255.255.0
GATEWAY=10.77.0.254
KEA_HOOK=$(ls /usr/lib/*/kea/hooks/libdhcp_bootp.so 2>/dev/null | head -1)

log() { echo "== $*" >&2; }
in_pc() { ip netns exec "$NETNS_PC" "$@"; }

# Card i: MAC 02-00-00-00-10-00 + i, address 10.77.0.20 + i.
mac_of() { printf '02-00-00-00-%02X-%02X' $(((0x1000 + $1) >> 8)) $(((0x1000 + $1) & 255)); }
ip_of() { echo "10.77.0.$((20 + $1))"; }
relations() { # what the operator's list says: "MAC IP" per card, the first N (default all)
    local i n=${1:-$listed}
    for ((i = 0; i < n; i++)); do echo "$(mac_of $i) $(ip_of $i)"; done
}
# The whole machine's softirq time in jiffies: where the kernel runs socket filters and
# delivers datagrams, whichever process they are for.
softirq() { awk '/^cpu / { print $8 }' /proc/stat; }
hz=$(getconf CLK_TCK)

kv() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" | head -1; }
ms() { [ -n "$1" ] && awk -v s="$1" 'BEGIN { printf "%.3f", s * 1000 }' || echo "–"; }

# CPU time of a running process and all its threads, in ns: the scheduler's run time, which
# is utime + stime without their 10 ms ticks.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { printf "%.0f", t }'; }

wait_port67() { # until something in the pc namespace listens on UDP 67
    local i
    for i in $(seq 100); do
        [ -n "$(in_pc ss -Hlun 'sport = :67')" ] && return 0
        sleep 0.1
    done
    return 1
}

start_dnsmasq() {
    local conf=$work/dnsmasq.conf
    {
        echo "port=0"
        echo "interface=tvpc0"
        echo "bind-interfaces"
        echo "dhcp-range=10.77.0.0,static,$MASK"
        # Known cards only, and no line per datagram: the same work torvane-assign does.
        echo "dhcp-ignore=tag:!known"
        echo "quiet-dhcp"
        # dnsmasq 2.90 writes these options in the opposite order of their lines, after its
        # own option 28: router first here puts the mask at offset 246 and the router at 252.
        echo "dhcp-option=3,$GATEWAY"
        echo "dhcp-option=1,$MASK"
        relations | while read -r mac address; do echo "dhcp-host=${mac//-/:},$address"; done
    } >"$conf"
    CONFIG_LINES=$(grep -c . "$conf")
    # Lease file, pid file and log are the bench's plumbing, not the operator's configuration.
    ip netns exec "$NETNS_PC" dnsmasq --conf-file="$conf" --keep-in-foreground \
        --log-facility=- --pid-file="$work/dnsmasq.pid" --dhcp-leasefile="$work/dnsmasq.leases" \
        >/dev/null 2>"$work/dnsmasq.log" &
    SERVER_PID=$!
}

start_kea() {
    local conf=$work/kea.json i
    {
        echo '{ "Dhcp4": {'
        echo '  "interfaces-config": { "interfaces": [ "tvpc0" ] },'
        echo "  \"lease-database\": { \"type\": \"memfile\", \"name\": \"$work/kea-leases.csv\" },"
        echo "  \"hooks-libraries\": [ { \"library\": \"$KEA_HOOK\" } ],"
        # Known cards only: a client without a reservation is dropped.
        echo '  "client-classes": [ { "name": "DROP", "test": "not member('"'"'KNOWN'"'"')" } ],'
        echo '  "subnet4": [ {'
        echo '    "id": 1, "subnet": "10.77.0.0/24",'
        echo "    \"option-data\": [ { \"name\": \"subnet-mask\", \"data\": \"$MASK\" },"
        echo "                     { \"name\": \"routers\", \"data\": \"$GATEWAY\" } ],"
        echo '    "reservations": ['
        i=0
        relations | while read -r mac address; do
            i=$((i + 1))
            printf '      { "hw-address": "%s", "ip-address": "%s" }%s\n' "${mac//-/:}" "$address" \
                "$([ $i -lt "$listed" ] && echo ,)"
        done
        echo '    ]'
        echo '  } ]'
        echo '} }'
    } >"$conf"
    CONFIG_LINES=$(grep -c . "$conf")
    ip netns exec "$NETNS_PC" env KEA_PIDFILE_DIR="$work" KEA_LOCKFILE_DIR="$work" \
        kea-dhcp4 -c "$conf" >/dev/null 2>"$work/kea.log" &
    SERVER_PID=$!
}

# Every phase starts the server afresh on an empty lease database, as torvane-assign starts
# each phase from no record: a server that still knows the cards of the phase before, in its
# memory or its lease file, skips writing their leases (dnsmasq's fsync per card) and is
# measured on re-confirmations, not on first addresses.
start_peer() { # dnsmasq | kea; sets SERVER_PID
    rm -f "$work"/dnsmasq.leases "$work"/kea-leases.csv*
    case $1 in
    dnsmasq) start_dnsmasq ;;
    kea) start_kea ;;
    esac
}
restart_peer() { # server: a new process on an empty lease database, listening; false if not
    is_assign "$1" && return 0
    kill -TERM "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
    start_peer "$1" && wait_port67
}

write_list() { # N: the list of the first N cards, as one run waits for them all
    local list=$work/cards-$1.csv
    {
        echo "mac,ip,mask,gateway"
        relations "$1" | while read -r mac address; do echo "$mac,$address,$MASK,$GATEWAY"; done
    } >"$list"
    CONFIG_LINES=$(grep -c . "$list")
}

# torvane-assign is started for each batch of cards and ends when all are assigned. Its CPU
# time, with its helper's listener and writer, is what ran in a cgroup of its own: the writer
# outlives the listener that forked it and is reaped by init, so the `times` of a shell that
# waited for torvane-assign would miss it.
# With CONFIRM=http it checks each card's page, as it does by default; the flood runs have
# no pages, so they use --confirm none.
if [ -f /sys/fs/cgroup/cgroup.controllers ]; then
    cg_root=/sys/fs/cgroup
elif [ -d /sys/fs/cgroup/cpuacct ]; then
    cg_root=/sys/fs/cgroup/cpuacct
else
    echo "no cgroup2 or cgroup v1 cpuacct to count torvane-assign's CPU in" >&2
    exit 2
fi
cg_n=0
start_assign() { # N; sets SERVER_PID and GROUP
    local program=$assign
    [ "$s" = baseline ] && program=$baseline
    GROUP=$cg_root/torvane-bench.$$.$((cg_n += 1))
    mkdir "$GROUP" || return 1
    # Into the group before `ip netns exec`, which mounts a /sys of the namespace's own.
    bash -c 'echo $$ >"$GROUP/cgroup.procs" && exec ip netns exec "$@" >"$OUT" 2>&1' _ "$NETNS_PC" \
        "$program" --list "$work/cards-$1.csv" --interface tvpc0 --format json \
        --confirm "${CONFIRM:-none}" --confirm-timeout 20 --timeout 40 &
    SERVER_PID=$!
}
export OUT GROUP
group_ns() { # the CPU time, in ns, of everything that ran in the cgroup GROUP
    if [ -f "$GROUP/cpuacct.usage" ]; then
        cat "$GROUP/cpuacct.usage"
    else
        awk '$1 == "usage_usec" { printf "%.0f", $2 * 1000 }' "$GROUP/cpu.stat"
    fi
}
started_ns() { # group_ns once torvane-assign has said that it started: its start-up
    local i
    for i in $(seq 250); do
        grep -q '"event":"started"' "$OUT" 2>/dev/null && break
        sleep 0.02
    done
    group_ns
}
group_end_ns() { # group_ns once the last process of GROUP has ended; removes the group
    local i
    for i in $(seq 200); do
        [ -n "$(cat "$GROUP/cgroup.procs")" ] || break
        sleep 0.01
    done
    group_ns
    rmdir "$GROUP" 2>/dev/null
}

card_options() { echo --interface tvcard0 --cards "$cards" --mac-base "$(mac_of 0)" --spread $SPREAD --interval 1 --format kv; }
reachable() { # GETs every assigned address from the pc namespace; counts the cards' own pages
    local out=$1 mac address n=0
    while read -r mac address; do
        in_pc timeout 5 bash -c 'exec 3<>/dev/tcp/$1/80 &&
            printf "GET / HTTP/1.0\r\n\r\n" >&3 && cat <&3' _ "$address" 2>/dev/null |
            grep -q "<title>Web/SNMP Card $mac</title>" && echo ok &
    done < <(sed -n 's/^event=assigned mac=\([^ ]*\) address=\([^ ]*\) .*/\1 \2/p' "$out") >"$out.get"
    wait
    grep -c ok "$out.get"
}

reserved() { # cards given the address the list holds for their MAC
    relations | sort >"$1.want"
    sed -n 's/^event=assigned mac=\([^ ]*\) address=\([^ ]*\) .*/\1 \2/p' "$1" | sort >"$1.got"
    comm -12 "$1.want" "$1.got" | wc -l
}

# The kernel's count of datagrams dropped on the server's socket for a full queue. torvane-helper
# reads its packet socket's PACKET_STATISTICS and names them on stderr when its search ends
# (torvane-assign's output holds that line); dnsmasq's UDP socket on port 67 has them in
# /proc/net/udp. Kea reads a packet socket of its own, whose counters only it could read.
udp_drops() { in_pc cat /proc/net/udp | awk '$2 ~ /:0043$/ { d += $NF } END { print d + 0 }'; }
helper_counters() { # torvane-assign's output -> "received dropped"
    sed -n 's/^torvane-helper: packet socket: \([0-9]*\) received, \([0-9]*\) dropped.*/\1 \2/p' "$1" |
        awk '{ r += $1; d += $2 } END { if (NR) print r, d }'
}
drops_of() { # server, torvane-assign's output, dnsmasq's count before
    case $1 in
    torvane-assign | baseline) helper_counters "$2" | awk '{ print $2 }' ;;
    dnsmasq) echo $(($(udp_drops) - $3)) ;;
    *) echo "–" ;;
    esac
}
own() { echo $(($(kv assigned <<<"$1") - $(kv other_layout <<<"$1"))); }

declare -A R # this run's figures: [server, key]
declare -A V # every run's figures, one a line: [server, key]
declare -A NOTE

# One flood run: KIND discover (foreign DHCPDISCOVERs) or cards (card requests from foreign
# MACs, which pass a card filter); the cards ask after FLOOD_LEAD. Sets R[$s, PREFIX...].
flood_run() { # server kind prefix
    local s=$1 kind=$2 x=$3 out=$work/r$RUN.$1.$2 t0 t1 cpu0 cpu1 irq0 irq1 flood_pid summary floodline
    local extra=() drops0
    [ "$kind" = cards ] && extra=(--flood-cards)
    restart_peer "$s" || NOTE[$s]="did not listen on port 67 again"
    t0=$(date +%s%N)
    is_assign "$s" && OUT=$out.server && CONFIRM=none start_assign "$cards" && wait_port67
    irq0=$(softirq)
    drops0=$(udp_drops)
    ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --flood "$flood" "${extra[@]}" \
        --duration $((FLOOD_LEAD + SPREAD + CARD_TIMEOUT + 1)) --format kv >"$out.flood" 2>&1 &
    flood_pid=$!
    is_assign "$s" || t0=$(date +%s%N)
    cpu0=$(cpu_ns "$SERVER_PID")
    sleep $FLOOD_LEAD
    # shellcheck disable=SC2046
    ip netns exec "$NETNS_CARD" "$cardsim" $(card_options) --timeout $CARD_TIMEOUT --any-layout \
        >"$out" 2>&1
    # The share of one core the server used while the flood ran and the cards were waiting
    # (torvane-assign: over its whole run, which ends when its cards are done).
    if is_assign "$s"; then
        wait "$SERVER_PID"
        t1=$(date +%s%N)
        R[$s, ${x}cpu]=$(awk -v t="$(group_end_ns)" -v w=$((t1 - t0)) \
            'BEGIN { printf "%.0f", t / w * 100 }')
    else
        cpu1=$(cpu_ns "$SERVER_PID")
        t1=$(date +%s%N)
        R[$s, ${x}cpu]=$(awk -v t=$((cpu1 - cpu0)) -v w=$((t1 - t0)) \
            'BEGIN { printf "%.0f", t / w * 100 }')
    fi
    irq1=$(softirq)
    R[$s, ${x}irq]=$(awk -v j=$((irq1 - irq0)) -v hz="$hz" -v w=$((t1 - t0)) \
        'BEGIN { printf "%.0f", j / hz / (w / 1e9) * 100 }')
    wait "$flood_pid"
    summary=$(grep '^event=summary' "$out")
    R[$s, ${x}answered]=$(kv answered <<<"$summary")
    R[$s, ${x}own]=$(own "$summary")
    R[$s, ${x}requests]=$(sed -n 's/^event=\(assigned\|invalid\|timeout\) .* requests=\([0-9]*\).*/\2/p' \
        "$out" | awk '{ t += $1 } END { print t + 0 }')
    R[$s, ${x}p50]=$(ms "$(kv p50 <<<"$summary")")
    R[$s, ${x}p99]=$(ms "$(kv p99 <<<"$summary")")
    R[$s, ${x}drops]=$(drops_of "$s" "$out.server" "$drops0")
    floodline=$(grep '^event=flood' "$out.flood")
    R[$s, ${x}foreign]=$(kv foreign_replies <<<"$floodline")
    R[$s, ${x}rate]=$(kv rate <<<"$floodline")
}

measure() { # server
    local s=$1 quiet=$work/r$RUN.$1.quiet bursting=$work/r$RUN.$1.burst cards_pid cpu0 cpu1 served
    local drops0
    netns_cleanup
    netns_setup "tvpb$$" || exit 1
    case $s in
    dnsmasq | kea) start_peer "$s" ;;
    torvane-assign | baseline)
        write_list "$burst"
        write_list "$cards" && OUT=$quiet.server && CONFIRM=http start_assign "$cards"
        ;;
    esac
    R[$s, config]=$CONFIG_LINES
    if ! wait_port67; then
        NOTE[$s]="did not listen on port 67"
        kill "$SERVER_PID" 2>/dev/null
        return
    fi

    log "run $RUN, $s: $cards cards, pages served"
    : >"$quiet"
    # Each server's CPU is counted from here, when it has started, to the last card's reply;
    # what it took to start is a row of its own.
    if is_assign "$s"; then
        cpu0=$(OUT=$quiet.server started_ns)
    else
        cpu0=$(cpu_ns "$SERVER_PID")
        R[$s, startcpu]=$(awk -v t="$cpu0" 'BEGIN { printf "%.1f", t / 1e6 }')
    fi
    # shellcheck disable=SC2046
    ip netns exec "$NETNS_CARD" "$cardsim" $(card_options) --timeout 8 --any-layout \
        --serve-http --serve-seconds 60 >"$quiet" 2>&1 &
    cards_pid=$!
    for _ in $(seq 300); do
        served=$(grep -c '^event=serving' "$quiet")
        grep -q '^event=summary' "$quiet" &&
            [ "$served" -ge "$(kv assigned <<<"$(grep '^event=summary' "$quiet")")" ] && break
        sleep 0.1
    done
    if is_assign "$s"; then
        # It ends when every card's page has answered it.
        wait "$SERVER_PID"
        R[$s, cpuhttp]=$(awk -v t=$(($(group_end_ns) - cpu0)) -v n="$cards" \
            'BEGIN { printf "%.3f", t / 1e6 / n }')
        R[$s, confirmed]=$(grep -c '"event":"confirmed"' "$quiet.server")
    else
        cpu1=$(cpu_ns "$SERVER_PID")
        R[$s, cpu]=$(awk -v t=$((cpu1 - cpu0)) -v n="$cards" 'BEGIN { printf "%.3f", t / 1e6 / n }')
        R[$s, cpuhttp]="– (no check)"
        R[$s, confirmed]="– (no check)"
    fi
    R[$s, reachable]=$(reachable "$quiet")
    kill -TERM "$cards_pid" 2>/dev/null
    wait "$cards_pid" 2>/dev/null
    local summary
    summary=$(grep '^event=summary' "$quiet")
    R[$s, answered]=$(kv answered <<<"$summary")
    R[$s, own]=$(own "$summary")
    R[$s, reserved]=$(reserved "$quiet")
    R[$s, p50]=$(ms "$(kv p50 <<<"$summary")")
    R[$s, p99]=$(ms "$(kv p99 <<<"$summary")")
    R[$s, fault]=$(sed -n 's/^event=assigned .* card_fault=\([^ ]*\).*/\1/p' "$quiet" | sort |
        uniq -c | awk '{ printf "%s%s (%d)", (NR > 1 ? ", " : ""), $2, $1 }')

    if is_assign "$s"; then
        # The same cards without the page check, which the general servers do not make.
        log "run $RUN, $s: $cards cards, --confirm none"
        OUT=$quiet.plain.server && CONFIRM=none start_assign "$cards" && wait_port67
        cpu0=$(started_ns)
        R[$s, startcpu]=$(awk -v t="$cpu0" 'BEGIN { printf "%.1f", t / 1e6 }')
        # shellcheck disable=SC2046
        ip netns exec "$NETNS_CARD" "$cardsim" $(card_options) --timeout 8 --any-layout \
            >"$quiet.plain" 2>&1
        wait "$SERVER_PID"
        R[$s, cpu]=$(awk -v t=$(($(group_end_ns) - cpu0)) -v n="$cards" \
            'BEGIN { printf "%.3f", t / 1e6 / n }')
    fi

    if [ "$burst" -gt 0 ]; then
        log "run $RUN, $s: $burst cards at the same moment"
        restart_peer "$s" || NOTE[$s]="did not listen on port 67 again"
        drops0=$(udp_drops)
        is_assign "$s" && OUT=$bursting.server && CONFIRM=none start_assign "$burst" &&
            wait_port67
        ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --cards "$burst" \
            --mac-base "$(mac_of 0)" --spread 0 --interval 1 --timeout 8 --any-layout \
            --format kv >"$bursting" 2>&1
        is_assign "$s" && wait "$SERVER_PID"
        summary=$(grep '^event=summary' "$bursting")
        R[$s, banswered]=$(kv answered <<<"$summary")
        R[$s, bown]=$(own "$summary")
        # From each card's first request to its reply: by the kernel's clocks (since_first), and
        # as the simulator's loop read it (its assigned event's seconds).
        local b50 b99 field
        for field in since_first seconds; do
            read -r b50 b99 < <(sed -n "s/^event=assigned .* $field=\([0-9.]*\).*/\1/p" \
                "$bursting" | sort -n | awk '{ t[++n] = $1 } END {
                if (n) printf "%.0f %.0f\n", t[int(0.5 * n + 0.999999)] * 1000, t[int(0.99 * n + 0.999999)] * 1000
                else print "– –" }')
            if [ "$field" = seconds ]; then
                R[$s, bread50]=$b50
                R[$s, bread99]=$b99
            else
                R[$s, bp50]=$b50
                R[$s, bp99]=$b99
            fi
        done
        R[$s, brequests]=$(sed -n 's/^event=\(assigned\|invalid\|timeout\) .* requests=\([0-9]*\).*/\2/p' \
            "$bursting" | awk '{ t += $1 } END { print t + 0 }')
        R[$s, bdrops]=$(drops_of "$s" "$bursting.server" "$drops0")
    fi

    log "run $RUN, $s: $cards cards while $flood foreign DISCOVERs/s flood port 67"
    flood_run "$s" discover f
    log "run $RUN, $s: $cards cards while $flood card requests/s from foreign MACs flood port 67"
    flood_run "$s" cards c
    kill -TERM "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
}

columns=()
for s in $servers; do
    case $s in
    dnsmasq) command -v dnsmasq >/dev/null || NOTE[$s]="dnsmasq not installed" ;;
    kea) command -v kea-dhcp4 >/dev/null && [ -n "$KEA_HOOK" ] ||
        NOTE[$s]="kea-dhcp4 or its BOOTP hook not installed" ;;
    torvane-assign) [ -x "$assign" ] || NOTE[$s]="not built" ;;
    baseline) [ -x "$baseline" ] || NOTE[$s]="no $baseline" ;;
    *)
        echo "unknown server $s" >&2
        exit 2
        ;;
    esac
    columns+=("$s")
done
load0=$(cut -d' ' -f1-3 /proc/loadavg)
# The servers take turns within each run, so that a busy moment of the machine falls on all.
for ((RUN = 1; RUN <= runs; RUN++)); do
    for s in "${columns[@]}"; do
        [ -n "${NOTE[$s]:-}" ] && continue
        R=()
        measure "$s"
        for k in "${!R[@]}"; do V[$k]+="${R[$k]}"$'\n'; done
    done
done
load1=$(cut -d' ' -f1-3 /proc/loadavg)

# The runs' values of one cell, one a line -> the median and, when the runs differ, their
# range: "97/100 (94–100)". A cell without a number gives its distinct texts.
summarise() { # suffix
    awk -v unit="$1" '
        $0 != "" && $0 != "–" { v[++n] = $0 }
        END {
            if (!n) { print "–"; exit }
            for (i = 1; i <= n; i++) if (v[i] !~ /^-?[0-9]+(\.[0-9]+)?$/) text = 1
            if (text) {
                for (i = 1; i <= n; i++) if (!(v[i] in seen)) { seen[v[i]]; out = out (out == "" ? "" : "; ") v[i] }
                print out; exit
            }
            for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j] + 0 < v[j - 1] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
            m = v[int((n + 1) / 2)]
            if (v[1] + 0 == v[n] + 0) printf "%s%s\n", m, unit
            else printf "%s%s (%s–%s)\n", m, unit, v[1], v[n]
        }'
}
cell() { # server key [suffix]
    if [ -n "${NOTE[$1]:-}" ]; then echo "${NOTE[$1]}"; else printf '%s' "${V[$1, $2]:-}" | summarise "${3:-}"; fi
}
row() { # label key [suffix]
    local line="| $1 |" s
    for s in "${columns[@]}"; do line+=" $(cell "$s" "$2" "${3:-}") |"; done
    echo "$line"
}
pair() { # label key1 key2
    local line="| $1 |" s
    for s in "${columns[@]}"; do
        if [ -n "${NOTE[$s]:-}" ]; then line+=" ${NOTE[$s]} |"; else
            line+=" $(cell "$s" "$2") / $(cell "$s" "$3") |"; fi
    done
    echo "$line"
}

version() {
    case $1 in
    dnsmasq) dnsmasq --version 2>/dev/null | sed -n '1s/^Dnsmasq version \([^ ]*\).*/dnsmasq \1/p' ;;
    kea) echo "Kea $(kea-dhcp4 -V 2>/dev/null | head -1) + BOOTP hook" ;;
    torvane-assign) "$assign" --version 2>/dev/null | head -1 ;;
    baseline) echo "$("$baseline" --version 2>/dev/null | head -1), baseline" ;;
    esac
}

machine=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "$cards cards (MACs $(mac_of 0) to $(mac_of $((cards - 1))), first requests spread over ${SPREAD} s);"
echo "a burst of $burst cards asking at the same moment; floods of $flood datagrams/s."
[ "$runs" -eq 1 ] && echo "One run." || echo "Each cell: the median of $runs runs, and their range when they differ."
echo "Machine: $(uname -n), $(nproc) cores ($machine), Linux $(uname -r); load average $load0 before, $load1 after."
echo "Reproduce: sudo bench/peers/run.sh --cards $cards --burst $burst --flood $flood --runs $runs"
echo
header="| |"
rule="|---|"
for s in "${columns[@]}"; do
    header+=" $(version "$s") |"
    rule+="---|"
done
echo "$header"
echo "$rule"
row "cards answered" answered "/$cards"
row "replies a card takes (options at 246-258)" own "/$cards"
row "why the card refuses the others" fault
row "cards given their reserved address" reserved "/$cards"
pair "request-to-reply latency p50 / p99 (ms)" p50 p99
row "cards confirmed by the server (HTTP GET of the card's page)" confirmed "/$cards"
row "cards reachable by HTTP GET" reachable "/$cards"
row "server CPU per assigned card, no confirmation (ms)" cpu
row "server CPU per assigned card, confirming each page (ms)" cpuhttp
row "server CPU to start, before the first card (ms)" startcpu
row "burst: cards answered within 8 s" banswered "/$burst"
row "burst: replies a card takes" bown "/$burst"
pair "burst: first request to reply, p50 / p99 (ms)" bp50 bp99
pair "burst: the same as the simulator's loop read the replies (ms)" bread50 bread99
row "burst: requests the cards sent ($burst = none lost)" brequests
row "burst: datagrams the kernel dropped at the server's socket" bdrops
pair "under $flood foreign DISCOVERs/s: latency p50 / p99 (ms)" fp50 fp99
row "  cards answered (within $CARD_TIMEOUT s)" fanswered "/$cards"
row "  replies a card takes" fown "/$cards"
row "  requests the cards sent ($cards = none lost)" frequests
row "  datagrams the kernel dropped at the server's socket" fdrops
row "  server CPU (share of one core)" fcpu " %"
row "  softirq CPU of the whole machine (share of one core)" firq " %"
row "  replies sent to the foreign clients" fforeign
row "  flood rate achieved (/s)" frate
pair "under $flood card requests/s from foreign MACs: latency p50 / p99 (ms)" cp50 cp99
row "  cards answered (within $CARD_TIMEOUT s)" canswered "/$cards"
row "  replies a card takes" cown "/$cards"
row "  requests the cards sent ($cards = none lost)" crequests
row "  datagrams the kernel dropped at the server's socket" cdrops
row "  server CPU (share of one core)" ccpu " %"
row "  softirq CPU of the whole machine (share of one core)" cirq " %"
row "  replies sent to the foreign cards" cforeign
row "  flood rate achieved (/s)" crate
row "lines of configuration written" config
