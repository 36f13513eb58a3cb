#!/bin/bash
# tumble-capture with no display at all renders through SDL's offscreen
# driver, and a stale DISPLAY falls back to it too; the frames and music.wav
# equal those of the same capture on an X display (both Mesa's llvmpipe).
#   capture_headless_test.sh TUMBLE_CAPTURE XVFB_RUN OUTDIR
set -u
capture=${1:?tumble-capture} xvfb=${2:?xvfb-run.sh} out=${3:?output folder}
rm -rf "$out" && mkdir -p "$out"
args=(--width 320 --height 240 --fps 2 --seconds 17)   # into the main phase
fail() { echo "FAIL: $*" >&2; exit 1; }

env -u DISPLAY -u WAYLAND_DISPLAY LIBGL_ALWAYS_SOFTWARE=1 "$capture" "${args[@]}" --out "$out/headless" \
    2>"$out/headless.log" || fail "no display: $(tail -n 3 "$out/headless.log")"
env -u WAYLAND_DISPLAY DISPLAY=:99.99 LIBGL_ALWAYS_SOFTWARE=1 "$capture" "${args[@]}" --out "$out/stale" \
    2>"$out/stale.log" || fail "stale DISPLAY: $(tail -n 3 "$out/stale.log")"
"$xvfb" "$capture" "${args[@]}" --out "$out/x11" 2>"$out/x11.log" || fail "on Xvfb: $(tail -n 3 "$out/x11.log")"

n=$(find "$out/x11" -name 'frame*.png' | wc -l)
[ "$n" -eq 34 ] || fail "$n frames on Xvfb, expected 34"
for route in headless stale; do
    for f in "$out"/x11/frame*.png "$out/x11/music.wav"; do
        cmp -s "$f" "$out/$route/${f##*/}" || fail "the $route capture's ${f##*/} differs from the one on Xvfb"
    done
done
echo "no display and a stale DISPLAY: $n frames and music.wav identical to the capture on Xvfb"
rm -rf "$out"
