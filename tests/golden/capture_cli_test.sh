#!/bin/bash
# The capture tool's command line: refusals, and a small capture into a folder.
# Usage: capture_cli_test.sh TUMBLE_CAPTURE WORKDIR
set -u
tool=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
failures=0

refuse() {   # refuse EXPECTED-TEXT ARGS...
    local expect=$1
    shift
    if out=$("$tool" "$@" 2>&1); then
        echo "FAIL: accepted: $*"; failures=$((failures + 1))
    elif ! grep -q -- "$expect" <<<"$out"; then
        echo "FAIL: '$*' said: $out"; failures=$((failures + 1))
    fi
}

refuse "no --out" --width 64
refuse "unknown option" --out "$work/x" --colour red
refuse "bad value '0' for --width" --width 0 --out "$work/x"
refuse "bad value '12x' for --height" --height 12x --out "$work/x"
refuse "bad value 'nan' for --seconds" --seconds nan --out "$work/x"
refuse "bad value '-1' for --seconds" --seconds -1 --out "$work/x"
refuse "missing value" --out
refuse "exclude each other" --discard --out "$work/x"
# Without ffmpeg on PATH, a video is refused before anything is rendered.
if out=$(PATH=/nonexistent "$tool" --seconds 1 --out "$work/show.mp4" 2>&1) || ! grep -q "ffmpeg" <<<"$out"; then
    echo "FAIL: mp4 without ffmpeg: $out"; failures=$((failures + 1))
fi
touch "$work/file"
refuse "cannot create the folder" --seconds 1 --out "$work/file"

# 1 s at 5 frames per second: five frames and 1 s of (silent) audio.
if ! "$tool" --width 64 --height 48 --fps 5 --seconds 1 --out "$work/run" >"$work/run.log" 2>&1; then
    echo "FAIL: capture failed:"; cat "$work/run.log"; failures=$((failures + 1))
fi
for i in 0 1 2 3 4; do
    [ -s "$work/run/frame0000$i.png" ] || { echo "FAIL: frame $i missing"; failures=$((failures + 1)); }
done
[ -e "$work/run/frame00005.png" ] && { echo "FAIL: one frame too many"; failures=$((failures + 1)); }
size=$(stat -c %s "$work/run/music.wav" 2>/dev/null || echo 0)
[ "$size" = $((44 + 44100 * 4)) ] || { echo "FAIL: music.wav has $size bytes"; failures=$((failures + 1)); }
grep -q "median" "$work/run.log" || { echo "FAIL: no render times"; failures=$((failures + 1)); }

# A video, where the encoder is installed: H.264 and AAC, one second long.
if command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null; then
    if ! "$tool" --width 64 --height 48 --fps 10 --seconds 1 --out "$work/show.mp4" >"$work/mp4.log" 2>&1; then
        echo "FAIL: video capture failed:"; cat "$work/mp4.log"; failures=$((failures + 1))
    fi
    streams=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$work/show.mp4" | sort | tr '\n' ' ')
    [ "$streams" = "aac h264 " ] || { echo "FAIL: video streams: $streams"; failures=$((failures + 1)); }
    ls "$work"/show.mp4.* >/dev/null 2>&1 && { echo "FAIL: temporary files left"; failures=$((failures + 1)); }
else
    echo "ffmpeg not installed: video output not checked"
fi

[ $failures = 0 ] && echo "capture command line: all checks passed"
exit $failures
