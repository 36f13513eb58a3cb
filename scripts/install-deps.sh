#!/bin/sh
# Installs every Debian package that building, running and testing tumble needs.
# Safe to run repeatedly: it only calls apt-get when something is missing.
set -e

PKGS="build-essential cmake pkg-config ninja-build
libsdl2-dev libgtk-3-dev libfreetype-dev libfontconfig-dev fonts-liberation
libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri mesa-utils
libgtest-dev libgmock-dev googletest libbenchmark-dev libpng-dev zlib1g-dev
g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
xvfb xdotool x11-utils imagemagick sox pulseaudio pulseaudio-utils
clang-14 libclang-rt-14-dev
wine wine32:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386 libgl1:i386 libglu1-mesa:i386"

missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "installing:$missing"
if ! dpkg --print-foreign-architectures | grep -q i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends $missing
