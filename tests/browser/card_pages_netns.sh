#!/usr/bin/env bash
# The browser window against simulated cards' web pages in namespaces made for it: a boot
# server in "pc" gives the card in "card" its address, then the test opens the card's pages.
# Afterwards no file the program wrote and nothing it printed may hold the card's password.
#   card_pages_netns.sh TEST_BINARY CARDSIM RESPONDER
set -u
test_binary=$1
cardsim=$2
responder=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/netns.sh"

work=$(mktemp -d)
chmod 700 "$work"
NETNS_ON_EXIT='kill "${responder_pid:-}" 2>/dev/null; rm -rf "$work"'
netns_setup "tvbr$$" || exit 1
failures=0

# Answers every card start of the test (each test case starts the card anew).
ip netns exec "$NETNS_PC" "$responder" --address 10.77.0.20 --mask 255.255.255.0 \
    --gateway 10.77.0.254 --server 10.77.0.1 --count 40 --seconds 280 >"$work/responder.out" 2>&1 &
responder_pid=$!
for _ in $(seq 50); do
    grep -q listening "$work/responder.out" && break
    sleep 0.1
done

# A password no other file on the machine holds.
password="Pw-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')"
mkdir -p "$work/home" "$work/runtime" "$work/cwd"
chmod 700 "$work/runtime"
# Once as on a Japanese desktop, once as on an English one.
for lang in ja_JP.UTF-8 en_US.UTF-8; do
    echo "== LANG=$lang"
    (cd "$work/cwd" && ip netns exec "$NETNS_PC" env CARD_NS="$NETNS_CARD" CARDSIM="$cardsim" \
        CARD_PASSWORD="$password" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
        XDG_CACHE_HOME="$work/home/.cache" XDG_CONFIG_HOME="$work/home/.config" \
        XDG_DATA_HOME="$work/home/.local/share" TMPDIR="$work/cwd" LANG=$lang \
        QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
        timeout -k 5 200 "$test_binary" 2>>"$work/stderr.txt") || failures=$((failures + 1))
done
cat "$work/stderr.txt" >&2
kill "$responder_pid" 2>/dev/null
wait "$responder_pid" 2>/dev/null

if grep -rqaF -- "$password" "$work/home" "$work/runtime" "$work/cwd" "$work/stderr.txt"; then
    echo "FAIL: the password appears in: $(grep -rlaF -- "$password" "$work/home" "$work/runtime" "$work/cwd" "$work/stderr.txt")" >&2
    failures=$((failures + 1))
else
    echo "ok: the password is in no file the program wrote ($(find "$work/home" "$work/runtime" "$work/cwd" -type f | wc -l) files) and not on stderr"
fi
exit $failures
