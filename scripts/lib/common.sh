# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# shellcheck shell=bash

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD="$TOP/build"
BUILD_WINDOWS="$TOP/build-windows"

# Everything Torvane, its tests, benchmarks, fuzzer and package need from Debian 12.
PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-webengine-dev libxkbcommon-dev libx11-dev qt6-translations-l10n
    xvfb xauth fonts-ipafont-gothic fonts-liberation2 fonts-urw-base35
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-14 libclang-rt-14-dev
    iproute2 procps libcap2-bin nftables libmnl-dev libssl-dev
    desktop-file-utils appstream dpkg-dev file xdotool man-db x11-utils openbox xfwm4 dbus-daemon
    # The Wayland test: a real compositor and Qt's Wayland platform plugin.
    weston qt6-wayland
    dnsmasq-base kea-dhcp4-server
    # The Windows build (static runtime) and its tests; wine64 alone, no i386 architecture.
    # python3 converts the pictures to Windows resources; locales makes the Japanese locale
    # that Wine takes its UI language from in the window test.
    g++-mingw-w64-x86-64-posix wine wine64 python3 locales
)

ensure_packages() {
    local missing=() p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_tree() {
    local extra=("$@")
    cmake -S "$TOP" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
    cmake --build "$BUILD" -j2
}

# The Windows tree, cross-built with mingw-w64; its tests run under Wine. Its namespace test
# takes the card simulator from the Linux tree, so build that first.
configure_windows_tree() {
    cmake -S "$TOP" -B "$BUILD_WINDOWS" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_LINUX_BUILD="$BUILD" "$@" >/dev/null
}

build_windows_tree() {
    configure_windows_tree "$@"
    cmake --build "$BUILD_WINDOWS" -j2
}
