#!/bin/bash
# Runs a command on its own Xvfb display and cleans up only what it started.
# Usage: xvfb-run.sh CMD [ARGS...]
set -u
fifo=$(mktemp -u /tmp/xvfb-fd.XXXXXX)
mkfifo "$fifo"
# Xvfb picks a free display itself and writes its number to the fd.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xpid=$!
trap 'kill $xpid 2>/dev/null; wait $xpid 2>/dev/null; rm -f "$fifo"' EXIT INT TERM
read -r -t 20 n <"$fifo" || { echo "xvfb-run: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$n" LIBGL_ALWAYS_SOFTWARE=1 "$@"
