#!/usr/bin/env bash
# The real UDP socket inside test namespaces: receiving a card's broadcast, the error for a
# port held by another program, and the reply leaving by the card's interface from port 67
# after the listener was closed, with the default route elsewhere or with none at all.
set -u
probe=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/netns.sh"

failures=0
check() { # description, command output, expected pattern
    if grep -qE "$3" <<<"$2"; then
        echo "ok   - $1"
    else
        echo "FAIL - $1"
        echo "$2" | sed 's/^/       /'
        failures=$((failures + 1))
    fi
}

round_trip() { # label, netns_setup options...
    local label=$1
    shift
    netns_cleanup
    netns_setup "tvso$$" "$@"
    local other_out=""
    if [ -n "${NETNS_OTHER:-}" ] && ip netns list | grep -q "$NETNS_OTHER"; then
        ip netns exec "$NETNS_OTHER" "$probe" watch tvoth0 4 >"$tmp/other" 2>&1 &
    fi
    ip netns exec "$NETNS_PC" "$probe" listen-reply >"$tmp/pc" 2>&1 &
    local pc=$!
    sleep 0.3
    local card_out
    card_out=$(ip netns exec "$NETNS_CARD" timeout 15 "$probe" card tvcard0 2>&1)
    wait $pc
    check "$label: the card's broadcast arrives on port 67 via tvpc0" "$(cat "$tmp/pc")" \
        "received 300 bytes on tvpc0"
    check "$label: the reply reaches the card from port 67" "$card_out" \
        "reply 300 bytes from port 67"
    if [ -f "$tmp/other" ]; then
        wait
        check "$label: nothing leaves by the other NIC" "$(cat "$tmp/other")" "^watching$"
        ! grep -q datagram "$tmp/other" || { echo "FAIL - reply left by tvpc1"; failures=$((failures + 1)); }
        rm -f "$tmp/other"
    fi
    unset NETNS_OTHER
}

tmp=$(mktemp -d)
NETNS_ON_EXIT='rm -rf "$tmp"'

round_trip "one NIC"
round_trip "default route on a second NIC" --second-nic
round_trip "no default route" --no-default-route

netns_cleanup
netns_setup "tvso$$"
ip netns exec "$NETNS_PC" "$probe" hold >"$tmp/hold" 2>&1 &
for _ in $(seq 50); do grep -q holding "$tmp/hold" && break; sleep 0.1; done
check "port held by another program: the error names the cause and the holder" \
    "$(ip netns exec "$NETNS_PC" "$probe" bind 2>&1)" \
    "bind failed 98: UDPポート67は他のプログラム \(socket_probe, pid [0-9]+\)が使用中です"

# The helper as the package installs it: group-only, with its two capabilities. Copies in a
# folder of their own, so that the build tree keeps its plain files.
inst=$tmp/inst
group=tvso$$
groupadd "$group" || { echo "FAIL - groupadd"; exit 1; }
NETNS_ON_EXIT='groupdel "$group" 2>/dev/null; rm -rf "$tmp"'
mkdir -p "$inst" && chmod 755 "$tmp" "$inst"
cp "$probe" "$(dirname "$probe")/torvane-helper" "$inst/"
chgrp "$group" "$inst/torvane-helper" && chmod 0750 "$inst/torvane-helper"
setcap cap_net_bind_service,cap_net_admin,cap_net_raw+ep "$inst/torvane-helper" ||
    { echo "FAIL - setcap on $inst (no extended attributes?)"; exit 1; }
as_user() { # extra setpriv options, then the command
    ip netns exec "$NETNS_PC" setpriv --reuid=65534 --regid=65534 --inh-caps=-all "$@"
}
gid=$(getent group "$group" | cut -d: -f3)
check "a user held by another user's program is told it is unknown which" \
    "$(as_user --groups="$gid" "$inst/socket_probe" bind 2>&1)" \
    "bind failed 98: UDPポート67は他のプログラム \(ユーザー root, プログラム名は不明\)が使用中です"
kill %% 2>/dev/null
wait 2>/dev/null

out=$(as_user --clear-groups "$inst/socket_probe" bind 2>&1)
check "a user outside the group is told to join that group" "$out" \
    "^bind failed 13: カードの検索は${group}グループのユーザーだけが行えます"
check "the command to join it stands on a line of its own" "$out" \
    "^    sudo usermod -aG $group \\\$USER$"
check "no port is bound for a user outside the group" \
    "$(ip netns exec "$NETNS_PC" ss -lunH 'sport = :67' | wc -l)" "^0$"

# A helper for root's group only: joining a group cannot help, its owner and mode are wrong.
chgrp root "$inst/torvane-helper" && chmod 0750 "$inst/torvane-helper"
out=$(as_user --groups="$gid" "$inst/socket_probe" bind 2>&1)
check "a root:root 0750 helper is named as such, not as a missing group" "$out" \
    "^bind failed 13: 補助プログラム $inst/torvane-helper を実行できません. 所有者または権限が正しくありません \(0750, 所有者 root:root\)"
check "and the commands that give it the group's protection follow, one a line" "$out" \
    "^    sudo chgrp torvane $inst/torvane-helper$"
chgrp "$group" "$inst/torvane-helper" && chmod 0750 "$inst/torvane-helper"
setcap cap_net_bind_service,cap_net_admin,cap_net_raw+ep "$inst/torvane-helper"

out=$(as_user --groups="$gid" "$inst/socket_probe" status 2>&1)
check "a member of the group binds port 67 through the helper" "$out" "^bound$"
check "the front-end holds no capability" "$out" "^front-end CapEff: 0000000000000000$"
check "after the bind the listener holds no capability, with no new privileges and its filter" \
    "$out" "helper CapPrm: 0000000000000000 CapEff: 0000000000000000 NoNewPrivs: 1 Seccomp: 2"
check "the neighbour-table writer holds cap_net_admin alone, with no new privileges and its filter" \
    "$out" "writer CapPrm: 0000000000001000 CapEff: 0000000000001000 NoNewPrivs: 1 Seccomp: 2"
check "the helper's environment is empty" "$out" "^helper environ bytes: 0$"

chmod 0755 "$inst/torvane-helper" && setcap -r "$inst/torvane-helper"
out=$(as_user --clear-groups "$inst/socket_probe" bind 2>&1)
check "a helper without its capabilities: the error names them" "$out" \
    "^bind failed 13: 補助プログラム $inst/torvane-helper にUDPポート67を使う権限がありません"
check "and the command that grants them stands on its own line" "$out" \
    "^    sudo setcap cap_net_bind_service,cap_net_admin,cap_net_raw\+ep $inst/torvane-helper$"

exit $failures
