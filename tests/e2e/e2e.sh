#!/usr/bin/env bash
# Runs the end-to-end test in namespaces made for it: the whole road on one NIC (with a card
# outside the NIC's network before another, and a neighbour entry refused), then the
# reply path with the default route on a second NIC and with no default route at all, a card
# on a NIC without an address, the NIC removed during the wait or the dialog, and a host
# firewall that drops the card's requests before any UDP socket sees them.
set -u
test_binary=$1
cardsim=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/netns.sh"

runtime=$(mktemp -d)
chmod 700 "$runtime"
NETNS_ON_EXIT='rm -rf "$runtime"'
failures=0

variant() { # label, test functions, netns_setup options...
    local label=$1 functions=$2
    shift 2
    netns_cleanup
    netns_setup "tve$$" "$@"
    echo "== $label"
    # shellcheck disable=SC2086
    ip netns exec "$NETNS_PC" env CARD_NS="$NETNS_CARD" CARDSIM="$cardsim" \
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" \
        QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
        timeout -k 5 150 "$test_binary" $functions || failures=$((failures + 1))
}

variant "one NIC" "setAssignsTheCardAndOpensItsPage cancelSendsNothingAndListensAgain anotherCardInTheSameSearch aCardOutsideTheNetworkHoldsUpNoOther aRefusedEntryStillOpensThePage"
variant "default route on a second NIC" "anotherCardInTheSameSearch proposalAndServerComeFromTheCardsInterface" --second-nic
variant "no default route" "anotherCardInTheSameSearch" --no-default-route
variant "a refusal of the helper while the card keeps asking" "aRefusalStaysReadableWhileTheCardKeepsAsking"
variant "a NIC without an address" "cardOnANicWithoutAddress" --pc-no-address
variant "the NIC removed during the wait" "interfaceRemovedDuringTheWait"
variant "the NIC removed while the dialog is open" "interfaceRemovedWhileTheDialogIsOpen"
variant "the helper ends during the search" "helperDiesDuringTheSearch anotherCardInTheSameSearch"
variant "a host firewall drops UDP 67" "anotherCardInTheSameSearch" --firewall
exit $failures
