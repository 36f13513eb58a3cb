#!/bin/sh
# Runs every benchmark program that the build produced. Each ends with its
# target and "met" or "missed"; a summary repeats those lines at the end.
# Exits 1 when a benchmark fails to run (a missed target is a result, not a failure).
cd "$(dirname "$0")/.." || exit 1
log=$(mktemp)
rc=$(mktemp)
trap 'rm -f "$log" "$rc"' EXIT
summary=""
status=0
for b in build/tests/*/*_bench build/*_bench; do
    [ -x "$b" ] || continue
    name=$(basename "$b")
    echo "== $name"
    { "$b"; echo $? >"$rc"; } | tee "$log"
    if [ "$(cat "$rc")" != 0 ]; then
        verdict="failed (exit code $(cat "$rc"))"
        status=1
    else
        verdict=$(grep -E '(met|missed)$' "$log" | tail -n 1)
        [ -n "$verdict" ] || verdict="no target reported"
    fi
    summary="$summary$name: $verdict
"
done
# The Windows build's own benchmark, under Wine (scripts/bench-windows.sh).
if [ -f build-win32/tumble-bench.exe ]; then
    echo "== tumble-bench.exe (Windows build, under Wine)"
    { ./scripts/bench-windows.sh; echo $? >"$rc"; } | tee "$log"
    if [ "$(cat "$rc")" != 0 ]; then
        verdict="failed (exit code $(cat "$rc"))"
        status=1
    else
        verdict=$(grep '^both:' "$log")
    fi
    summary="${summary}tumble-bench.exe: $verdict
"
fi
# The WAV renderer as a whole beside other players (the mixer alone is
# music_bench), with the mixer path this processor picks and, where that is
# the AVX2 one, again with the path of processors without AVX2.
peers() {
    echo "== $1"
    { env ${2:+TUMBLE_MIXER=$2} bash tests/music/bench_peers.sh build/tumble-xm2wav data/tune.xm; echo $? >"$rc"; } |
        tee "$log"
    verdict=$(grep -E '(met|missed|installed\))$' "$log" | tail -n 1)
    [ "$(cat "$rc")" = 0 ] || status=1
    summary="${summary}$1: ${verdict:-failed}
"
}
if [ -x build/tumble-xm2wav ]; then
    peers "xm2wav against peers"
    if grep -qw avx2 /proc/cpuinfo 2>/dev/null; then
        peers "xm2wav without AVX2 against peers" sse2
    fi
fi
echo "== summary"
printf '%s' "$summary"
exit $status
