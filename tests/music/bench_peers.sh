#!/bin/bash
# The whole WAV render, as a user runs it, beside the general-purpose players
# that install-deps brings as test-only peers: 600 s of data/tune.xm (looping)
# to a 44.1 kHz 16-bit stereo WAV with linear interpolation, through
# tumble-xm2wav and each peer installed, the commands in turn, RUNS rounds.
# Prints the median CPU time (user + system) of each, the ratio to the fastest
# peer and the target (3x) with "met" or "missed". TUMBLE_MIXER in the
# environment picks tumble-xm2wav's mixer path, as it does for the tool.
# Usage: bench_peers.sh XM2WAV MODULE [RUNS]
set -u
tool=$1 module=$2 runs=${3:-7}
seconds=600
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$module" "$dir/song.xm"
expected=$((44 + seconds * 44100 * 4))

names=("tumble-xm2wav${TUMBLE_MIXER:+ ($TUMBLE_MIXER)}")
commands=("$(printf '%q ' "$tool" "$dir/song.xm" "$dir/tumble.wav" --seconds "$seconds")")
outputs=("$dir/tumble.wav")
if command -v xmp >/dev/null; then
    names+=("xmp $(xmp --version 2>/dev/null | head -n 1 | awk '{print $NF}')")
    commands+=("xmp -q --norc --nocmd -l -t $seconds -i linear -f 44100 -b 16 -o $dir/xmp.wav $dir/song.xm")
    outputs+=("$dir/xmp.wav")
fi
if command -v openmpt123 >/dev/null; then
    names+=("openmpt123 $(openmpt123 --short-version 2>/dev/null | awk '{print $1}')")
    # It renders next to its input, to song.xm.wav.
    commands+=("openmpt123 -q --render --force --output-type wav --repeat -1 --end-time $seconds --samplerate 44100 --filter 2 --no-float --dither 0 $dir/song.xm")
    outputs+=("$dir/song.xm.wav")
fi

# CPU seconds (user + system) of one command, or "failed".
cpu() {
    local TIMEFORMAT='%3U %3S' t
    t=$({ time eval "$1" </dev/null >/dev/null 2>&1; } 2>&1) || { echo failed; return; }
    awk '{printf "%.3f", $1 + $2}' <<<"$t"
}

declare -A times
for ((r = 0; r < runs; r++)); do
    for i in "${!names[@]}"; do
        rm -f "${outputs[$i]}"
        t=$(cpu "${commands[$i]}")
        # A render that stopped early (or wrote nothing) is not a time.
        bytes=$(stat -c %s "${outputs[$i]}" 2>/dev/null || echo 0)
        [ "$bytes" -ge $((expected * 99 / 100)) ] || t=failed
        times[$i]="${times[$i]:-} $t"
    done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "$seconds s of $(basename "$module") to a 44.1 kHz 16-bit stereo WAV, linear interpolation:" \
     "median CPU time (user + system) of $runs rounds"
fastest="" fastestName=""
for i in "${!names[@]}"; do
    if grep -q failed <<<"${times[$i]}"; then
        printf '  %-24s failed\n' "${names[$i]}"
        [ "$i" = 0 ] && { echo "target: 3x the fastest peer ... missed (tumble-xm2wav failed)"; exit 1; }
        continue
    fi
    m=$(median <<<"${times[$i]}")
    printf '  %-24s %6.3f s  %5.0fx realtime\n' "${names[$i]}" "$m" "$(awk -v m="$m" -v s="$seconds" 'BEGIN {print s / m}')"
    if [ "$i" = 0 ]; then
        own=$m
    elif [ -z "$fastest" ] || awk -v a="$m" -v b="$fastest" 'BEGIN {exit !(a < b)}'; then
        fastest=$m fastestName=${names[$i]}
    fi
done
if [ -z "$fastest" ]; then
    echo "target: 3x the fastest peer ... not measured (neither xmp nor openmpt123 is installed)"
    exit 0
fi
ratio=$(awk -v a="$fastest" -v b="$own" 'BEGIN {printf "%.2f", a / b}')
echo "  ratio to the fastest peer ($fastestName): ${ratio}x"
verdict=$(awk -v r="$ratio" 'BEGIN {print (r >= 3) ? "met" : "missed"}')
echo "target: 3x the fastest peer's speed ... $verdict"
