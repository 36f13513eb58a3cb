#!/bin/sh
# Builds the browser version into build-web/: index.html, tumble.js and
# tumble.wasm for hosts, and tumble.html, the same page in one file.
# Needs Debian's emscripten and node-acorn (its optimiser finds acorn through
# NODE_PATH), which scripts/install-deps.sh installs (`make web` runs it).
set -e
cd "$(dirname "$0")/.."
BUILD=${WEB_BUILD:-build-web}
JOBS=${JOBS:-2}
if ! command -v emcmake >/dev/null 2>&1 || [ ! -d /usr/share/nodejs/acorn ]; then
    echo "web build: emscripten or node-acorn is missing (scripts/install-deps.sh installs them)" >&2
    exit 1
fi
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target tumble
ls -l "$BUILD/index.html" "$BUILD/tumble.js" "$BUILD/tumble.wasm" "$BUILD/tumble.html"
