#!/bin/sh
# Started with no display, the production fails: exit code 1 and one line naming the cause.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$1" 2>&1)
rc=$?
[ $rc -eq 1 ] || { echo "FAIL: exit code $rc, expected 1 ($out)"; exit 1; }
[ "$out" = "tumble: no display: set DISPLAY or WAYLAND_DISPLAY" ] || { echo "FAIL: said: $out"; exit 1; }
echo "exit 1: $out"
