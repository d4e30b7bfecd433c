#!/bin/bash
# How torvane-assign treats each kind of answer from the helper, against a scripted stand-in
# (FakeHelper.cpp) that sends nothing anywhere: a refusal that can heal waits for the card's
# next request, a final one ends that card, and each refusal is reported once.
#   answers.sh ASSIGN FAKE_HELPER
set -u
# The messages checked here are the English ones.
export LC_ALL=en_GB.UTF-8 LANGUAGE= 2>/dev/null
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
    env LC_ALL="${ASSIGN_LANG:-en_GB.UTF-8}" timeout 30 "$ASSIGN" --list "$WORK/cards.csv" --record "$WORK/$name/record.csv" \
        --confirm none --timeout 10 --helper "$WORK/$name/torvane-helper" "$@" \
        >"$WORK/$name.out" 2>"$WORK/$name.err"
    RC=$?
    cp "$WORK/$name/torvane-helper.log" "$WORK/$name.log" 2>/dev/null || : >"$WORK/$name.log"
}

# A request the helper has forgotten (a burst), one that expired, and a moment without
# buffers: each card is answered at its next request, and the run succeeds.
for refusal in -2:forgotten -4:expired -10:outstanding -18:kernel-query 105:ENOBUFS; do
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
n=$(cat "$WORK/final.out" "$WORK/final.err" | grep -c "it is a gateway's address")
[ "$n" -eq 1 ] && pass "the refusal is printed once" ||
    fail "the refusal is printed $n times: $(cat "$WORK/final.out" "$WORK/final.err")"
grep -q "02-00-00-00-00-01" "$WORK/final/record.csv" &&
    fail "a refused card is in the record: $(cat "$WORK/final/record.csv")"

# A run resumed from its record ends once the listed cards the record does not hold as done
# are done, whether or not the recorded ones ask again; one that asks again keeps its address.
resumed() { # name script
    mkdir -p "$WORK/$1"
    printf 'mac,ip,mask,gateway,time,confirmed,name\n02-00-00-00-00-02,10.0.0.22,%s,10.0.0.1,2026-12-07T10:00:00Z,unchecked,\n' \
        $M >"$WORK/$1/record.csv"
    run "$1" "$2" --format json
}
resumed resume "request 1 02-00-00-00-00-01\nreply 1 0\n"
[ "$RC" -eq 0 ] && grep -q '"event":"summary","assigned":1,' "$WORK/resume.out" &&
    pass "resumed: ends when the card not yet done is done" ||
    fail "resumed: exit $RC: $(cat "$WORK/resume.out" "$WORK/resume.err")"
resumed resume-again "request 1 02-00-00-00-00-02\nreply 1 0\nrequest 2 02-00-00-00-00-01\nreply 2 0\n"
if [ "$RC" -eq 0 ] && grep -q '^reply 1 10.0.0.22 0$' "$WORK/resume-again.log" &&
    grep -q '"event":"summary","assigned":2,' "$WORK/resume-again.out"; then
    pass "resumed: a recorded card that asks again gets its address, and the run ends"
else
    fail "resumed, asked again: exit $RC: $(cat "$WORK/resume-again.log" "$WORK/resume-again.out")"
fi

# The same refusal for a Japanese (or C) desktop: the sentences are Japanese, while the JSON
# output stays the same whatever the language.
ASSIGN_LANG=C run japanese "request 1 02-00-00-00-00-01\nreply 1 -15\n" --format text
grep -q "torvane-helper が応答を拒否しました" "$WORK/japanese.out" && grep -q "^報告: " "$WORK/japanese.out" &&
    pass "a C locale gives Japanese sentences" || fail "C locale: $(cat "$WORK/japanese.out")"
ASSIGN_LANG=ja_JP.UTF-8 run json "request 1 02-00-00-00-00-01\nreply 1 -15\n" --format json
if grep -q '"event":"summary"' "$WORK/json.out" && [ "$(tr -d '\000-\177' <"$WORK/json.out" | wc -c)" -eq 0 ]; then
    pass "JSON output is language-neutral"
else
    fail "JSON under ja_JP: $(cat "$WORK/json.out")"
fi

# Sentences that read as English: one card, a --timeout of whole seconds, no count of
# answered cards without a check, and a long list of missing cards cut short.
printf 'mac,ip,mask,gateway\n02-00-00-00-00-01,10.0.0.21,%s,10.0.0.1\n' $M >"$WORK/one.csv"
cp "$WORK/cards.csv" "$WORK/two.csv"
cp "$WORK/one.csv" "$WORK/cards.csv"
run grammar "" --format text --timeout 1
if [ "$RC" -eq 3 ] && grep -q "^waiting for 1 listed card (Ctrl-C ends)$" "$WORK/grammar.out" &&
    grep -q "^--timeout of 1 s passed$" "$WORK/grammar.out" &&
    grep -q "^report: 0/1 assigned, 0 failed, " "$WORK/grammar.out"; then
    pass "one card, --timeout 1, --confirm none: the sentences read right"
else
    fail "grammar: exit $RC: $(cat "$WORK/grammar.out")"
fi
{
    echo "mac,ip,mask,gateway"
    for n in $(seq 1 25); do printf '02-00-00-00-01-%02X,10.0.0.%d,%s,10.0.0.1\n' "$n" $((100 + n)) $M; done
} >"$WORK/cards.csv"
run many "" --format text --timeout 0.5
line=$(grep "missing (listed, not seen)" "$WORK/many.out")
[ "$(grep -o '02-00-00-00-01-' <<<"$line" | wc -l)" -eq 20 ] && grep -q " and 5 more$" <<<"$line" &&
    pass "25 missing cards: 20 named, then 'and 5 more'" || fail "missing list: $line"

# A flood of card requests from MACs that are not listed: the first 100 are named, the rest
# only counted, so that neither the output nor the memory grows with the flood.
cp "$WORK/one.csv" "$WORK/cards.csv"
script=""
for n in $(seq 1 150); do script+="request $((100 + n)) $(printf '02-00-00-00-09-%02X' "$n")\n"; done
script+="request 1 02-00-00-00-00-01\nreply 1 0\n"
run flood "$script" --format json
named=$(grep -c '"event":"not_listed"' "$WORK/flood.out")
if [ "$RC" -eq 0 ] && [ "$named" -eq 100 ] && grep -q '"event":"not_listed_more"' "$WORK/flood.out" &&
    grep -q '"not_listed_count":150,' "$WORK/flood.out" &&
    [ "$(grep '"event":"summary"' "$WORK/flood.out" | grep -o '02-00-00-00-09-' | wc -l)" -eq 100 ]; then
    pass "150 unlisted cards: 100 named, the rest counted"
else
    fail "unlisted flood: exit $RC, $named named: $(tail -2 "$WORK/flood.out")"
fi

# --dry-run: the plan is printed and the helper is never started.
{
    echo "mac,ip,mask,gateway"
    for n in $(seq 1 25); do printf '02-00-00-00-01-%02X,10.0.0.%d,%s,10.0.0.1\n' "$n" $((100 + n)) $M; done
} >"$WORK/cards.csv"
run dry "" --dry-run --format json
if [ "$RC" -eq 0 ] && [ "$(grep -c '"event":"plan"' "$WORK/dry.out")" -eq 25 ] &&
    grep -q '"event":"dry_run"' "$WORK/dry.out" && [ ! -s "$WORK/dry.log" ] &&
    [ ! -e "$WORK/dry/record.csv" ]; then
    pass "--dry-run prints the plan without the helper"
else
    fail "--dry-run: exit $RC: $(cat "$WORK/dry.out" "$WORK/dry.err" "$WORK/dry.log")"
fi

[ $FAILURES -eq 0 ] || {
    echo "$FAILURES failure(s)"
    exit 1
}
echo "all passed"
