#!/bin/bash
# Renders one module through tumble-xm2wav and judges the outcome:
# a WAV of the expected length (and, when SHA256 is given, exactly those
# bytes), or a refusal with one clear line and a non-zero exit. A crash, a
# signal or any sanitizer report fails.
# Usage: run.sh XM2WAV MODULE SECONDS [SHA256]
set -u
tool=$1 module=$2 seconds=$3 sha=${4:-}
out=$(mktemp --suffix=.wav)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
"$tool" "$module" "$out" --seconds "$seconds" 2>"$err" >/dev/null
rc=$?
if grep -qE 'Sanitizer|runtime error:|SUMMARY:' "$err"; then
    cat "$err"; echo "FAIL: sanitizer report"; exit 1
fi
if [ $rc -ge 128 ]; then
    cat "$err"; echo "FAIL: killed by signal $((rc - 128))"; exit 1
fi
if [ $rc -eq 0 ]; then
    bytes=$(stat -c %s "$out")
    want=$((44 + seconds * 44100 * 4))
    if [ "$bytes" -ne "$want" ]; then
        echo "FAIL: WAV of $bytes bytes, expected $want"; exit 1
    fi
    if [ -n "$sha" ]; then
        got=$(sha256sum <"$out" | cut -d' ' -f1)
        if [ "$got" != "$sha" ]; then
            echo "FAIL: WAV has SHA-256 $got, expected $sha"; exit 1
        fi
    fi
    echo "rendered $(basename "$module"): $bytes bytes"
    exit 0
fi
lines=$(wc -l <"$err")
if [ "$lines" -ne 1 ] || [ ! -s "$err" ]; then
    cat "$err"; echo "FAIL: refused (exit $rc) without exactly one message line"; exit 1
fi
echo "refused $(basename "$module"): $(cat "$err")"
exit 0
