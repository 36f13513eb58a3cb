#!/bin/sh
# Serves build-web/ on 127.0.0.1 (port $1, default 8000) until interrupted.
set -e
cd "$(dirname "$0")/.."
PORT=${1:-8000}
echo "tumble in the browser: http://127.0.0.1:$PORT/"
exec python3 -m http.server --bind 127.0.0.1 --directory "${WEB_BUILD:-build-web}" "$PORT"
