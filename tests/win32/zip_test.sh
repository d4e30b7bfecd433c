#!/usr/bin/env bash
# The Windows zip as a new user meets it: packed twice from the built programs (the same
# bytes both times), unpacked, its files, README.txt (both languages, Notepad's encoding) and
# licence texts checked, each .exe importing only Windows's own DLLs, and the unpacked
# programs started under Wine from their folder: torvane-assign.exe --version when it is
# packed, torvane.exe's main window seen by win_window_probe and closed with Esc. Wine runs in
# a copy of the wine_prefix fixture's prefix, on an Xvfb display of the test's own; the whole
# test runs through cmake/isolated.sh, so nothing reaches a network.
#   zip_test.sh VERSION-REVISION WORK_DIR PREFIX_TO_COPY PROBE_EXE PACK_COMMAND... -- PROGRAM.exe...
set -uo pipefail
version=$1 work=$2 source_prefix=$3 probe=$4
# The programs call themselves by the version alone; the zip and its README add the revision.
program_version=${version%-*}
[ "$program_version" != "$version" ] || { echo "FAIL - '$version' names no revision"; exit 1; }
shift 4
pack=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do pack+=("$1"); shift; done
shift
programs=("$@")
here=$(cd "$(dirname "$0")" && pwd)

failures=0
ok() { echo "ok   - $1 ($SECONDS s)"; }
fail() {
    echo "FAIL - $1"
    [ $# -gt 1 ] && printf '%s\n' "$2" | sed 's/^/       /'
    failures=$((failures + 1))
}
die() {
    fail "$@"
    exit 1
}
check() { # description, command...
    local what=$1 out
    shift
    if out=$("$@" 2>&1); then ok "$what"; else fail "$what" "$out"; fi
}

rm -rf "$work"
mkdir -p "$work"
name=torvane-$version-windows-x64.zip
out=$("${pack[@]}" --out "$work/$name" "${programs[@]}" 2>&1) || die "the packer makes $name" "$out"
sleep 1.1 # a second later: a date taken from the clock would show
out=$("${pack[@]}" --out "$work/again.zip" "${programs[@]}" 2>&1) || die "the packer runs again" "$out"
check "two packings give the same bytes" cmp "$work/$name" "$work/again.zip"

python3 -m zipfile -e "$work/$name" "$work/unpacked" || die "the zip unpacks"
top=$work/unpacked/torvane-$version

has_assign=no
files=("" README.txt licenses/ licenses/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt licenses/GPL-3.txt
    licenses/NOTICE.txt licenses/gcc-mingw-w64.copyright.txt licenses/mingw-w64.copyright.txt
    torvane.exe)
for p in "${programs[@]}"; do
    if [ "$(basename "$p")" = torvane-assign.exe ]; then
        has_assign=yes
        files+=(torvane-assign.exe)
    fi
done
expected=$(for f in "${files[@]}"; do echo "torvane-$version/$f"; done | sort)
listed=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$work/$name")
if [ "$listed" = "$expected" ]; then ok "the files, in one folder torvane-$version/"; else
    fail "the files, in one folder torvane-$version/" "$(diff <(echo "$expected") <(echo "$listed"))"; fi

# README.txt: a BOM, CRLF on every line (Notepad of older Windows shows nothing else right),
# both languages with the firewall, administrator and engine mode parts, the version, no
# template left.
readme=$top/README.txt
python3 - "$readme" "$version" "$has_assign" <<'PY'
import sys
path, version, has_assign = sys.argv[1], sys.argv[2], sys.argv[3] == "yes"
data = open(path, "rb").read()
failed = []
def need(ok, what):
    print(("ok   - " if ok else "FAIL - ") + "README.txt: " + what)
    if not ok:
        failed.append(what)
need(data.startswith(b"\xef\xbb\xbf"), "starts with the UTF-8 BOM")
need(b"\n" in data and data.count(b"\n") == data.count(b"\r\n") and
     data.count(b"\r") == data.count(b"\r\n"), "CRLF on every line, no bare CR or LF")
text = data[3:].decode("utf-8")
ja, sep, en = text.partition("==== English ====")
need("==== 日本語 ====" in ja and sep != "", "a Japanese and an English part, in that order")
need(f"Torvane {version} " in text, f"names version {version}")
for words in ("torvane.exe", "プライベート ネットワーク", "アクセスを許可する", "キャンセル",
              "許可", "管理者として実行", "ARPエントリを登録できませんでした",
              "HKEY_CURRENT_USER", "FEATURE_BROWSER_EMULATION", "11001"):
    need(words in ja, f"Japanese part says '{words}'")
for words in ("torvane.exe", '"Private', "[Allow access]", "[Cancel]", "Allow an app",
              "Run as administrator", "The ARP entry could not be added",
              "HKEY_CURRENT_USER", "FEATURE_BROWSER_EMULATION", "11001"):
    need(words in en, f"English part says '{words}'")
for part, label in ((ja, "Japanese"), (en, "English")):
    need(("torvane-assign.exe --help" in part) == has_assign,
         f"{label} part points at torvane-assign.exe --help exactly when it is packed")
need("@VERSION@" not in text and "[[" not in text, "no template marker left")
sys.exit(1 if failed else 0)
PY
[ $? -eq 0 ] || failures=$((failures + 1))

lic=$top/licenses
check "GPL-3.txt is the GPL version 3" grep -q "Version 3, 29 June 2007" "$lic/GPL-3.txt"
check "the GCC Runtime Library Exception 3.1" \
    sh -c 'grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$1" && grep -q "Version 3.1" "$1"' _ \
    "$lic/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt"
check "mingw-w64's notice covers winpthreads" grep -q "winpthreads" "$lic/mingw-w64.copyright.txt"
for package in g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev \
    gcc-mingw-w64-base base-files; do
    check "NOTICE names the package $package with its version" \
        grep -q "$package [0-9]" "$lic/NOTICE.txt"
done

exes=("$top/torvane.exe")
[ $has_assign = yes ] && exes+=("$top/torvane-assign.exe")
check "the unpacked programs import only Windows's own DLLs" "$here/imports.sh" "${exes[@]}"

# Tried as a new user would: from the unpacked folder, in a prefix nobody has used.
[ -f "$source_prefix/system.reg" ] || die "no Wine prefix at $source_prefix (the wine_prefix test makes it)"
WINEPREFIX=$source_prefix wineserver -w 2>/dev/null || true
cp -a "$source_prefix" "$work/prefix" || die "copying the Wine prefix"
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY DISPLAY
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work/prefix"
}
trap cleanup EXIT
cd "$top" || die "cd $top"

if [ $has_assign = yes ]; then
    got=$(timeout 60 wine torvane-assign.exe --version 2>&1 | tr -d '\r')
    if [ "$got" = "torvane-assign $program_version" ]; then ok "torvane-assign.exe --version: $got"; else
        fail "torvane-assign.exe --version says 'torvane-assign $program_version'" "$got"; fi
fi

exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 display <&3 || die "Xvfb did not start"
exec 3<&-
export DISPLAY=:$display LANG=en_US.UTF-8

timeout 60 wine torvane.exe >"$work/torvane.log" 2>&1 &
exe_pid=$!
probe_out=$(timeout 60 wine "$probe" main --english 2>&1)
if [ $? -eq 0 ]; then ok "torvane.exe starts: its main window as it should be, Esc closes it"; else
    fail "torvane.exe starts: its main window as it should be, Esc closes it" "$probe_out"; fi
if wait "$exe_pid"; then ok "torvane.exe ends with status 0"; else
    fail "torvane.exe ends with status 0" "$(cat "$work/torvane.log")"; fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "the Windows zip: all checks passed ($(stat -c %s "$work/$name") bytes)"
