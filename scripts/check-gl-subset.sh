#!/bin/sh
# Fails the browser build when the show calls a gl* or glu* function that the
# browser's GL subset (platform/web/gl) does not define: emscripten's own
# WebGL binding would answer that call, past the subset's batching and
# texture names. A name the show looks up at run time (platGlProcAddress) is
# a string in its objects: the subset must define it too, and hand it out.
# Usage: check-gl-subset.sh NM ARCHIVE_OR_OBJECT...  (everything the program links)
set -e
nm=$1
shift
defined=$(mktemp)
wanted=$(mktemp)
trap 'rm -f "$defined" "$wanted"' EXIT
for f in "$@"; do
    "$nm" --defined-only --no-sort "$f" 2>/dev/null | awk '{print $NF}'
done | grep -E '^glu?[A-Z]' | sort -u >"$defined"
{
    for f in "$@"; do
        "$nm" --undefined-only --no-sort "$f" 2>/dev/null | awk '{print $NF}'
    done | grep -E '^glu?[A-Z]' || true
    # Whole printable runs only: a longer name that merely contains one is not a lookup.
    for f in "$@"; do
        LC_ALL=C tr -c '[:print:]' '\n' <"$f"
    done | grep -E '^glu?[A-Z][A-Za-z0-9]*$' || true
} | sort -u >"$wanted"
missing=$(comm -23 "$wanted" "$defined")
if [ -n "$missing" ]; then
    echo "GL calls or looked-up names outside the browser's GL subset (platform/web/gl):" >&2
    echo "$missing" | sed 's/^/  /' >&2
    exit 1
fi
