#!/bin/sh
# Installs every Debian package that building, running and testing tumble needs.
# Safe to run repeatedly: it only calls apt-get when something is missing.
# xmp and openmpt123 are test-only: `make bench` times them beside tumble-xm2wav.
set -e

PKGS="build-essential cmake pkg-config ninja-build libcli11-dev
libsdl2-dev libgtk-3-dev libfreetype-dev libfontconfig-dev fonts-liberation
libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri libegl1 libegl-mesa0 mesa-utils
libgtest-dev libgmock-dev googletest libbenchmark-dev libpng-dev zlib1g-dev
g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
emscripten node-acorn chromium firefox-esr webkit2gtk-driver node-ws zip unzip
lintian fakeroot dpkg-dev acl
xmp openmpt123
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
# Waits for another apt run (an unattended upgrade, say) instead of failing.
APT="$SUDO apt-get -y -q --no-install-recommends -o DPkg::Lock::Timeout=900"
UPDATE="$SUDO apt-get update -q -o DPkg::Lock::Timeout=900"
if [ -n "$missing" ]; then
    echo "installing:$missing"
    if ! dpkg --print-foreign-architectures | grep -q i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $UPDATE
    $APT install $missing
fi

# Wine's 32-bit loader needs a kernel that runs i386 programs. Where 32-bit
# support is switched off, qemu's user-mode emulator runs them instead,
# registered with binfmt_misc. Wine needs qemu 8.1 or later there (it relies
# on MAP_FIXED_NOREPLACE); bookworm has that only in backports.
. "$(dirname "$0")/i386.sh"
if [ -e /usr/lib/wine/wine ] && ! i386_runs; then
    if ! qemu_i386_ok; then
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        echo "this kernel does not run 32-bit programs: installing qemu-user-static (8.1 or later) for Wine"
        suite=""
        if [ "$codename" = bookworm ]; then
            suite="-t bookworm-backports"
            if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
                printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
                    $SUDO tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
            fi
        fi
        $UPDATE
        $APT install $suite qemu-user-static
        qemu_i386_ok || { echo "install-deps: $QEMU_I386 is missing or older than 8.1 after installing it" >&2; exit 1; }
    fi
    if ! i386_runs; then
        $SUDO sh -c ". '$(dirname "$0")/i386.sh' && i386_register" || exit 1
        i386_runs || { echo "install-deps: wine still cannot start: $(/usr/lib/wine/wine --version 2>&1 | head -n 1)" >&2; exit 1; }
        echo "32-bit programs run through $QEMU_I386"
    fi
fi
