#!/bin/bash
# Builds the libFuzzer harnesses (clang 14, ASan + UBSan) into build-fuzz/ and
# runs each for a given time on a working copy of its corpus.
#
#   scripts/fuzz.sh [SECONDS] [NAME...]     NAME: xm tga md2 texprog (default all)
#
# Seeds come from tests/fuzz/corpus/<name>/, tests/fuzz/regressions/<name>/
# and the content in data/. The growing corpus is kept in
# build-fuzz/corpus/<name>/, crash inputs in build-fuzz/artifacts/<name>/ and
# the full log in build-fuzz/logs/<name>.log (FUZZ_BUILD=dir for another
# folder). Exits non-zero on any finding.
set -u
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
NAMES=${*:-"xm tga md2 texprog"}
JOBS=${JOBS:-2}
BUILD=${FUZZ_BUILD:-build-fuzz}

cmake -S . -B $BUILD -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DTUMBLE_FUZZ=ON >/dev/null || exit 1
targets=""
for n in $NAMES; do targets="$targets fuzz_$n"; done
cmake --build $BUILD -j "$JOBS" --target $targets || exit 1

# Per-harness seeds from the content and limits on input size.
seed_files() {
    case $1 in
        xm) ls data/*.xm tests/realworld/*.xm 2>/dev/null ;;
        tga) ls data/*.tga 2>/dev/null ;;
        md2) ls data/*.md2 2>/dev/null ;;
        texprog) ls data/programs/*.atg 2>/dev/null ;;
    esac
}
max_len() {
    case $1 in
        xm) echo 65536 ;;
        texprog) echo 17600 ;;
        *) echo 16384 ;;
    esac
}

status=0
mkdir -p $BUILD/logs
for n in $NAMES; do
    corpus=$BUILD/corpus/$n
    artifacts=$BUILD/artifacts/$n
    mkdir -p "$corpus" "$artifacts"
    for f in tests/fuzz/corpus/$n/* tests/fuzz/regressions/$n/* $(seed_files $n); do
        [ -f "$f" ] && cp -n "$f" "$corpus/" 2>/dev/null
    done
    dict=""
    [ -f tests/fuzz/$n.dict ] && dict="-dict=tests/fuzz/$n.dict"
    log=$BUILD/logs/$n.log
    echo "== fuzz_$n for ${SECONDS_EACH}s"
    # Large allocations are part of the formats (a 65535 x 16383 RLE image is
    # a few bytes); the loaders must refuse or survive them, so allow them
    # instead of calling them out-of-memory findings.
    ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        $BUILD/tests/fuzz/fuzz_$n "$corpus" $dict \
        -max_total_time="$SECONDS_EACH" -max_len="$(max_len $n)" -timeout=20 \
        -rss_limit_mb=2560 -malloc_limit_mb=4200 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" >"$log" 2>&1
    rc=$?
    execs=$(grep -a -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -a -o '[0-9]*$')
    cov=$(grep -a -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
    size=$(ls "$corpus" | wc -l)
    echo "   exit $rc, ${execs:-?} executions, ${cov:-no coverage line}, corpus $size files"
    if [ $rc -ne 0 ]; then
        status=1
        grep -a -m1 -E 'ERROR|runtime error|deadly signal|Timeout|out-of-memory|texprog:|md2:|tga:|xm:' "$log"
        ls "$artifacts"
    fi
done
exit $status
