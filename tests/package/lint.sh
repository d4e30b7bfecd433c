#!/usr/bin/env bash
# The installed tree as a desktop sees it: every file in place, the menu entry and AppStream
# data accepted by their validators, icons of the sizes their folders claim, man pages that
# format without warnings and that name every option the programs' --help lists.
# Usage: lint.sh BUILD_DIR VERSION PACKAGE_VERSION
set -u
build=$1
version=$2
package_version=$3
app_id=org.torvane.Torvane

failures=0
ok() { echo "ok   - $1"; }
fail() {
    echo "FAIL - $1"
    [ $# -gt 1 ] && echo "$2" | sed 's/^/       /'
    failures=$((failures + 1))
}
check() { # description, command...
    local what=$1 out
    shift
    if out=$("$@" 2>&1); then ok "$what"; else fail "$what" "$out"; fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
if ! out=$(DESTDIR=$root cmake --install "$build" --prefix /usr 2>&1); then
    fail "cmake --install into a staging tree" "$out"
    exit 1
fi
usr=$root/usr

for f in bin/torvane bin/torvane-cardsim bin/torvane-assign libexec/torvane/torvane-helper \
    share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
    share/icons/hicolor/16x16/apps/torvane.png share/icons/hicolor/32x32/apps/torvane.png \
    share/icons/hicolor/scalable/apps/torvane.svg \
    share/man/man1/torvane.1.gz share/man/man1/torvane-cardsim.1.gz share/man/man1/torvane-assign.1.gz \
    share/doc/torvane/changelog.gz; do
    if [ -f "$usr/$f" ]; then ok "installed: /usr/$f"; else fail "installed: /usr/$f"; fi
done
module=$(find "$usr/lib" -path '*/torvane/libtorvane_webengine.so' 2>/dev/null | head -1)
if [ -n "$module" ]; then ok "installed: the web engine module ${module#"$root"}"; else
    fail "installed: the web engine module under /usr/lib/.../torvane/"; fi

# The installed programs look for nothing on the machine they were built on: no path of the
# build or source tree is in what the package ships (stripped, as CPack strips it; 8- and
# 16-bit strings, since Qt keeps its string literals in UTF-16).
source_dir=$(cd "$(dirname "$0")/../.." && pwd -P)
build_dir=$(cd "$build" && pwd -P)
for f in "$usr/bin/torvane" "$usr/bin/torvane-cardsim" "$usr/bin/torvane-assign" \
    "$usr/libexec/torvane/torvane-helper" $module; do
    [ -f "$f" ] || continue
    strip -o "$tmp/stripped" "$f"
    found=$({ strings -a "$tmp/stripped"; strings -a -e l "$tmp/stripped"; } |
        grep -F -e "$build_dir" -e "$source_dir" | sort -u)
    if [ -z "$found" ]; then ok "${f#"$root"} names no build or source folder"; else
        fail "${f#"$root"} names no build or source folder" "$found"; fi
done

desktop=$usr/share/applications/$app_id.desktop
metainfo=$usr/share/metainfo/$app_id.metainfo.xml
if [ -f "$desktop" ]; then
    check "desktop-file-validate accepts the menu entry" desktop-file-validate "$desktop"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon_name=$(sed -n 's/^Icon=//p' "$desktop")
    check "the menu entry starts an installed program ($exec_name)" test -x "$usr/bin/$exec_name"
    check "the menu entry's icon ($icon_name) is in the hicolor theme at 32 px" \
        test -f "$usr/share/icons/hicolor/32x32/apps/$icon_name.png"
    for key in Name GenericName Comment; do
        check "the menu entry has $key and $key[ja]" \
            sh -c 'grep -q "^$1=." "$2" && grep -q "^$1\[ja\]=." "$2"' - "$key" "$desktop"
    done
fi
if [ -f "$metainfo" ]; then
    check "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$metainfo"
    check "appstreamcli accepts the installed tree" appstreamcli validate-tree --no-net "$usr"
    check "the metainfo's release is $version" grep -q "<release version=\"$version\"" "$metainfo"
    check "the metainfo launches the installed menu entry" \
        grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo"
fi

changelog=$usr/share/doc/torvane/changelog.gz
[ -f "$changelog" ] && check "the changelog's first release is $package_version" \
    grep -q "^## $package_version (" <<<"$(zcat "$changelog" | grep -m1 '^## ')"

for size in 16 32; do
    png=$usr/share/icons/hicolor/${size}x$size/apps/torvane.png
    [ -f "$png" ] || continue
    check "the ${size}x$size icon is a $size x $size PNG" \
        grep -q "PNG image data, $size x $size," <<<"$(file -b "$png")"
done
svg=$usr/share/icons/hicolor/scalable/apps/torvane.svg
[ -f "$svg" ] && check "the scalable icon is SVG" grep -qi "SVG" <<<"$(file -b "$svg")"

for prog in torvane torvane-cardsim torvane-assign; do
    page=$usr/share/man/man1/$prog.1.gz
    [ -f "$page" ] || continue
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
    if [ -z "$warnings" ]; then ok "man page $prog.1 formats without warnings"; else
        fail "man page $prog.1 formats without warnings" "$warnings"; fi
    check "man page $prog.1 carries version $version" \
        grep -q "\"Torvane $version\"" <<<"$(zcat "$page" | head -1)"
    # Every option the program lists must be described in its page.
    [ -x "$usr/bin/$prog" ] || continue
    help=$(QT_QPA_PLATFORM=offscreen timeout 10 "$usr/bin/$prog" --help 2>&1)
    text=$(zcat "$page" | sed 's/\\-/-/g')
    missing=""
    for opt in $(grep -oE -- '(^|[ ,\[])--[a-z][a-z-]*' <<<"$help" | grep -oE -- '--[a-z-]+' | sort -u); do
        grep -qF -- "$opt" <<<"$text" || missing+=" $opt"
    done
    if [ -n "$help" ] && [ -z "$missing" ]; then ok "man page $prog.1 names every option of --help"; else
        fail "man page $prog.1 names every option of --help" "missing:${missing:- (no --help output)}"; fi
done

exit $failures
