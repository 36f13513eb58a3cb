#!/bin/bash
# tumble-xm2wav from the command line: a render, and the ways it must refuse
# or stop without touching anything it was not asked to write.
# Usage: xm2wav_cli_test.sh TUMBLE_XM2WAV MODULE
set -u
tool=$1
module=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
leftovers() { ls -A "$dir" | grep -q '^\.tumble-[a-z0-9]*-[0-9]*-' && fail "$1: temporary file left: $(ls -A "$dir")"; }

"$tool" --help | grep -q -- "--seconds" || fail "--help: no usage on stdout"
"$tool" --version | grep -q "^tumble-xm2wav [0-9]" || fail "--version"
msg=$("$tool" "$module" "$dir/x.wav" --colour 2>&1); [ $? = 2 ] || fail "unknown option: want exit code 2"
grep -q -- "--colour" <<<"$msg" || fail "unknown option not named: $msg"
msg=$("$tool" "$dir/none.xm" "$dir/x.wav" 2>&1); [ $? = 1 ] || fail "missing input: want exit code 1"
grep -q "cannot open $dir/none.xm: No such file or directory" <<<"$msg" || fail "missing input said: $msg"

# A render, --opt=value: 2 s of 44,100 Hz stereo 16-bit after the 44-byte header.
"$tool" "$module" "$dir/song.wav" --seconds=2 2>"$dir/err" || fail "render exit code $?"
[ "$(stat -c %s "$dir/song.wav" 2>/dev/null)" = $((44 + 2 * 44100 * 4)) ] || fail "render size"
[ -s "$dir/err" ] && fail "progress or noise on a non-terminal stderr: $(cat "$dir/err")"

# OUT that is IN, through a symbolic or a hard link: refused, IN intact.
cp "$module" "$dir/in.xm"
ln -s in.xm "$dir/soft.wav"
ln "$dir/in.xm" "$dir/hard.wav"
for out in soft.wav hard.wav; do
    msg=$("$tool" "$dir/in.xm" "$dir/$out" 2>&1) && fail "$out: OUT that is IN accepted"
    grep -q "is the input file" <<<"$msg" || fail "$out said: $msg"
    cmp -s "$module" "$dir/in.xm" || fail "$out: the input was changed"
done

# Past the WAV format's 4 GiB: refused up front, naming the longest allowed.
msg=$("$tool" "$module" "$dir/long.wav" --seconds 30000 2>&1); [ $? = 2 ] || fail "30000 s: want exit code 2"
grep -q "24347.88" <<<"$msg" || fail "30000 s said: $msg"
[ -e "$dir/long.wav" ] && fail "30000 s wrote a file"

# Larger than any module: refused before it is read.
truncate -s 300M "$dir/big.xm"
msg=$("$tool" "$dir/big.xm" "$dir/big.wav" 2>&1) && fail "300 MB input accepted"
grep -q "256 MiB" <<<"$msg" || fail "300 MB input said: $msg"

# The signature is checked before the rest is read: an endless stream is refused.
msg=$(head -c 100 /dev/zero | cat - /dev/zero | timeout 20 "$tool" /dev/stdin "$dir/z.wav" 2>&1)
grep -q "signature" <<<"$msg" || fail "endless stream without a signature said: $msg"

# A truncated module renders what loads and says what was cut.
head -c 300 "$module" >"$dir/cut.xm"
msg=$("$tool" "$dir/cut.xm" "$dir/cut.wav" --seconds 1 2>&1) || fail "truncated module exit code $?"
grep -q "cut.xm is truncated: the file ends inside" <<<"$msg" || fail "truncated module said: $msg"
[ -s "$dir/cut.wav" ] || fail "truncated module: no WAV"

# A render stopped by SIGTERM: OUT as it was, no temporary file.
echo keep >"$dir/keep.wav"
"$tool" "$module" "$dir/keep.wav" --seconds 20000 2>/dev/null &
pid=$!
sleep 0.5
kill -TERM $pid
wait $pid
[ "$(cat "$dir/keep.wav")" = keep ] || fail "killed render changed OUT"
leftovers "killed render"
# Nor after a failed one (a file size limit: the write fails with EFBIG).
msg=$(trap '' XFSZ; ulimit -f 100; "$tool" "$module" "$dir/keep.wav" --seconds 1 2>&1) && fail "render past the size limit accepted"
grep -q "cannot write $dir/keep.wav: File too large" <<<"$msg" || fail "failed render said: $msg"
[ "$(cat "$dir/keep.wav")" = keep ] || fail "failed render changed OUT"
leftovers "failed render"
# A pipe is written as it is, never replaced.
mkfifo "$dir/pipe.wav"
cat "$dir/pipe.wav" >"$dir/piped" &
"$tool" "$module" "$dir/pipe.wav" --seconds 1 || fail "render into a pipe exit code $?"
wait
[ -p "$dir/pipe.wav" ] && [ "$(stat -c %s "$dir/piped")" = $((44 + 44100 * 4)) ] || fail "render into a pipe"

[ $failures = 0 ] && echo "xm2wav command line: all checks passed"
exit $failures
