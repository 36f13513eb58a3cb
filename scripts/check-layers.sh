#!/bin/sh
# Layering check: lists every #include that reaches a higher layer, and every
# headless tool that links a window, GL or sound library. Exits 1 on any.
#   data  <  platform  <  assets, music, texgen  <  text, scenes  <  shell  <  tools
# Usage: check-layers.sh [BUILD_DIR]
cd "$(dirname "$0")/.." || exit 2
status=0
layer() {
    case $1 in
    data) echo 0 ;;
    platform) echo 1 ;;
    assets | music | texgen) echo 2 ;;
    text | scenes) echo 3 ;;
    shell) echo 4 ;;
    tools) echo 5 ;;
    *) echo -1 ;;
    esac
}
for dir in platform data assets music texgen text scenes shell tools; do
    own=$(layer "$dir")
    found=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/' "$dir" \
        --include='*.cpp' --include='*.h' --include='*.c' 2>/dev/null) || continue
    echo "$found" | while IFS= read -r hit; do
        target=$(echo "$hit" | sed -E 's/^[^"]*"([a-z]+)\/.*/\1/')
        if [ "$(layer "$target")" -gt "$own" ]; then
            echo "upward include: $hit"
        fi
    done
done > /tmp/layers.$$
if [ -s /tmp/layers.$$ ]; then
    cat /tmp/layers.$$
    status=1
fi
rm -f /tmp/layers.$$

build=${1:-}
if [ -n "$build" ]; then
    for tool in tumble-xm2wav tumble-texdump; do
        [ -x "$build/$tool" ] || { echo "missing: $build/$tool"; status=1; continue; }
        libs=$(ldd "$build/$tool" | grep -iE 'libSDL|libX11|libxcb|libGL|libEGL|libasound|libpulse|libgtk|libfreetype' | awk '{print $1}' | tr '\n' ' ')
        if [ -n "$libs" ]; then
            echo "$tool links $libs"
            status=1
        fi
    done
fi
[ $status -eq 0 ] && echo "layers: no upward include${build:+, headless tools link no window, GL or sound library}"
exit $status
