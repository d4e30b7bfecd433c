#!/usr/bin/env bash
# Runs the end-to-end test in namespaces made for it (with "temporary" as a third argument,
# only the roads through a temporary address): the whole road on one NIC (with a card
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

variant() { # label, test functions, netns_setup options...; PC_ADDRESS: one more for tvpc0
    local label=$1 functions=$2
    shift 2
    netns_cleanup
    netns_setup "tve$$" "$@"
    [ -n "${PC_ADDRESS:-}" ] && ip -n "$NETNS_PC" addr add "$PC_ADDRESS" dev tvpc0
    echo "== $label"
    # shellcheck disable=SC2086
    ip netns exec "$NETNS_PC" env CARD_NS="$NETNS_CARD" CARDSIM="$cardsim" \
        QT_QPA_PLATFORM="${E2E_QPA:-offscreen}" XDG_RUNTIME_DIR="$runtime" SHOTS="${SHOTS:-}" \
        QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
        timeout -k 5 150 "$test_binary" $functions || failures=$((failures + 1))
}

if [ "${3:-}" = temporary ]; then
    # A card outside every network of tvpc0, reached through a temporary address.
    variant "a card outside a NIC without an address" "temporaryAddressOpensThePage" --pc-no-address
    PC_ADDRESS=169.254.23.7/16 variant "a card outside a link-local NIC" \
        "temporaryAddressOpensThePage" --pc-no-address
    PC_ADDRESS=10.50.0.2/24 variant "a card outside the NIC's subnet" \
        "temporaryAddressOpensThePage" --pc-no-address
    exit $failures
fi
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
