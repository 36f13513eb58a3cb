#!/bin/sh
# Installs every Debian package that building, running and testing tumble needs.
# Safe to run repeatedly: it only calls apt-get when something is missing.
set -e

PKGS="build-essential cmake pkg-config ninja-build libcli11-dev
libsdl2-dev libgtk-3-dev libfreetype-dev libfontconfig-dev fonts-liberation
libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri mesa-utils
libgtest-dev libgmock-dev googletest libbenchmark-dev libpng-dev zlib1g-dev
g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
emscripten node-acorn chromium zip firefox-esr webkit2gtk-driver node-ws
xvfb xdotool x11-utils libx11-dev imagemagick sox pulseaudio pulseaudio-utils ffmpeg
clang-14 libclang-rt-14-dev
wine wine32:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386 libgl1:i386 libglu1-mesa:i386"

missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing" ]; then
    echo "installing:$missing"
    if ! dpkg --print-foreign-architectures | grep -q i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends $missing
fi

# Wine's 32-bit loader needs a kernel that runs i386 programs. Where 32-bit
# emulation is switched off, qemu's user-mode emulator runs them instead (the
# end-to-end tests register it with binfmt_misc). Wine needs qemu 8.1 or later
# there (it relies on MAP_FIXED_NOREPLACE); bookworm has that only in backports.
qemu_ok() {
    /usr/bin/qemu-i386-static --version 2>/dev/null |
        awk 'NR == 1 { split($3, v, "."); exit !(v[1] > 8 || (v[1] == 8 && v[2] >= 1)) }'
}
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && ! qemu_ok; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "this kernel does not run 32-bit programs: installing qemu-user-static for Wine"
    if [ "$codename" = bookworm ]; then
        if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
            printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
                $SUDO tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
        fi
        $SUDO apt-get update -q
        $SUDO apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user-static
    else
        $SUDO apt-get update -q
        $SUDO apt-get install -y -q --no-install-recommends qemu-user-static
    fi
fi
