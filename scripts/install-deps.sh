#!/usr/bin/env bash
# Installs every Debian 12 package the build, the program and the tests need.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-qpa-plugins
    libsndfile1-dev libpulse-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth openbox trayer xdotool x11-utils imagemagick python3
    pulseaudio pulseaudio-utils sox
    qt6-wayland weston pipewire pipewire-pulse wireplumber dbus at-spi2-core python3-gi
    faketime desktop-file-utils
    fonts-liberation fonts-dejavu-core fonts-wqy-microhei
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest icoutils
    wine wine64 wine32:i386
    debhelper dpkg-dev fakeroot lintian appstream nsis
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# Wine's 32-bit part comes from Debian's i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
