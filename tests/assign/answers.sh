#!/bin/bash
# How torvane-assign treats each kind of answer from the helper, against a scripted stand-in
# (FakeHelper.cpp) that sends nothing anywhere: a refusal that can heal waits for the card's
# next request, a final one ends that card, and each refusal is reported once.
#   answers.sh ASSIGN FAKE_HELPER
set -u
ASSIGN=$1
FAKE=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FAILURES=0
M=255.255.255.0

fail() {
    echo "FAIL: $*"
    FAILURES=$((FAILURES + 1))
}
pass() { echo "ok: $*"; }

printf 'mac,ip,mask,gateway\n02-00-00-00-00-01,10.0.0.21,%s,10.0.0.1\n02-00-00-00-00-02,10.0.0.22,%s,10.0.0.1\n' \
    $M $M >"$WORK/cards.csv"

# run NAME SCRIPT [torvane-assign options]: sets RC; output in $WORK/NAME.out/.err/.log
run() {
    local name=$1 script=$2
    shift 2
    mkdir -p "$WORK/$name"
    cp "$FAKE" "$WORK/$name/torvane-helper"
    printf '%b' "$script" >"$WORK/$name/torvane-helper.script"
    LANG=en_GB.UTF-8 timeout 30 "$ASSIGN" --list "$WORK/cards.csv" --record "$WORK/$name/record.csv" \
        --confirm none --timeout 10 --helper "$WORK/$name/torvane-helper" "$@" \
        >"$WORK/$name.out" 2>"$WORK/$name.err"
    RC=$?
    cp "$WORK/$name/torvane-helper.log" "$WORK/$name.log" 2>/dev/null || : >"$WORK/$name.log"
}

# A request the helper has forgotten (a burst), one that expired, and a moment without
# buffers: each card is answered at its next request, and the run succeeds.
for refusal in -2:forgotten -4:expired -10:outstanding 105:ENOBUFS; do
    code=${refusal%%:*}
    run "heal$code" "request 1 02-00-00-00-00-01\nrequest 2 02-00-00-00-00-02\nreply 1 $code\nreply 2 0\nrequest 3 02-00-00-00-00-01\nreply 3 0\n"
    if [ "$RC" -eq 0 ] && grep -q '^reply 3 10.0.0.21 0$' "$WORK/heal$code.log" &&
        grep -q '^02-00-00-00-00-01,10.0.0.21,' "$WORK/heal$code/record.csv"; then
        pass "${refusal#*:}: the card's next request is answered, exit 0"
    else
        fail "${refusal#*:}: exit $RC; helper saw: $(cat "$WORK/heal$code.log"); $(cat "$WORK/heal$code.out" "$WORK/heal$code.err")"
    fi
done

# A final refusal (the address is a gateway of this PC): the card's next request is not
# answered, the run fails, and the refusal is printed once.
run final "request 1 02-00-00-00-00-01\nrequest 2 02-00-00-00-00-02\nreply 1 -15\nreply 2 0\nrequest 3 02-00-00-00-00-01\n" \
    --format text
if [ "$RC" -eq 1 ] && ! grep -q '^reply 3 ' "$WORK/final.log"; then
    pass "a final refusal: exit 1, the card's next request is not answered"
else
    fail "final refusal: exit $RC; helper saw: $(cat "$WORK/final.log")"
fi
n=$(cat "$WORK/final.out" "$WORK/final.err" | grep -c "a gateway of this PC")
[ "$n" -eq 1 ] && pass "the refusal is printed once" ||
    fail "the refusal is printed $n times: $(cat "$WORK/final.out" "$WORK/final.err")"
grep -q "02-00-00-00-00-01" "$WORK/final/record.csv" &&
    fail "a refused card is in the record: $(cat "$WORK/final/record.csv")"

[ $FAILURES -eq 0 ] || {
    echo "$FAILURES failure(s)"
    exit 1
}
echo "all passed"
