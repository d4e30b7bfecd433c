#!/usr/bin/env bash
# torvane.exe end to end, inside namespaces this test makes: the program under Wine on an Xvfb
# display in the "pc" namespace (Xvfb, wineserver and every socket live there), driven by
# win_window_probe.exe as an operator would (Start, the card's dialog, the fourth octet, mask
# and gateway, Set, Yes, the report, Stop, Exit); torvane-cardsim in "card" must report the
# address typed. Wine 8 has no CreateIpNetEntry2, so the neighbour step must say it cannot be
# done here; the card's page opens all the same, in the default browser (Wine has no web
# engine here): a script that records the address and fetches the simulated card's page from
# inside "pc". With DOCS set, the screenshots of the search and of the card's dialog go there.
#   netns_ui_test.sh CARDSIM TORVANE_EXE PROBE_EXE PREFIX_TO_COPY WORK_DIR
set -euo pipefail
cardsim=$1 exe=$2 probe=$3 source_prefix=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/netns.sh
source "$here/../support/netns.sh"

fail() {
    echo "FAIL: $*" >&2
    for f in probe.out exe.log card.out; do
        [ -s "$work/$f" ] && sed "s/^/$f: /" "$work/$f" >&2
    done
    exit 1
}
[ -x "$cardsim" ] || fail "no card simulator at $cardsim: build the Linux tree first (TORVANE_LINUX_BUILD)"
[ -f "$exe" ] || fail "no torvane.exe at $exe"
[ -f "$probe" ] || fail "no probe at $probe"
[ -f "$source_prefix/system.reg" ] || fail "no Wine prefix at $source_prefix (the wine_prefix test makes it)"
for tool in Xvfb localedef python3; do
    command -v $tool >/dev/null || fail "$tool is missing (scripts/lib/common.sh lists its package)"
done

WINEPREFIX=$source_prefix wineserver -w 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work/shots" "$work/locale"
cp -a "$source_prefix" "$work/prefix"
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY DISPLAY
localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" ||
    fail "localedef cannot make ja_JP.UTF-8 (package locales)"
export LOCPATH=$work/locale LANG=ja_JP.UTF-8

xvfb_pid=
NETNS_ON_EXIT='[ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true'
netns_setup "tvwui$$"
trap '{ ip netns exec "$NETNS_PC" wineserver -k 2>/dev/null || true; }; netns_cleanup; eval "$NETNS_ON_EXIT"' EXIT
in_pc() { ip netns exec "$NETNS_PC" "$@"; }
# Wine's sockets are the wineserver's: no Wine command may run outside "pc", or it would
# start the prefix's wineserver, and with it port 67, in the machine's own namespace.
# Paths are turned into Windows ones by hand for that reason.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# The default browser: records the address and fetches the page, without an entry for the
# card in the neighbour table (the kernel finds it by ARP).
cat >"$work/browser.sh" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$1" >>"$work/browser.log"
curl -s -m 10 -o "$work/page.html" "\$1" &
SCRIPT
chmod +x "$work/browser.sh"

# The same font replacements, frames and recording browser as windows_ui.
python3 - "$work/settings.reg" "$work/browser.sh" <<'PY'
import sys
text = r'''REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Gothic"="IPAGothic"
"ＭＳ Ｐゴシック"="IPAPGothic"
"Century"="C059"
"Arial"="Liberation Sans"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineBrowser]
"Browsers"="BROWSER"
'''.replace("BROWSER", sys.argv[2])
with open(sys.argv[1], "wb") as f:
    f.write(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))
PY

exec 3<> <(:)
in_pc Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 display <&3 || fail "Xvfb did not start"
exec 3<&-
export DISPLAY=:$display
in_pc wineserver -p || fail "cannot start the wineserver in $NETNS_PC"
in_pc timeout 60 wine regedit /S "$(winpath "$work/settings.reg")" || fail "regedit failed"
server_in_pc=0
for pid in $(ip netns pids "$NETNS_PC"); do
    [[ $(cat "/proc/$pid/comm" 2>/dev/null) == wineserver* ]] && server_in_pc=1
done
[ $server_in_pc -eq 1 ] || fail "the prefix's wineserver is not in $NETNS_PC"

started=$(date +%s.%N)
in_pc timeout 150 wine "$exe" >"$work/exe.log" 2>&1 &
exe_pid=$!
in_pc timeout 150 wine "$probe" operate --octet 123 --mac 00-0A-1B-C2-3D-FF \
    --shot "$(winpath "$work/shots/windows-search.bmp")" \
    --card-shot "$(winpath "$work/shots/windows-card.bmp")" >"$work/probe.out" 2>&1 &
probe_pid=$!
for _ in $(seq 900); do
    grep -q '^event=searching' "$work/probe.out" 2>/dev/null && break
    kill -0 $probe_pid 2>/dev/null || break
    sleep 0.1
done
grep -q '^event=searching' "$work/probe.out" || fail "the search did not start"

card_status=0
ip netns exec "$NETNS_CARD" "$cardsim" --interface tvcard0 --mac 00-0A-1B-C2-3D-FF \
    --interval 1 --timeout "${CARD_TIMEOUT:-60}" --serve-http --serve-seconds 30 --format kv \
    >"$work/card.out" 2>&1 || card_status=$?
probe_status=0
wait $probe_pid || probe_status=$?
# A failed round leaves the window open: it gets 15 s to end by itself.
for _ in $(seq 150); do
    kill -0 $exe_pid 2>/dev/null || break
    sleep 0.1
done
kill $exe_pid 2>/dev/null || true
exe_status=0
wait $exe_pid || exe_status=$?
ended=$(date +%s.%N)
tr -d '\r' <"$work/probe.out" >"$work/probe.txt" && mv "$work/probe.txt" "$work/probe.out"
sed 's/^/probe: /' "$work/probe.out"
sed 's/^/card: /' "$work/card.out"
sed 's/^/torvane.exe: /' "$work/exe.log"
awk -v a="$started" -v b="$ended" 'BEGIN { printf "round trip: %.1f s\n", b - a }'

[ $probe_status -eq 0 ] || fail "the operator's checks failed ($probe_status)"
[ $exe_status -eq 0 ] || fail "torvane.exe did not end by itself ($exe_status)"
[ $card_status -eq 0 ] || fail "the card got no valid reply ($card_status)"
grep -q '^address=10.77.0.123$' "$work/probe.out" || fail "the operator did not confirm 10.77.0.123"
grep -q 'event=assigned' "$work/card.out" || fail "the card reports no assignment"
grep -q ' address=10.77.0.123 mask=255.255.255.0 gateway=10.77.0.254 server=10.77.0.1 ' "$work/card.out" ||
    fail "the card got another address than the one typed"
grep -q 'CreateIpNetEntry2' "$work/exe.log" || fail "stderr does not name the missing call"
[ "$(cat "$work/browser.log" 2>/dev/null)" = "http://10.77.0.123/" ] ||
    fail "the default browser was not given the card's page once (got: $(cat "$work/browser.log" 2>/dev/null))"
grep -q '00-0A-1B-C2-3D-FF' "$work/page.html" 2>/dev/null ||
    fail "the card's page could not be fetched from pc without the neighbour entry"

for bmp in "$work"/shots/*.bmp; do
    python3 "$here/bmp2png.py" "$bmp" "${bmp%.bmp}.png"
    [ -n "${DOCS:-}" ] && cp "${bmp%.bmp}.png" "$DOCS/"
done
echo PASS
exit 0
