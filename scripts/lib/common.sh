# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# shellcheck shell=bash

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD="$TOP/build"

# Everything Torvane, its tests, benchmarks, fuzzer and package need from Debian 12.
PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-webengine-dev libxkbcommon-dev libx11-dev qt6-translations-l10n
    xvfb xauth fonts-ipafont-gothic fonts-liberation2 fonts-urw-base35
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-14 libclang-rt-14-dev
    iproute2 procps libcap2-bin nftables libmnl-dev
    desktop-file-utils appstream dpkg-dev file xdotool man-db
    dnsmasq-base kea-dhcp4-server
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
