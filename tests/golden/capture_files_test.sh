#!/bin/bash
# What decides where tumble-capture writes is only what it made itself: a
# record that is a link, a FIFO, a folder or no record is refused; a link
# planted at a frame's name during the run is neither written through nor
# replaced; a folder it cannot list is refused; one capture per folder at a
# time; bad paths, video targets that are no files and a length past the WAV
# format end in a message with exit 1 or 2, never an abort or a hang.
# Usage: capture_files_test.sh TUMBLE_CAPTURE WORKDIR
set -u
tool=$(realpath "$1")
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
small=(--width 64 --height 48 --fps 5 --seconds 1)
expect() {   # expect CODE TEXT ARGS...: exits with CODE within 20 s, saying TEXT
    local code=$1 text=$2
    shift 2
    out=$(timeout 20 "$tool" "$@" 2>&1)
    local rc=$?
    [ $rc = "$code" ] && grep -q -- "$text" <<<"$out" || fail "'$*': exit code $rc (want $code), said: $out"
}
as=()
[ "$(id -u)" = 0 ] && as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${as[@]}" "$tool" --version >/dev/null 2>&1 || as=(skip)

# The record's place taken by what no capture wrote.
echo precious >victim.txt
mkdir -p link borrowed other null fifo folder text
ln -s ../victim.txt link/.tumble-capture
printf 'tumble-capture record 1\nframes 100\nmusic.wav\n' >other/.tumble-capture
ln -s ../other/.tumble-capture borrowed/.tumble-capture
for i in 0 1 2 3 4 5 6 7; do echo mine >"borrowed/frame0000$i.png"; done
ln -s /dev/null null/.tumble-capture
mkfifo fifo/.tumble-capture
mkdir folder/.tumble-capture
echo "my notes" >text/.tumble-capture
expect 1 "link/.tumble-capture is a symbolic link, not the record" "${small[@]}" --out link
expect 1 "borrowed/.tumble-capture is a symbolic link" "${small[@]}" --out borrowed --force
expect 1 "null/.tumble-capture is a symbolic link" "${small[@]}" --out null
expect 1 "fifo/.tumble-capture is a FIFO" "${small[@]}" --out fifo
expect 1 "folder/.tumble-capture is a folder" "${small[@]}" --out folder --force
expect 1 "text/.tumble-capture is not the record a capture leaves" "${small[@]}" --out text --force
[ "$(cat victim.txt)" = precious ] && [ "$(cat borrowed/frame00007.png)" = mine ] &&
    [ "$(cat text/.tumble-capture)" = "my notes" ] && [ "$(grep -c . other/.tumble-capture)" = 3 ] ||
    fail "a refused record changed a file"
left=$(find link null fifo folder text -mindepth 1 ! -name .tumble-capture)
[ -z "$left" ] || fail "a refused run wrote: $left"

# During a capture: a second one into the folder, with or without --force,
# fails at once; a link planted at a frame's name stops the run, untouched.
"$tool" --width 320 --height 240 --fps 50 --seconds 8 --out race >race.log 2>&1 &
pid=$!
for _ in $(seq 1000); do [ -e race/.tumble-capture ] && break; sleep 0.01; done
planted=no
ln -s ../victim.txt race/frame00390.png 2>/dev/null && planted=yes
expect 1 "race is in use: another capture is writing there now" "${small[@]}" --out race
expect 1 "race is in use" "${small[@]}" --out race --force
wait $pid
rc=$?
if [ $planted = yes ]; then
    [ $rc = 1 ] && grep -q "cannot write race/frame00390.png: something else put a file there" race.log ||
        fail "a link planted during the capture: exit code $rc, said: $(cat race.log)"
    [ -L race/frame00390.png ] && [ "$(cat victim.txt)" = precious ] || fail "the planted link was followed or replaced"
else
    echo "the capture reached frame 390 before the link could be planted: not checked"
fi
ls -A race | grep -q '^\.tumble-[a-z0-9]*-[0-9]*-' && fail "the stopped capture left a temporary file"

# A folder the capture may write to but not list: refused, not skipped.
if [ "${as[0]:-}" != skip ]; then
    mkdir -m 777 hidden && echo mine >hidden/frame00000.png && echo mine >hidden/music.wav && chmod 333 hidden
    out=$("${as[@]}" "$tool" "${small[@]}" --out hidden 2>&1) && fail "an unlistable folder: exit code 0"
    grep -q "cannot open the folder hidden: Permission denied" <<<"$out" || fail "an unlistable folder said: $out"
    mkdir -m 700 locked && mkdir locked/in
    out=$("${as[@]}" "$tool" "${small[@]}" --out locked/in/x 2>&1) && fail "a folder under one it may not search: exit code 0"
    grep -q "cannot create the folder locked/in/x: Permission denied" <<<"$out" || fail "under a locked folder: $out"
    chmod 755 hidden
    [ "$(cat hidden/frame00000.png hidden/music.wav)" = "mine
mine" ] || fail "an unlistable folder's files changed"
else
    echo "cannot run the tool as another user here: unlistable folders not checked"
fi

# Paths that cannot be, and video targets that are no files: a message, never an abort.
ln -s loop loop
expect 1 "cannot create the folder loop: Too many levels of symbolic links" "${small[@]}" --out loop
long=$(printf 'x%.0s' $(seq 300))
expect 1 "File name too long" "${small[@]}" --out "$long"
expect 2 "--out needs a folder or file name, not '--'" "${small[@]}" --out --
[ -e -- ] && fail "--out -- made a folder"
expect 2 "would pass the WAV format's 4 GiB limit; the longest allowed is 24347.00" \
    --width 2 --height 2 --fps 1 --seconds 24400 --out long
mkdir -p bin v && printf '#!/bin/sh\ncat >/dev/null\nexit 0\n' >bin/ffmpeg && chmod +x bin/ffmpeg
ln -s /dev/null v/null.mp4 && mkfifo v/fifo.mkv
PATH="$PWD/bin:$PATH" expect 1 "cannot write v/null.mp4: it is a device" "${small[@]}" --out v/null.mp4
PATH="$PWD/bin:$PATH" expect 1 "cannot write v/fifo.mkv: it is a FIFO" "${small[@]}" --out v/fifo.mkv
PATH="$PWD/bin:$PATH" expect 1 "cannot write v/empty.mp4: ffmpeg ended without an error but wrote nothing" "${small[@]}" --out v/empty.mp4
[ "$(ls -A v | tr '\n' ' ')" = "fifo.mkv null.mp4 " ] || fail "video refusals left: $(ls -A v)"

[ $failures = 0 ] && echo "capture and what it did not make: all checks passed"
exit $failures
