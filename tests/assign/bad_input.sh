#!/bin/bash
# Bad input on the command line and in the files: exit 2, each problem named with its file,
# line and column (or its option), and the helper never started. The helper given is a stand-in
# that only notes that it ran; no datagram is ever sent.
#   bad_input.sh ASSIGN
set -u
# The messages checked here are the English ones.
export LC_ALL=en_GB.UTF-8 LANGUAGE= 2>/dev/null
ASSIGN=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FAILURES=0

cat >"$WORK/helper" <<HELPER
#!/bin/sh
touch "$WORK/helper-ran"
HELPER
chmod +x "$WORK/helper"

M=255.255.255.0
H=mac,ip,mask,gateway
C1=00-0A-1B-C2-3D-01,10.0.0.21,$M,10.0.0.1
POOL=(--pool 10.0.0.101-10.0.0.110 --mask $M --gateway 10.0.0.1 --record "$WORK/record.csv")

# case NAME, expected text on stderr, the list's lines ("-" for no list file), then arguments
check() {
    local name=$1 expected=$2 list=$3
    shift 3
    local args=("$@")
    if [ "$list" != "-" ]; then
        printf '%b' "$list" >"$WORK/cards.csv"
        args+=(--list "$WORK/cards.csv")
    fi
    rm -f "$WORK/helper-ran"
    env ${DESKTOP:+LC_ALL=$DESKTOP} "$ASSIGN" --helper "$WORK/helper" "${args[@]}" \
        >"$WORK/out" 2>"$WORK/err" </dev/null
    local rc=$?
    if [ $rc -ne 2 ]; then
        echo "FAIL: $name: exit $rc, wanted 2: $(cat "$WORK/err")"
        FAILURES=$((FAILURES + 1))
    elif ! grep -qF -- "$expected" "$WORK/err"; then
        echo "FAIL: $name: stderr lacks '$expected':"
        sed 's/^/    /' "$WORK/err"
        FAILURES=$((FAILURES + 1))
    elif [ -e "$WORK/helper-ran" ]; then
        echo "FAIL: $name: the helper was started"
        FAILURES=$((FAILURES + 1))
    else
        echo "ok: $name"
    fi
}

L=$WORK/cards.csv
check "malformed MAC" "$L:2:1: '00-0A-1B-C2-3D' is not a MAC address" \
    "$H\n00-0A-1B-C2-3D,10.0.0.21,$M,10.0.0.1\n"
check "malformed address" "$L:2:19: address: '10.0.0.321' has a number above 255" \
    "$H\n00-0A-1B-C2-3D-01,10.0.0.321,$M,10.0.0.1\n"
check "mask with holes" "$L:2:29: mask 255.255.0.255 is not contiguous" \
    "$H\n00-0A-1B-C2-3D-01,10.0.0.21,255.255.0.255,10.0.0.1\n"
check "gateway outside the subnet" "$L:2:43: gateway 10.9.0.1 lies outside the subnet 10.0.0.0/24" \
    "$H\n00-0A-1B-C2-3D-01,10.0.0.21,$M,10.9.0.1\n"
check "network address" "$L:2:19: address 10.0.0.0 is the network address of 10.0.0.0/24" \
    "$H\n00-0A-1B-C2-3D-01,10.0.0.0,$M,10.0.0.1\n"
check "broadcast address" "$L:2:19: address 10.0.0.255 is the broadcast address of 10.0.0.0/24" \
    "$H\n00-0A-1B-C2-3D-01,10.0.0.255,$M,10.0.0.1\n"
check "duplicate MAC" "$L:3:1: MAC 00-0A-1B-C2-3D-01 is listed twice (first on line 2)" \
    "$H\n$C1\n00-0a-1b-c2-3d-01,10.0.0.22,$M,10.0.0.1\n"
check "duplicate address" "$L:3:19: address 10.0.0.21 is listed twice (first on line 2)" \
    "$H\n$C1\n00-0A-1B-C2-3D-02,10.0.0.21,$M,10.0.0.1\n"
check "pool overlaps the list" "$L:3:19: address 10.0.0.105 lies in the pool 10.0.0.101-10.0.0.110" \
    "$H\n$C1\n00-0A-1B-C2-3D-02,10.0.0.105,$M,10.0.0.1\n" "${POOL[@]}"
check "pool holds the broadcast address" "--pool: the range 10.0.0.250-10.0.0.255 holds the broadcast" \
    - --pool 10.0.0.250-10.0.0.255 --mask $M --gateway 10.0.0.1 --record "$WORK/record.csv"
check "one card, bad mask" "--mask: mask 255.0.255.0 is not contiguous" \
    - --mac 00-0A-1B-C2-3D-01 --ip 10.0.0.21 --mask 255.0.255.0 --gateway 10.0.0.1
check "one card, bad MAC" "--mac: 'x' is not a MAC address" \
    - --mac x --ip 10.0.0.21 --mask $M --gateway 10.0.0.1
check "missing list" "$WORK/none.csv: No such file or directory" - --list "$WORK/none.csv"
printf 'mac,ip,mask,gateway,time,confirmed,name\n00-0A-1B-C2-3D-09,10.0.0.21,%s,10.0.0.1,2026-03-02T10:14:05Z,yes,\n' \
    $M >"$WORK/record.csv"
check "address given before to another card" \
    "$L:2:19: address 10.0.0.21 was given to 00-0A-1B-C2-3D-09 ($WORK/record.csv line 2)" \
    "$H\n$C1\n" "${POOL[@]}"
printf 'mac,ip,mask,gateway,time,confirmed\n00-0A-1B-C2-3D-09,10.0.0.101,%s,10.0.0.1,now,yes\n' \
    $M >"$WORK/record.csv"
check "broken record" "$WORK/record.csv:2:53: 'now' is not a time" "$H\n$C1\n" "${POOL[@]}"
rm -f "$WORK/record.csv"
printf 'mac,ip,mask,gateway,time,confirmed,name\n' >"$WORK/real-record.csv"
ln -s "$WORK/real-record.csv" "$WORK/linked.csv"
check "record is a symbolic link" "$WORK/linked.csv: is a symbolic link; give the record file itself" \
    "$H\n$C1\n" --record "$WORK/linked.csv"
check "usage" "say which cards" -
check "unknown option" "unknown option '--pol'" - --pol 1
check "every problem at once" "$L:4:1: MAC 00-0A-1B-C2-3D-02 is listed twice" \
    "$H\n00-0A-1B-C2-3D-01,10.0.0.0,$M,10.0.0.1\n00-0A-1B-C2-3D-02,10.0.0.22,$M,10.0.0.1\n00-0A-1B-C2-3D-02,10.0.0.23,$M,10.0.0.1\n"
grep -qF "$L:2:19: address 10.0.0.0 is the network address" "$WORK/err" ||
    { echo "FAIL: not every problem reported: $(cat "$WORK/err")"; FAILURES=$((FAILURES + 1)); }

# Many problems: the first 20 are named, then how many more there are.
many="$H\n"
for n in $(seq 10 34); do many+="00-0A-1B-C2-3D-$n,10.0.0.0,$M,10.0.0.1\n"; done
check "errors capped" "and 5 more problems" "$many"
n=$(grep -c "^torvane-assign: $L:" "$WORK/err")
[ "$n" -eq 20 ] || { echo "FAIL: $n problems named, wanted 20"; FAILURES=$((FAILURES + 1)); }

# A file without a header: one problem, not one per missing and unknown column.
check "no header" "$L:1:1: the first line is not a header" "$C1\n$C1\n"
n=$(grep -c "^torvane-assign: $L:" "$WORK/err")
[ "$n" -eq 1 ] || { echo "FAIL: no header gave $n problems"; FAILURES=$((FAILURES + 1)); }

# The same refusals on a Japanese desktop: the place named as in English, the words Japanese;
# --format json still says them in English.
ja() { DESKTOP=ja_JP.UTF-8 check "$@"; }
ja "malformed MAC, Japanese" "$L:2:1: '00-0A-1B-C2-3D' は MAC アドレスではありません" \
    "$H\n00-0A-1B-C2-3D,10.0.0.21,$M,10.0.0.1\n"
ja "unknown option, Japanese" "不明なオプション '--pol'（使い方: torvane-assign --help）" - --pol 1
ja "pool holds the broadcast address, Japanese" \
    "--pool: 範囲 10.0.0.250-10.0.0.255 は 10.0.0.0/24 のブロードキャストアドレス 10.0.0.255 を含んでいます" \
    - --pool 10.0.0.250-10.0.0.255 --mask $M --gateway 10.0.0.1 --record "$WORK/record.csv"
ja "record is a symbolic link, Japanese" "$WORK/linked.csv: シンボリックリンクです" \
    "$H\n$C1\n" --record "$WORK/linked.csv"
printf 'mac,ip,mask,gateway,time,confirmed,name\n00-0A-1B-C2-3D-09,10.0.0.21,%s,10.0.0.1,2026-03-02T10:14:05Z,yes,\n' \
    $M >"$WORK/record.csv"
ja "address given before to another card, Japanese" \
    "$L:2:19: アドレス 10.0.0.21 は 00-0A-1B-C2-3D-09 に割り当て済みです（$WORK/record.csv の 2 行目）" \
    "$H\n$C1\n" "${POOL[@]}"
printf 'mac,ip,mask,gateway,time,confirmed\n00-0A-1B-C2-3D-09,10.0.0.101,%s,10.0.0.1,now,yes\n' \
    $M >"$WORK/record.csv"
ja "broken record, Japanese" \
    "$WORK/record.csv:2:53: 'now' は 2026-03-02T10:14:05+01:00 の形の時刻ではありません" \
    "$H\n$C1\n" "${POOL[@]}"
rm -f "$WORK/record.csv"
json=$(env LC_ALL=ja_JP.UTF-8 "$ASSIGN" --format json --pol 1 2>/dev/null)
grep -qF '"message":"unknown option '"'--pol'"' (torvane-assign --help shows the usage)"' <<<"$json" ||
    { echo "FAIL: JSON under Japanese is not English: $json"; FAILURES=$((FAILURES + 1)); }
# The interface is checked with the files; its refusal once reached JSON in Japanese.
ja "no such interface, Japanese" "--interface: インターフェース torvane-none0 はありません" - \
    --format json --mac 00-0A-1B-C2-3D-01 --ip 10.0.0.21 --mask $M --gateway 10.0.0.1 \
    --interface torvane-none0
grep -qF '"message":"--interface: there is no interface torvane-none0"' "$WORK/out" ||
    { echo "FAIL: JSON under Japanese is not English: $(cat "$WORK/out")"; FAILURES=$((FAILURES + 1)); }

# --help in both languages, with the same options.
options() { grep -oE -- '(^|[ ,\[])(-h|--[a-z][a-z-]*)' | grep -oE -- '-h|--[a-z-]+' | sort -u; }
env LC_ALL=ja_JP.UTF-8 "$ASSIGN" --help >"$WORK/help-ja"
"$ASSIGN" --help >"$WORK/help" || { echo "FAIL: --help exits $?"; FAILURES=$((FAILURES + 1)); }
grep -q "^終了ステータス:" "$WORK/help-ja" ||
    { echo "FAIL: --help is not Japanese on a Japanese desktop"; FAILURES=$((FAILURES + 1)); }
diff <(options <"$WORK/help-ja") <(options <"$WORK/help") >"$WORK/help-diff" ||
    { echo "FAIL: --help names other options in Japanese:"; cat "$WORK/help-diff"; FAILURES=$((FAILURES + 1)); }
grep -q "^  3    --timeout passed with cards still missing" "$WORK/help" ||
    { echo "FAIL: --help lacks the exit statuses"; FAILURES=$((FAILURES + 1)); }

[ $FAILURES -eq 0 ] || { echo "$FAILURES failure(s)"; exit 1; }
echo "all passed"
