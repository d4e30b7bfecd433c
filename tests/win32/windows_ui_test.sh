#!/usr/bin/env bash
# torvane.exe's three windows under Wine on an Xvfb display of this test's own, in a copy of
# the wine_prefix fixture's prefix: win_window_probe.exe checks each window from beside it
# (captions, sizes, controls, focus and keys) and takes its screenshot. The faces the windows
# name are mapped to installed ones in Wine's font replacement key, Wine draws the window
# frames itself (no window manager), and the default browser is a script that records the
# address it was given. With DOCS set, the screenshots are copied there.
#   windows_ui_test.sh TORVANE_EXE PROBE_EXE PREFIX_TO_COPY WORK_DIR
set -euo pipefail
exe=$1 probe=$2 source_prefix=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ -f "$exe" ] || fail "no torvane.exe at $exe"
[ -f "$probe" ] || fail "no probe at $probe"
for tool in Xvfb localedef python3; do
    command -v $tool >/dev/null || fail "$tool is missing (scripts/lib/common.sh lists its package)"
done
[[ $(fc-list : family) == *IPAPGothic* ]] || fail "IPAPGothic is missing (fonts-ipafont-gothic)"

# shellcheck source=wine-copy.sh
source "$here/wine-copy.sh"
wine_copy_prefix "$source_prefix" "$work"
mkdir -p "$work/shots"

xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# Wine takes the UI language from the C library's locale: a Japanese one of this test's own.
mkdir -p "$work/locale"
localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" ||
    fail "localedef cannot make ja_JP.UTF-8 (package locales)"
export LOCPATH=$work/locale

cat >"$work/browser.sh" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$1" >>"$work/browser.log"
SCRIPT
chmod +x "$work/browser.sh"

# Registry: font replacements, Wine's own window frames, the recording browser, and another
# program's engine mode (7000), which torvane.exe must leave alone.
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
"Browsers"="@BROWSER@"

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION]
"other.exe"=dword:00001b58
'''.replace("@BROWSER@", sys.argv[2])
with open(sys.argv[1], "wb") as f:
    f.write(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))
PY

# A display of our own: Xvfb names a free one.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 display <&3 || fail "Xvfb did not start"
exec 3<&-
export DISPLAY=:$display

timeout 60 wine regedit /S "$(winepath -w "$work/settings.reg")" || fail "regedit failed"

failed=0
# run NAME LANG PROBE_ARGS... -- EXE_ARGS...: torvane.exe beside the probe; both must end.
run() {
    local name=$1 lang=$2
    shift 2
    local probe_args=() exe_args=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do probe_args+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    exe_args=("$@")
    echo "== $name ($lang)"
    LANG=$lang timeout 60 wine "$exe" "${exe_args[@]}" >"$work/$name.exe.log" 2>&1 &
    local exe_pid=$!
    if ! LANG=$lang timeout 90 wine "$probe" "${probe_args[@]}" >"$work/$name.out" 2>&1; then
        failed=1
        echo "FAIL: $name" >&2
    fi
    sed 's/^/  /' "$work/$name.out"
    if ! wait "$exe_pid"; then
        failed=1
        echo "FAIL: $name: torvane.exe did not end by itself" >&2
        sed 's/^/  exe: /' "$work/$name.exe.log" >&2
    fi
}

shot() { winepath -w "$work/shots/$1.bmp"; }
url=http://127.0.0.1:9/card/
run main ja_JP.UTF-8 main --other-program --shot "$(shot windows-main)"
run config ja_JP.UTF-8 config --shot "$(shot windows-config)" --mac 00-C0-B7-12-34-56 -- \
    --preview F_Config 00-C0-B7-12-34-56
run config-enter ja_JP.UTF-8 config-enter -- --preview F_Config 00-C0-B7-12-34-56
run confirm ja_JP.UTF-8 confirm --shot "$(shot windows-confirmation)" -- \
    --preview F_Config 00-C0-B7-12-34-56
run browser ja_JP.UTF-8 browser --no-web-engine --url "$url" --shot "$(shot windows-browser)" -- \
    --preview F_Browser "$url"
run main-english en_US.UTF-8 main --other-program --english

# The same window at 144 dpi: the process is per-monitor aware, so it scales itself.
wineserver -w
timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null ||
    fail "cannot set 144 dpi"
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
run main-144dpi ja_JP.UTF-8 main-dpi 144 --shot "$(shot windows-main-144dpi)"

# The default browser was handed the page exactly once.
[ "$(cat "$work/browser.log" 2>/dev/null)" = "$url" ] ||
    { failed=1; echo "FAIL: the default browser was not given $url (got: $(cat "$work/browser.log" 2>/dev/null))" >&2; }

for bmp in "$work"/shots/*.bmp; do
    python3 "$here/bmp2png.py" "$bmp" "${bmp%.bmp}.png"
    [ -n "${DOCS:-}" ] && cp "${bmp%.bmp}.png" "$DOCS/"
done
[ "$failed" -eq 0 ] || fail "see above"
echo "torvane.exe's windows: all checks passed; screenshots in $work/shots"
