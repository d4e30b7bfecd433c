#!/bin/bash
# The record against other users of the machine: a record that another user made or could have
# replaced is refused before anything is sent, one that only its owner (or root) could have
# written is used. The users are bare numeric uids, made for the run and never written to
# /etc/passwd. Needs root (to take their uids); sends nothing.
#   record_owner.sh ASSIGN
set -u
export LC_ALL=en_GB.UTF-8 LANGUAGE= 2>/dev/null
ASSIGN=$1
[ "$(id -u)" -eq 0 ] || { echo "FAIL: needs root (to act as two users)"; exit 1; }
OPERATOR=64101
INTRUDER=64102
as() { local uid=$1; shift; setpriv --reuid="$uid" --regid="$uid" --clear-groups "$@"; }
# A folder of the test's own that both users can reach, wherever TMPDIR points.
WORK=$(mktemp -d /tmp/torvane-record-owner.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
chmod 0755 "$WORK"
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }

printf '#!/bin/sh\ntouch "%s/shared/helper-ran"\n' "$WORK" >"$WORK/helper"
chmod 0755 "$WORK/helper"
RECORD_TEXT='mac,ip,mask,gateway,time,confirmed\n00-0A-1B-C2-3D-01,10.0.0.222,255.255.255.0,10.0.0.66,2026-03-02T10:14:05+01:00,yes\n'
mkdir -m 1777 "$WORK/shared"
mkdir -m 0777 "$WORK/open"
mkdir -m 0755 "$WORK/rootonly"
mkdir -m 0755 "$WORK/mine" && chown $OPERATOR:$OPERATOR "$WORK/mine"
mkdir -m 0777 "$WORK/open/deeper" && chown $OPERATOR:$OPERATOR "$WORK/open/deeper" &&
    chmod 0755 "$WORK/open/deeper"
plant() { # uid, path, mode
    as "$1" sh -c "umask 0; printf '$RECORD_TEXT' >'$2' && chmod $3 '$2'" || fail "cannot write $2"
}

# refused NAME RECORD EXPECTED: the pool run and the export both exit 2 naming the reason,
# and the helper never starts.
refused() {
    local name=$1 record=$2 expected=$3 rc before=$FAILURES
    rm -f "$WORK/shared/helper-ran"
    as $OPERATOR "$ASSIGN" --helper "$WORK/helper" --pool 10.0.0.101-10.0.0.140 \
        --mask 255.255.255.0 --gateway 10.0.0.1 --record "$record" --confirm none \
        >"$WORK/out" 2>"$WORK/err" </dev/null
    rc=$?
    [ $rc -eq 2 ] || fail "$name: exit $rc, wanted 2: $(cat "$WORK/err")"
    grep -qF -- "$expected" "$WORK/err" || fail "$name: [$(cat "$WORK/err")] lacks [$expected]"
    [ ! -e "$WORK/shared/helper-ran" ] || fail "$name: the helper was started"
    as $OPERATOR "$ASSIGN" --export dnsmasq --record "$record" >"$WORK/out" 2>"$WORK/err"
    rc=$?
    [ $rc -eq 2 ] && [ ! -s "$WORK/out" ] || fail "$name: export exit $rc: $(cat "$WORK/out")"
    grep -qF -- "$expected" "$WORK/err" || fail "$name: export: [$(cat "$WORK/err")]"
    [ $FAILURES -eq $before ] && echo "ok: $name"
}
used() { # NAME RECORD [ARGS]: checked and planned (dry run), or exported
    local name=$1 record=$2 rc
    shift 2
    as $OPERATOR "$ASSIGN" --helper "$WORK/helper" "$@" --record "$record" \
        >"$WORK/out" 2>"$WORK/err" </dev/null
    rc=$?
    if [ $rc -eq 0 ]; then echo "ok: $name"; else fail "$name: exit $rc: $(cat "$WORK/err")"; fi
}
POOL=(--pool 10.0.0.101-10.0.0.140 --mask 255.255.255.0 --gateway 10.0.0.1 --dry-run)

# Another user's record in a sticky shared folder, writable by all or not.
plant $INTRUDER "$WORK/shared/planted.csv" 0666
refused "another user's record, writable by all" "$WORK/shared/planted.csv" "belongs to another user (uid $INTRUDER)"
plant $INTRUDER "$WORK/shared/planted2.csv" 0644
refused "another user's record" "$WORK/shared/planted2.csv" "belongs to another user (uid $INTRUDER)"
# The operator's own record that others may write.
plant $OPERATOR "$WORK/shared/loose.csv" 0666
refused "a record others may write" "$WORK/shared/loose.csv" "others can write to it"
plant $OPERATOR "$WORK/shared/group.csv" 0664
refused "a record its group may write" "$WORK/shared/group.csv" "others can write to it"
# The operator's own record in a folder that anybody may write and that is not sticky, or
# below one: others could rename it or the folder above it and put theirs in its place.
plant $OPERATOR "$WORK/open/own.csv" 0644
refused "a record in a folder all may write" "$WORK/open/own.csv" "others could replace the record in the folder $WORK/open"
plant $OPERATOR "$WORK/open/deeper/own.csv" 0644
refused "a record below a folder all may write" "$WORK/open/deeper/own.csv" "in the folder $WORK/open"
refused "a new record in a folder all may write" "$WORK/open/new.csv" "in the folder $WORK/open"
# A folder of another user: it could replace the record at will.
mkdir -m 0755 "$WORK/theirs" && chown $INTRUDER:$INTRUDER "$WORK/theirs"
plant $INTRUDER "$WORK/theirs/x.csv" 0644
chown $OPERATOR:$OPERATOR "$WORK/theirs/x.csv"
refused "the operator's record in another user's folder" "$WORK/theirs/x.csv" "in the folder $WORK/theirs"

# What only the operator or root could have written is used.
plant $OPERATOR "$WORK/shared/own.csv" 0644
used "the operator's own record in a sticky shared folder" "$WORK/shared/own.csv" "${POOL[@]}"
used "a new record in a sticky shared folder" "$WORK/shared/new.csv" "${POOL[@]}"
plant $OPERATOR "$WORK/mine/own.csv" 0600
used "the operator's own record in the operator's folder" "$WORK/mine/own.csv" "${POOL[@]}"
plant 0 "$WORK/rootonly/root.csv" 0644
used "root's record exported" "$WORK/rootonly/root.csv" --export dnsmasq
grep -q "^dhcp-host=00:0a:1b:c2:3d:01,.*,10.0.0.222$" "$WORK/out" || fail "root's record: $(cat "$WORK/out")"

echo "$FAILURES failure(s)"
[ $FAILURES -eq 0 ]
