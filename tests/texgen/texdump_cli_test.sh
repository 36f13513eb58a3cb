#!/bin/bash
# tumble-texdump from the command line: the stored list, one program file,
# and the errors a user can run into.
set -u
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$tool" "$dir/out" || fail "stored list exit code $?"
for i in 0 1 2 3 4 5 6 7 8; do
    f="$dir/out/tex$i.png"
    [ -f "$f" ] || fail "missing tex$i.png"
    # PNG signature, then IHDR: 256 x 256, 8 bits, colour type 2 (RGB).
    head -c 8 "$f" | od -An -tx1 | tr -d ' \n' | grep -q '^89504e470d0a1a0a$' || fail "tex$i.png is not a PNG"
    ihdr=$(od -An -tx1 -j16 -N10 "$f" | tr -d ' \n')
    [ "$ihdr" = "00000100000001000802" ] || fail "tex$i.png header $ihdr"
done
for i in 4 5 6 7; do cmp -s "$dir/out/tex0.png" "$dir/out/tex$i.png" || fail "tex$i.png differs from tex0.png"; done
cmp -s "$dir/out/tex0.png" "$dir/out/tex1.png" && fail "tex1.png equals tex0.png"

# One program: a grey cone, a two-colour bitmap on L1, Lighten.
prog="$dir/prog.atg"
{
    printf 'ATG\003'
    printf '\004\000\000\000\000\000\000\000\000'
    printf '\050\001\377\000\000\000\000\377\000'
    head -c 8192 /dev/zero | tr '\0' 'U'
    printf '\033\000\001\000\000\000\000\000\000'
} > "$prog"
"$tool" --program "$prog" "$dir/prog.png" || fail "program exit code $?"
[ -s "$dir/prog.png" ] || fail "no prog.png"

# A truncated program runs its whole instructions and says so.
head -c 5000 "$prog" > "$dir/short.atg"
msg=$("$tool" --program "$dir/short.atg" "$dir/short.png" 2>&1) || fail "truncated program exit code $?"
echo "$msg" | grep -q truncated || fail "no truncation note: $msg"
[ -s "$dir/short.png" ] || fail "no short.png"

# A count byte of 0 or 128..255 runs nothing: said, and the image still written.
for count in 000 310; do
    printf "ATG\\$count" > "$dir/none.atg"
    msg=$("$tool" --program="$dir/none.atg" "$dir/none.png" 2>&1) || fail "count $count exit code $?"
    echo "$msg" | grep -q "runs no instructions" || fail "count $count: no note: $msg"
    [ -s "$dir/none.png" ] || fail "count $count: no none.png"
done
printf 'ATG' > "$dir/atg.atg"
msg=$("$tool" --program "$dir/atg.atg" "$dir/atg.png" 2>&1) && fail "header-only file accepted"
echo "$msg" | grep -q "truncated" || fail "header-only file: $msg"

# Errors: not a program, missing file, unwritable output, bad usage.
printf 'XYZ\001' > "$dir/bad.atg"
"$tool" --program "$dir/bad.atg" "$dir/bad.png" 2>/dev/null && fail "bad magic accepted"
[ -e "$dir/bad.png" ] && fail "bad magic wrote a file"
"$tool" --program "$dir/missing.atg" "$dir/x.png" 2>/dev/null && fail "missing file accepted"
"$tool" --program "$prog" "$dir/no/such/dir/x.png" 2>/dev/null && fail "unwritable output accepted"
msg=$("$tool" --program "$dir/missing.atg" "$dir/x.png" 2>&1)
echo "$msg" | grep -q "No such file or directory" || fail "missing file without the reason: $msg"
"$tool" 2>/dev/null; [ $? -eq 2 ] || fail "no arguments: want exit code 2"
msg=$("$tool" --colour red "$dir/x" 2>&1); [ $? -eq 2 ] || fail "unknown option: want exit code 2"
echo "$msg" | grep -q -- "--colour" || fail "unknown option not named: $msg"
"$tool" --help | grep -q -- "--program" || fail "--help: no usage on stdout"
"$tool" --version | grep -q "^tumble-texdump [0-9]" || fail "--version"
"$tool" --program "$prog" 2>/dev/null; [ $? -eq 2 ] || fail "missing OUT.png: want exit code 2"
echo "texdump CLI: ok"
