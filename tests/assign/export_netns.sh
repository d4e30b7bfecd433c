#!/bin/bash
# torvane-assign --export loaded into the real dnsmasq and Kea (with its BOOTP hook), in
# namespaces this test creates: simulated cards ask, and each must be given the address its
# record line holds. Nothing is sent from the machine's own namespace.
#   export_netns.sh SOURCE_DIR ASSIGN CARDSIM
set -u
# The messages checked here are the English ones.
export LC_ALL=en_GB.UTF-8 LANGUAGE= 2>/dev/null

SOURCE_DIR=$1
ASSIGN=$2
CARDSIM=$3
# shellcheck source=../support/netns.sh
source "$SOURCE_DIR/tests/support/netns.sh"

FAILURES=0
WORK=$(mktemp -d)
chmod 755 "$WORK"
MASK=255.255.255.0
GW=10.77.0.254
CARDS=5
KEA_HOOK=$(ls /usr/lib/*/kea/hooks/libdhcp_bootp.so 2>/dev/null | head -1)

fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}
pass() { echo "ok: $*"; }
in_pc() { ip netns exec "$NETNS_PC" "$@"; }

command -v dnsmasq >/dev/null || { echo "dnsmasq (dnsmasq-base) is not installed" >&2; exit 1; }
command -v kea-dhcp4 >/dev/null && [ -n "$KEA_HOOK" ] ||
    { echo "kea-dhcp4 or its BOOTP hook (kea-dhcp4-server) is not installed" >&2; exit 1; }

# A record as a roll-out leaves it, with names and a column of the operator's own.
{
    echo 'mac,ip,mask,gateway,time,confirmed,name,Location'
    for ((i = 0; i < CARDS; i++)); do
        printf '02-00-00-00-30-%02X,10.77.0.%d,%s,%s,2026-03-02T10:14:05+01:00,yes,"UPS %d, top",Hall %d\n' \
            "$i" $((71 + i)) $MASK $GW "$i" "$i"
    done
} >"$WORK/record.csv"
want=$(tail -n +2 "$WORK/record.csv" | cut -d, -f1,2 | tr , ' ' | sort)

"$ASSIGN" --export dnsmasq --record "$WORK/record.csv" >"$WORK/hosts.conf" 2>"$WORK/export.err" ||
    fail "--export dnsmasq: $(cat "$WORK/export.err")"
"$ASSIGN" --export kea --record "$WORK/record.csv" >"$WORK/reservations.json" 2>"$WORK/export.err" ||
    fail "--export kea: $(cat "$WORK/export.err")"
python3 -m json.tool "$WORK/reservations.json" >/dev/null 2>&1 && pass "the Kea export is JSON" ||
    fail "the Kea export is not JSON: $(cat "$WORK/reservations.json")"

finish() {
    [ -n "${SERVER_PID:-}" ] && kill "$SERVER_PID" 2>/dev/null
    netns_cleanup
    rm -rf "$WORK"
}

# The cards ask; sets GOT to "MAC ADDRESS" per answered card and LAYOUT to the count of
# replies in the card's own layout.
ask() { # name
    ip netns exec "$NETNS_CARD" "$CARDSIM" --interface tvcard0 --cards $CARDS \
        --mac-base 02-00-00-00-30-00 --spread 0 --interval 1 --timeout 10 --any-layout \
        --format kv >"$WORK/$1.cards" 2>"$WORK/$1.cards.err"
    LAYOUT=$(grep -c '^event=assigned .*layout=card' "$WORK/$1.cards")
    SETTINGS=$(sed -n 's/^event=assigned .* mask=\([^ ]*\) gateway=\([^ ]*\).*/\1 \2/p' \
        "$WORK/$1.cards" | sort -u)
    GOT=$(sed -n 's/^event=assigned mac=\([^ ]*\) address=\([^ ]*\) .*/\1 \2/p' "$WORK/$1.cards" | sort)
}

wait_port67() {
    local i
    for i in $(seq 100); do
        [ -n "$(in_pc ss -Hlun 'sport = :67')" ] && return 0
        sleep 0.1
    done
    return 1
}

netns_setup "tvex$$" || exit 1
trap finish EXIT

# --- dnsmasq: the export included as it is, beside the operator's range -----------------
{
    echo "port=0"
    echo "interface=tvpc0"
    echo "bind-interfaces"
    echo "dhcp-range=10.77.0.0,static,$MASK"
    echo "conf-file=$WORK/hosts.conf"
} >"$WORK/dnsmasq.conf"
in_pc dnsmasq --conf-file="$WORK/dnsmasq.conf" --keep-in-foreground --log-facility=- \
    --pid-file="$WORK/dnsmasq.pid" --dhcp-leasefile="$WORK/dnsmasq.leases" \
    >/dev/null 2>"$WORK/dnsmasq.log" &
SERVER_PID=$!
if wait_port67; then
    ask dnsmasq
    [ "$GOT" = "$want" ] && pass "dnsmasq answers every card with its recorded address" ||
        fail "dnsmasq: cards received '$GOT', the record says '$want'; $(tail -5 "$WORK/dnsmasq.log")"
    [ "$SETTINGS" = "$MASK $GW" ] && pass "dnsmasq gives the recorded mask and gateway" ||
        fail "dnsmasq: masks and gateways '$SETTINGS'"
    [ "$LAYOUT" -eq $CARDS ] && pass "dnsmasq's replies have the card's layout (router line first)" ||
        fail "dnsmasq: $LAYOUT of $CARDS replies in the card's layout"
else
    fail "dnsmasq did not listen: $(cat "$WORK/dnsmasq.log")"
fi
kill "$SERVER_PID" 2>/dev/null
wait "$SERVER_PID" 2>/dev/null
SERVER_PID=

# --- Kea: the export as the subnet's reservations ----------------------------------------
{
    echo '{ "Dhcp4": {'
    echo '  "interfaces-config": { "interfaces": [ "tvpc0" ] },'
    echo "  \"lease-database\": { \"type\": \"memfile\", \"name\": \"$WORK/kea-leases.csv\" },"
    echo "  \"hooks-libraries\": [ { \"library\": \"$KEA_HOOK\" } ],"
    echo '  "subnet4": [ { "id": 1, "subnet": "10.77.0.0/24",'
    echo '    "reservations":'
    cat "$WORK/reservations.json"
    echo '  } ]'
    echo '} }'
} >"$WORK/kea.json"
in_pc kea-dhcp4 -t "$WORK/kea.json" >"$WORK/kea-check.log" 2>&1 ||
    fail "kea-dhcp4 -t refuses the configuration: $(tail -3 "$WORK/kea-check.log")"
in_pc env KEA_PIDFILE_DIR="$WORK" KEA_LOCKFILE_DIR="$WORK" kea-dhcp4 -c "$WORK/kea.json" \
    >/dev/null 2>"$WORK/kea.log" &
SERVER_PID=$!
if wait_port67; then
    ask kea
    [ "$GOT" = "$want" ] && pass "Kea answers every card with its recorded address" ||
        fail "Kea: cards received '$GOT', the record says '$want'; $(tail -5 "$WORK/kea.log")"
    [ "$SETTINGS" = "$MASK $GW" ] && pass "Kea gives the recorded mask and gateway" ||
        fail "Kea: masks and gateways '$SETTINGS'"
else
    fail "Kea did not listen: $(cat "$WORK/kea.log")"
fi

[ $FAILURES -eq 0 ] || {
    echo "$FAILURES failure(s)" >&2
    exit 1
}
echo "all passed"
