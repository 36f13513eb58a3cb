#!/bin/sh
# The Windows build's benchmark under Wine: tumble-bench.exe generates the
# loading sequence's textures and renders 60 s of the tune with the release
# executable's code and compiler options, best of RUNS runs. Its Wine prefix
# is made once per build folder and Wine version.
#   bench-windows.sh [BUILD_DIR [RUNS]]
set -u
cd "$(dirname "$0")/.." || exit 1
build=${1:-build-win32}
runs=${2:-101}
exe="$PWD/$build/tumble-bench.exe"
[ -f "$exe" ] || { echo "bench-windows: no $exe (make windows builds it)" >&2; exit 1; }
. scripts/i386.sh
i386_runs || { echo "bench-windows: Wine cannot start 32-bit programs here (scripts/install-deps.sh sets that up)" >&2; exit 1; }
i386_emulated && echo "(32-bit programs run through qemu here: the times are the emulator's)"
export WINEPREFIX="$PWD/$build/wine-bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
version=$(wine --version 2>&1)
if [ "$(cat "$WINEPREFIX.stamp" 2>/dev/null)" != "$version" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX" "$WINEPREFIX.stamp"
    wineboot -i >/dev/null 2>&1 && wineserver -w 2>/dev/null && [ -f "$WINEPREFIX/system.reg" ] ||
        { echo "bench-windows: cannot make the Wine prefix $WINEPREFIX" >&2; exit 1; }
    echo "$version" >"$WINEPREFIX.stamp"
fi
out=$(cd "$build" && wine "$exe" "$runs" 2>&1) || { printf '%s\n' "$out" >&2; echo "bench-windows: tumble-bench.exe failed" >&2; exit 1; }
printf '%s\n' "$out" | tr -d '\r'
