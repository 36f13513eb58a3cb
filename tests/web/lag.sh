#!/bin/bash
# Measures, as a viewer would perceive it, how far the browser build's picture
# is from its sound: headless Chromium plays the page in real time into a
# PulseAudio null sink that is recorded, while the page notes when it draws
# the main phase's first frame. The recording is cross-correlated with the
# offline render of the tune around order 1 (song sample ORDER1, where the main
# phase must begin). A positive lag: the picture comes after the sound.
# Not a ctest test: it needs real time and sound. Usage:
#   tests/web/lag.sh SOURCE_DIR TUMBLE_XM2WAV OUTDIR [RUNS]
# WEB_DIR=FOLDER serves another build of the page than SOURCE_DIR/build-web.
set -u
src=$1 xm2wav=$2 out=$3 runs=${4:-3}
ORDER1=$((64 * 6 * 882))   # order 0: 64 rows of 6 ticks of 882 samples (125 BPM)
rm -rf "$out" && mkdir -p "$out/tmp" "$out/pulse"
"$xm2wav" "$src/data/tune.xm" "$out/tune.wav" --seconds 20 >/dev/null || exit 1

export PULSE_RUNTIME_PATH=$out/pulse PULSE_STATE_PATH=$out/pulse HOME=$out
sock=$out/pulse/native
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
    -L "module-null-sink sink_name=tumble rate=44100 channels=2" \
    -L "module-native-protocol-unix socket=$sock auth-anonymous=1" >"$out/pulse.log" 2>&1 &
pulse=$!
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "${WEB_DIR:-$src/build-web}" "$port" >/dev/null 2>&1 &
server=$!
trap 'kill $server $pulse 2>/dev/null; wait $server $pulse 2>/dev/null' EXIT INT TERM
for _ in $(seq 50); do
    [ -S "$sock" ] && python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/index.html')" 2>/dev/null && break
    sleep 0.1
done
export PULSE_SERVER=unix:$sock
pactl set-default-sink tumble

for run in $(seq "$runs"); do
    rm -f "$out/fifo" && mkfifo "$out/fifo"
    node "$src/tests/web/lag.js" stamp "$out/rec$run.raw" "$out/rec$run.json" <"$out/fifo" &
    stamper=$!
    parec -d tumble.monitor --format=s16le --rate=44100 --channels=2 --raw --latency-msec=5 >"$out/fifo" &
    recorder=$!
    sleep 0.5
    TMPDIR=$out/tmp node "$src/tests/web/drive.js" chromium "http://127.0.0.1:$port/index.html?record=1" "$out" lag 120 \
        >"$out/drive$run.log" || { cat "$out/drive$run.log"; exit 1; }
    cp "$out/lag.json" "$out/lag$run.json"
    kill $recorder
    wait $recorder $stamper
    node "$src/tests/web/lag.js" measure "$out/tune.wav" "$out/rec$run.raw" "$out/rec$run.json" "$out/lag$run.json" "$ORDER1"
done
