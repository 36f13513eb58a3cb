#!/bin/bash
# What the tools promise about the user's files: a full disk leaves the old
# file and nothing else, a replaced file keeps its permissions and ACL, a
# symbolic link is written through, a read-only file is refused, ignored
# signals stay ignored, temporary files of runs that no longer run are
# cleared, inputs are bounded, and xm2wav says what it could not play.
# Usage: files_test.sh TUMBLE_XM2WAV TUMBLE_TEXDUMP MODULE LOUD_MODULE
set -u
xm2wav=$1 texdump=$2 module=$3 loud=$4
dir=$(mktemp -d)
mnt="$dir/small"
cleanup() { mountpoint -q "$mnt" && umount "$mnt"; rm -rf "$dir"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
leftovers() { ls -A "$1" | grep -q '^\.tumble-[a-z0-9]*-[0-9]*-' && fail "$2: temporary file left: $(ls -A "$1")"; }

# A full disk: the old file stays whole, the reason is the real one.
mkdir -p "$mnt"
if mount -t tmpfs -o size=64k tmpfs "$mnt" 2>/dev/null; then
    mkdir "$mnt/out" && echo keep >"$mnt/out/tex0.png" && echo keep >"$mnt/keep.wav"
    head -c 40k /dev/urandom >"$mnt/filler"
    msg=$("$texdump" "$mnt/out" 2>&1) && fail "texdump on a full disk: exit code 0"
    grep -q "No space left on device" <<<"$msg" && ! grep -q libpng <<<"$msg" || fail "texdump on a full disk said: $msg"
    [ "$(cat "$mnt/out/tex0.png")" = keep ] || fail "texdump on a full disk changed tex0.png"
    [ -z "$(find "$mnt/out" -empty)" ] || fail "texdump on a full disk left an empty file"
    msg=$("$xm2wav" "$module" "$mnt/keep.wav" --seconds 5 2>&1) && fail "xm2wav on a full disk: exit code 0"
    grep -q "No space left on device" <<<"$msg" || fail "xm2wav on a full disk said: $msg"
    [ "$(cat "$mnt/keep.wav")" = keep ] || fail "xm2wav on a full disk changed OUT"
    leftovers "$mnt" "full disk"
    leftovers "$mnt/out" "full disk"
else
    echo "skipped the full-disk checks: this machine does not allow mounting a tmpfs"
fi

# Replaced files keep their permission bits; links are written through.
echo old >"$dir/private.wav" && chmod 640 "$dir/private.wav"
"$xm2wav" "$module" "$dir/private.wav" --seconds 0.1 || fail "render over a 0640 file: exit code $?"
[ "$(stat -c %a "$dir/private.wav")" = 640 ] || fail "a 0640 OUT became $(stat -c %a "$dir/private.wav")"
ln -s private.wav "$dir/link.wav" && ln -s tex.png "$dir/link.png"
"$xm2wav" "$module" "$dir/link.wav" --seconds 0.2 || fail "render through a link: exit code $?"
printf 'ATG\000' >"$dir/none.atg"
"$texdump" --program "$dir/none.atg" "$dir/link.png" 2>/dev/null || fail "texdump through a dangling link: exit code $?"
[ -L "$dir/link.wav" ] && [ -L "$dir/link.png" ] || fail "a link OUT was replaced by a file"
[ "$(stat -c %s "$dir/private.wav")" = $((44 + 8820 * 4)) ] && [ -s "$dir/tex.png" ] || fail "the link targets were not written"
bytes=$("$xm2wav" "$module" /dev/stdout --seconds 0.2 | wc -c)
[ "$bytes" = $((44 + 8820 * 4)) ] || fail "a render to /dev/stdout through a pipe gave $bytes bytes"

# An ACL stays on the replaced file; one the folder would give a new file is not added.
if command -v setfacl >/dev/null && setfacl -m u:nobody:r "$dir/private.wav" 2>/dev/null; then
    mkdir "$dir/acl" && setfacl -d -m u:nobody:rwx "$dir/acl" && echo old >"$dir/acl/plain.wav" &&
        chmod 640 "$dir/acl/plain.wav" && setfacl -b "$dir/acl/plain.wav"
    "$xm2wav" "$module" "$dir/private.wav" --seconds 0.1 && "$xm2wav" "$module" "$dir/acl/plain.wav" --seconds 0.1 ||
        fail "render over files with and without an ACL: exit code $?"
    [ "$(stat -c %A "$dir/private.wav")" = "-rw-r-----" ] && getfacl -cp "$dir/private.wav" 2>/dev/null | grep -q '^user:nobody:r--$' ||
        fail "the replaced file's ACL: $(stat -c %A "$dir/private.wav") $(getfacl -cp "$dir/private.wav" 2>&1 | tr '\n' ' ')"
    [ -z "$(getfacl -cps "$dir/acl/plain.wav")" ] || fail "a replaced file without an ACL got one"
else
    echo "skipped the ACL checks: no setfacl, or ACLs not supported here"
fi

# Temporary files of a run that was killed go at the next run in the folder;
# those of a run still going stay.
sh -c 'exit 0' & dead=$!; wait $dead
touch "$dir/.tumble-xm2wav-$dead-AbCd12" "$dir/.tumble-capture-$$-AbCd12"
"$texdump" --program "$dir/none.atg" "$dir/again.png" 2>/dev/null || fail "texdump: exit code $?"
[ ! -e "$dir/.tumble-xm2wav-$dead-AbCd12" ] && [ -e "$dir/.tumble-capture-$$-AbCd12" ] ||
    fail "temporary files after another run: $(ls -A "$dir" | grep '^\.tumble' | tr '\n' ' ')"
rm -f "$dir/.tumble-capture-$$-AbCd12"
msg=$("$texdump" "$dir/private.wav" 2>&1); rc=$?
[ $rc = 1 ] && grep -q "private.wav is a file, not a folder" <<<"$msg" || fail "texdump onto a file: exit code $rc, said: $msg"

# A file without write permission is refused with the reason, as cp does.
as=()
[ "$(id -u)" = 0 ] && as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
mkdir "$dir/ro" && echo old >"$dir/ro/x.wav" && chmod 444 "$dir/ro/x.wav" && chmod 777 "$dir/ro" "$dir"
if "${as[@]}" "$xm2wav" --version >/dev/null 2>&1; then
    msg=$("${as[@]}" "$xm2wav" "$module" "$dir/ro/x.wav" --seconds 0.1 2>&1) && fail "read-only OUT replaced"
    grep -q "cannot write $dir/ro/x.wav: Permission denied" <<<"$msg" || fail "read-only OUT said: $msg"
    [ "$(cat "$dir/ro/x.wav")" = old ] || fail "read-only OUT changed"
else
    echo "skipped the read-only check: cannot run the tool as an unprivileged user here"
fi

# Signals inherited as ignored stay ignored (nohup, trap '' INT).
(trap '' HUP INT; exec "$xm2wav" "$module" "$dir/long.wav" --seconds 3000) 2>/dev/null &
pid=$!
sleep 0.5
kill -HUP $pid; kill -INT $pid; sleep 0.3
kill -0 $pid 2>/dev/null || fail "an ignored SIGHUP or SIGINT ended the render"
kill -TERM $pid; wait $pid
leftovers "$dir" "render ended by SIGTERM"

# Bounded input: an endless texture program is refused, naming the bound.
msg=$("$texdump" --program /dev/zero "$dir/z.png" 2>&1); rc=$?
[ $rc = 1 ] && grep -q "1041531 bytes" <<<"$msg" || fail "endless program: exit code $rc, said: $msg"
[ -e "$dir/z.png" ] && fail "endless program wrote a file"

# What the player ignores and how much clips are said; too short is a usage error.
msg=$("$xm2wav" "$loud" "$dir/loud.wav" --seconds 20 2>&1) || fail "loud module: exit code $?"
grep -q "uses what this player ignores: the volume column; effects " <<<"$msg" || fail "loud module: no note of what is ignored: $msg"
grep -q "% of the samples in $dir/loud.wav are clipped" <<<"$msg" || fail "loud module: no note of clipping: $msg"
msg=$("$xm2wav" "$module" "$dir/short.wav" --seconds 1e-9 2>&1); rc=$?
[ $rc = 2 ] && grep -q "shorter than one sample" <<<"$msg" || fail "--seconds 1e-9: exit code $rc, said: $msg"

[ $failures = 0 ] && echo "the tools and the user's files: all checks passed"
exit $failures
