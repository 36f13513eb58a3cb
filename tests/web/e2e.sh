#!/bin/bash
# The browser build end to end in one engine (chromium, firefox or webkit):
# builds build-web if needed, serves it on a free 127.0.0.1 port, lets the
# engine run the show in capture mode with "windowed" picked, and compares its
# frames and sound with the native references. Chromium also plays it in real
# time and its Web Audio callback's first seconds are compared. Firefox and
# WebKit run on their own Xvfb display: headless they have no WebGL.
# Exit 77 (skipped) only where emcc or the engine's package is missing.
# Usage: e2e.sh ENGINE SOURCE_DIR WEB_CHECK OUTDIR
set -u
engine=$1 src=$2 check=$3 out=$4
# The capture clock's frames at 50 per second: 1, 5 and 9 s, the main phase's
# first frame (14.7 s), and 5 and 8 s into it (19.7 and 22.7 s).
shots="t01s=50 t05s=250 t09s=450 main00s=735 main05s=985 main08s=1135"

command -v emcc >/dev/null 2>&1 || { echo "SKIP: emcc is not installed (apt-get install emscripten node-acorn)"; exit 77; }
command -v node >/dev/null 2>&1 || { echo "SKIP: node is not installed"; exit 77; }
display=()
case $engine in
chromium) command -v "${CHROMIUM:-chromium}" >/dev/null 2>&1 || { echo "SKIP: chromium is not installed"; exit 77; } ;;
firefox)
    command -v "${FIREFOX:-firefox-esr}" >/dev/null 2>&1 || { echo "SKIP: firefox-esr is not installed"; exit 77; }
    [ -e /usr/share/nodejs/ws ] || node -e 'require("ws")' 2>/dev/null || { echo "SKIP: node-ws is not installed"; exit 77; }
    display=("$src/tests/xvfb-run.sh") ;;
webkit)
    command -v "${WEBKIT_DRIVER:-WebKitWebDriver}" >/dev/null 2>&1 || { echo "SKIP: webkit2gtk-driver is not installed"; exit 77; }
    display=("$src/tests/xvfb-run.sh") ;;
*) echo "usage: e2e.sh chromium|firefox|webkit SOURCE_DIR WEB_CHECK OUTDIR"; exit 2 ;;
esac

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

frames=$(for s in $shots; do printf '%s,' "${s#*=}"; done)
frames=${frames%,}
live=()
[ "$engine" = chromium ] && live=("http://127.0.0.1:$port/index.html?record=1")
"${display[@]}" node "$src/tests/web/drive.js" "$engine" "http://127.0.0.1:$port/index.html?capture=1&fps=50&record=1&shots=$frames" \
    "$out" "$frames" 240 "${live[@]}"
status=$?
[ $status -eq 0 ] || exit $status
if [ "$engine" = chromium ] && [ ! -s "$out/audio_live.raw" ]; then
    echo "FAIL: no real-time sound was recorded"; exit 1
fi

expected=$'Select your resolution\n640x480|800x600|960x720|1024x768 (default)|1152x864|1280x960|1280x1024|windowed\nOk, let\'s go!|Cancel'
[ "$(cat "$out/chooser.txt")" = "$expected" ] || { echo "FAIL: the chooser reads:"; cat "$out/chooser.txt"; exit 1; }
# shellcheck disable=SC2086
"$check" "$out" "$src/tests/golden/ref" $shots
