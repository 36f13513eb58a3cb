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
echo "== summary"
printf '%s' "$summary"
exit $status
