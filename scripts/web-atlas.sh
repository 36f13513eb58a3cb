#!/bin/sh
# The browser build's glyph atlas, rendered on the build machine by the Linux
# backend's FreeType code: browsers draw canvas text each their own way.
#   web-atlas.sh SOURCE_DIR OUT.inc
set -e
# fontconfig prefers fonts for the locale's language: the same one everywhere.
export LC_ALL=C
src=$1 out=$2
dir=$(dirname "$out")
mkdir -p "$dir"
${CXX_HOST:-c++} -std=c++20 -O2 -I"$src" "$src/platform/sdl/glyphs.cpp" "$src/platform/web/host/atlas.cpp" \
    $(pkg-config --cflags --libs freetype2 fontconfig) -o "$dir/atlas-host"
"$dir/atlas-host" Arial "$out.tmp"
mv "$out.tmp" "$out"
