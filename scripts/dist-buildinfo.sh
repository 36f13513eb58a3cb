#!/bin/sh
# Writes, to stdout, what a rebuild of the release must match to give the
# same bytes: the commit, its date, and the versions of the compilers, the
# runtimes and libraries built in, the font and FreeType that draw the web
# page's glyph atlas, and the archivers (in the manner of Debian's .buildinfo).
set -e
export LC_ALL=C
cd "$(dirname "$0")/.."
first() { "$@" 2>/dev/null | sed -n '1{s/[[:space:]]*$//;p;}'; }
version=${VERSION:?VERSION is not set}
echo "Format: tumble-buildinfo 1"
echo "Source: tumble"
echo "Version: $version"
echo "Commit: $(git rev-parse HEAD 2>/dev/null || echo unknown)"
echo "Source-Date-Epoch: ${SOURCE_DATE_EPOCH:?SOURCE_DATE_EPOCH is not set}"
echo "Build-Architecture: ${DEB_ARCH:?DEB_ARCH is not set}"
echo "Build-Tools:"
echo " $(first g++ --version)"
echo " $(first i686-w64-mingw32-g++-win32 --version)"
echo " $(first i686-w64-mingw32-ld --version)"
echo " $(first emcc --version)"
echo " $(first cmake --version)"
echo " ninja $(first ninja --version)"
echo "Glyph-Atlas-Font: $(first fc-match -f '%{file}: %{family[0]} %{style[0]}\n' Arial)"
echo "Installed-Build-Depends:"
# The packages whose versions reach the archives' bytes.
for p in binutils g++-12 libstdc++-12-dev libc6-dev cmake ninja-build pkg-config \
    g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32-runtime \
    binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common \
    emscripten binaryen clang-14 llvm-14 lld-14 nodejs node-acorn python3 \
    libfreetype6 libfontconfig1 fontconfig-config fonts-liberation \
    libsdl2-dev libgtk-3-dev libgl-dev libglu1-mesa-dev libx11-dev \
    zip dpkg-dev dpkg xz-utils gzip tar; do
    line=$(dpkg-query -W -f='${db:Status-Abbrev}${Package} (= ${Version})\n' "$p" 2>/dev/null | sed -n 's/^ii *//p' | sort -u)
    [ -n "$line" ] || line="$p (not installed)"
    printf '%s\n' "$line" | sed 's/^/ /'
done
