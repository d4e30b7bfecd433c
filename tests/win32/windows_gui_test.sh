#!/usr/bin/env bash
# A Windows test program that makes windows, under Wine on an Xvfb display of its own (Wine
# makes no window without one) and in a copy of the wine_prefix fixture's prefix.
#   windows_gui_test.sh EXE PREFIX_TO_COPY WORK_DIR [ARGS...]
set -euo pipefail
exe=$1 source_prefix=$2 work=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ -f "$exe" ] || fail "no program at $exe"
command -v xvfb-run >/dev/null || fail "xvfb-run is missing (package xvfb)"

# shellcheck source=wine-copy.sh
source "$here/wine-copy.sh"
wine_copy_prefix "$source_prefix" "$work"
trap 'wineserver -k 2>/dev/null || true' EXIT

xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" timeout 120 wine "$exe" "$@"
