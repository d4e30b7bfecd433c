#!/bin/bash
# The manual formats without warnings and describes every option that --help lists.
#   man_page.sh ASSIGN PAGE
set -u
ASSIGN=$1
PAGE=$2
failures=0
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$PAGE" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
    echo "FAIL: $PAGE formats with warnings:"
    echo "$warnings"
    failures=$((failures + 1))
fi
text=$(sed 's/\\-/-/g' "$PAGE")
for opt in $("$ASSIGN" --help | grep -oE -- '(^|[ ,\[])--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+' | sort -u); do
    grep -qF -- "$opt" <<<"$text" || {
        echo "FAIL: the manual lacks $opt"
        failures=$((failures + 1))
    }
done
for status in 0 1 2 3 4 130 143; do
    grep -q "^\.B $status\$" <<<"$text" || {
        echo "FAIL: the manual lacks exit status $status"
        failures=$((failures + 1))
    }
done
[ $failures -eq 0 ] && echo "all passed"
exit $failures
