#!/bin/sh
# Runs every benchmark program that the build produced.
set -e
cd "$(dirname "$0")/.."
for b in build/tests/*/*_bench build/*_bench; do
    [ -x "$b" ] || continue
    echo "== $b"
    "$b"
done
