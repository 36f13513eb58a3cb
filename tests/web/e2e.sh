#!/bin/bash
# The browser build end to end: builds build-web if needed, serves it on a
# free 127.0.0.1 port, lets headless Chromium run the show in capture mode
# with "windowed" picked, and compares its frames and sound with the native
# references. Exit 77 (skipped) only where emcc or Chromium cannot start.
# Usage: e2e.sh SOURCE_DIR WEB_CHECK OUTDIR
set -u
src=$1 check=$2 out=$3
# The capture clock's frames at 50 per second: 1, 5 and 9 s, the main phase's
# first frame (14.7 s), and 5 and 8 s into it (19.7 and 22.7 s).
shots="t01s=50 t05s=250 t09s=450 main00s=735 main05s=985 main08s=1135"

command -v emcc >/dev/null 2>&1 || { echo "SKIP: emcc is not installed (apt-get install emscripten node-acorn)"; exit 77; }
command -v ${CHROMIUM:-chromium} >/dev/null 2>&1 || { echo "SKIP: chromium is not installed"; exit 77; }
command -v node >/dev/null 2>&1 || { echo "SKIP: node is not installed"; exit 77; }

WEB_BUILD=$src/build-web "$src/scripts/web-build.sh" >"$out.build.log" 2>&1 || {
    echo "FAIL: the web build failed:"; tail -20 "$out.build.log"; exit 1; }

rm -rf "$out" && mkdir -p "$out/tmp"
export TMPDIR=$out/tmp   # the browser profile stays in the build folder
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$src/build-web" "$port" >"$out/http.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null' EXIT INT TERM
for _ in $(seq 50); do
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/index.html')" 2>/dev/null && break
    sleep 0.1
done

# Glyphs hinted fully, as FreeType does for the native atlas; the browser's
# default (slight hinting) blurs horizontal stems differently.
export FONTCONFIG_FILE=$src/tests/web/fonts.conf
frames=$(for s in $shots; do printf '%s,' "${s#*=}"; done)
frames=${frames%,}
node "$src/tests/web/drive.js" "http://127.0.0.1:$port/index.html?capture=1&fps=50&shots=$frames" "$out" "$frames" 240 \
    "http://127.0.0.1:$port/index.html"
status=$?
[ $status -eq 0 ] || exit $status

expected=$'Select your resolution\n640x480|800x600|960x720|1024x768 (default)|1152x864|1280x960|1280x1024|windowed\nOk, let\'s go!|Cancel'
[ "$(cat "$out/chooser.txt")" = "$expected" ] || { echo "FAIL: the chooser reads:"; cat "$out/chooser.txt"; exit 1; }
# shellcheck disable=SC2086
"$check" "$out" "$src/tests/golden/ref" $shots
