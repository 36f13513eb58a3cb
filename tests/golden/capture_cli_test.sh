#!/bin/bash
# The capture tool's command line: refusals, and a small capture into a folder.
# Usage: capture_cli_test.sh TUMBLE_CAPTURE WORKDIR
set -u
tool=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

refuse() {   # refuse EXIT-CODE EXPECTED-TEXT ARGS...: refused, said so, created nothing
    local code=$1 expect=$2
    shift 2
    out=$("$tool" "$@" 2>&1)
    local rc=$?
    [ $rc = "$code" ] || fail "'$*' exit code $rc, want $code"
    grep -q -- "$expect" <<<"$out" || fail "'$*' said: $out"
    [ -e "$work/x" ] && { fail "'$*' created its output"; rm -rf "$work/x"; }
}

refuse 2 "no --out" --width 64
refuse 2 "--colour" --out "$work/x" --colour red
refuse 2 "bad value '0'" --width=0 --out "$work/x"
refuse 2 "bad value '12x'" --height 12x --out "$work/x"
refuse 2 "bad value 'nan'" --seconds nan --out "$work/x"
refuse 2 "bad value '-1'" --seconds=-1 --out "$work/x"
refuse 2 "--out" --out
refuse 2 "excludes" --discard --out "$work/x"
refuse 2 "between 1 and 10000000 frames" --seconds 0.001 --fps 1 --out "$work/x"
refuse 2 "bad value '1'" --width 1 --out "$work/x"
refuse 2 "bad value '52'" --crf 52 --out "$work/x.mp4"
refuse 2 ".mp4 only" --crf 20 --out "$work/x"
for v in x.webm x.MOV; do
    refuse 2 "writes .mp4 and .mkv videos only" --seconds 1 --out "$work/$v"
    [ -e "$work/$v" ] && fail "--out $v created it"
done
"$tool" --help | grep -q -- "--force" || fail "--help: no usage on stdout"
"$tool" --version | grep -q "^tumble-capture [0-9]" || fail "--version"
# Without ffmpeg on PATH, a video is refused before anything is rendered.
if out=$(PATH=/nonexistent "$tool" --seconds 1 --out "$work/show.mp4" 2>&1) || ! grep -q "ffmpeg" <<<"$out"; then
    fail "mp4 without ffmpeg: $out"
fi
touch "$work/file"
refuse 1 "file is a file, not a folder" --seconds 1 --out "$work/file"

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
grep -q '\[[#.]*\]' "$work/run.log" && fail "progress bar written to a log"

# A second run into the folder is refused; --force removes only what the
# earlier capture recorded writing, not the user's frame00099.png.
touch "$work/run/frame00099.png" "$work/run/notes.txt"
refuse 1 "--force" --width 64 --height 48 --fps 5 --seconds 1 --out "$work/run"
[ -e "$work/run/frame00099.png" ] || fail "refused run touched the earlier capture"
"$tool" --width 64 --height 48 --fps 5 --seconds 0.4 --out "$work/run" --force >/dev/null 2>&1 || fail "--force run failed"
[ "$(cd "$work/run" && echo frame*.png)" = "frame00000.png frame00001.png frame00099.png" ] || fail "--force left: $(ls "$work/run")"
[ -e "$work/run/notes.txt" ] || fail "--force removed a file of the user's"
# A name this run would write that no capture recorded: refused even with --force.
mkdir -p "$work/mine" && echo mine >"$work/mine/frame00000.png"
refuse 1 "frame00000.png is in the way" --width 64 --height 48 --fps 5 --seconds 1 --out "$work/mine" --force
[ "$(cat "$work/mine/frame00000.png")" = mine ] && [ "$(ls -A "$work/mine")" = frame00000.png ] || fail "refused --force run changed the folder"

# A full disk: the real reason (not the progress bar's), no partial frame.
mkdir -p "$work/small"
if mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
    out=$("$tool" --width 64 --height 48 --fps 50 --seconds 2 --out "$work/small/run" 2>&1)
    rc=$?
    [ $rc = 1 ] && grep -q "No space left on device" <<<"$out" || fail "full disk: exit code $rc, said: $out"
    for f in "$work"/small/run/frame*.png; do
        [ -s "$f" ] && head -c 8 "$f" | od -An -tx1 | tr -d ' \n' | grep -q '^89504e470d0a1a0a$' || fail "full disk left $f"
    done
    ls -A "$work/small/run" | grep -q '^\.tumble-[a-z0-9]*-[0-9]*-' && fail "full disk left a temporary file"
    umount "$work/small"
else
    echo "mounting a tmpfs is not allowed here: full-disk capture not checked"
fi

# A video, where the encoder is installed: H.264 and AAC, one second long.
if command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null; then
    if ! "$tool" --width 64 --height 48 --fps 10 --seconds 1 --out "$work/show.mp4" >"$work/mp4.log" 2>&1; then
        echo "FAIL: video capture failed:"; cat "$work/mp4.log"; failures=$((failures + 1))
    fi
    streams=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$work/show.mp4" | sort | tr '\n' ' ')
    [ "$streams" = "aac h264 " ] || { echo "FAIL: video streams: $streams"; failures=$((failures + 1)); }
    ls -A "$work" | grep -q '^\.tumble-' && fail "temporary files left: $(ls -A "$work")"
    # Odd sizes are padded to even ones for the encoder.
    "$tool" --width 63 --height 47 --fps 10 --seconds 0.3 --out "$work/odd.mp4" >/dev/null 2>&1 || fail "odd-size video failed"
    size=$(ffprobe -v error -show_entries stream=width,height -select_streams v -of csv=p=0 "$work/odd.mp4")
    [ "$size" = "64,48" ] || fail "odd-size video is $size"
    # The extension in any case; SIGINT during encoding leaves nothing behind.
    "$tool" --width 64 --height 48 --fps 10 --seconds 0.3 --out "$work/Up.MP4" >/dev/null 2>&1 || fail "Up.MP4 failed"
    [ -f "$work/Up.MP4" ] || fail "Up.MP4 is not a video file"
    # (With job control on, so that the background run does not start with SIGINT ignored.)
    mkdir -p "$work/stopped"
    set -m
    "$tool" --width 64 --height 48 --fps 100 --seconds 300 --out "$work/stopped/v.mp4" >/dev/null 2>&1 &
    pid=$!
    set +m
    sleep 3
    kill -INT $pid
    timeout 20 tail --pid=$pid -f /dev/null || { fail "SIGINT did not end a video capture"; kill -KILL $pid; }
    sleep 0.5
    [ -z "$(ls -A "$work/stopped")" ] || fail "interrupted video left: $(ls -A "$work/stopped")"
    # 16:9: a 4:3 picture between black columns of 240; H.264 High yuv420p at
    # the front of the file, AAC-LC 44.1 kHz stereo of at least 256 kb/s once the music plays.
    "$tool" --width 1920 --height 1080 --fps 2 --seconds 20 --out "$work/wide.mp4" >/dev/null 2>&1 || fail "1920 x 1080 video failed"
    v=$(ffprobe -v error -select_streams v -show_entries stream=profile,pix_fmt,width,height -of csv=p=0 "$work/wide.mp4")
    [ "$v" = "High,1920,1080,yuv420p" ] || fail "1920 x 1080 video stream: $v"
    a=$(ffprobe -v error -select_streams a -show_entries stream=profile,sample_rate,channels -of csv=p=0 "$work/wide.mp4")
    [ "$a" = "LC,44100,2" ] || fail "1920 x 1080 audio stream: $a"
    rate=$(ffprobe -v error -select_streams a -show_entries packet=pts_time,size -of csv=p=0 "$work/wide.mp4" |
           awk -F, '$1 >= 8 { b += $2; if (!t0) t0 = $1; t1 = $1 } END { printf "%d", b * 8 / (t1 - t0 + 1024 / 44100) }')
    [ "${rate:-0}" -ge 256000 ] || fail "AAC at $rate b/s"
    moov=$(grep -abo moov "$work/wide.mp4" | head -1 | cut -d: -f1)
    mdat=$(grep -abo mdat "$work/wide.mp4" | head -1 | cut -d: -f1)
    [ -n "$moov" ] && [ -n "$mdat" ] && [ "$moov" -lt "$mdat" ] || fail "moov ($moov) not before mdat ($mdat)"
    brightest() { ffmpeg -v error -ss 8 -i "$work/wide.mp4" -frames:v 1 -vf "crop=$1" -f rawvideo -pix_fmt gray - |
                  od -An -tu1 -v | tr -s ' ' '\n' | sort -n | tail -1; }
    [ "$(brightest 236:1080:0:0)" -le 4 ] && [ "$(brightest 236:1080:1684:0)" -le 4 ] || fail "no black columns"
    [ "$(brightest 1440:1080:240:0)" -ge 64 ] || fail "no picture between the columns"
    # The lossless archive decodes to the PNG frames and music.wav exactly (odd sizes too).
    "$tool" --width 65 --height 47 --fps 5 --seconds 8.4 --out "$work/same" >/dev/null 2>&1 &&
        "$tool" --width 65 --height 47 --fps 5 --seconds 8.4 --out "$work/same.mkv" >/dev/null 2>&1 || fail "mkv capture failed"
    [ "$(ffmpeg -v error -i "$work/same.mkv" -map 0:v -f rawvideo -pix_fmt rgb24 - | md5sum)" = \
      "$(ffmpeg -v error -i "$work/same/frame%05d.png" -f rawvideo -pix_fmt rgb24 - | md5sum)" ] || fail "mkv frames differ from the PNG frames"
    [ "$(ffmpeg -v error -i "$work/same.mkv" -map 0:a -f s16le - | md5sum)" = "$(tail -c +45 "$work/same/music.wav" | md5sum)" ] ||
        fail "mkv sound differs from music.wav"
    # An encoder that refuses, and (not as root) a folder it cannot write:
    # said why, exit 1, not killed by SIGPIPE, nothing left behind.
    mkdir -p "$work/bin" "$work/refused" "$work/locked" && chmod 555 "$work/locked"
    printf '#!/bin/sh\necho "encoder: frame size not supported" >&2\nexit 1\n' >"$work/bin/ffmpeg"
    chmod +x "$work/bin/ffmpeg"
    cases="refused"
    [ "$(id -u)" = 0 ] || cases="refused locked"
    for c in $cases; do
        if [ $c = refused ]; then
            out=$(PATH="$work/bin:$PATH" "$tool" --width 64 --height 48 --fps 10 --seconds 1 --out "$work/$c/x.mp4" 2>&1)
        else
            out=$("$tool" --width 64 --height 48 --fps 10 --seconds 1 --out "$work/$c/x.mp4" 2>&1)
        fi
        rc=$?
        [ $rc = 1 ] || fail "$c video: exit code $rc"
        grep -q "cannot write $work/$c/x.mp4: ." <<<"$out" || fail "$c video said: $out"
        [ -z "$(ls -A "$work/$c")" ] || fail "$c video left: $(ls -A "$work/$c")"
    done
    chmod 755 "$work/locked"
else
    echo "ffmpeg not installed: video output not checked"
fi

[ $failures = 0 ] && echo "capture command line: all checks passed"
exit $failures
