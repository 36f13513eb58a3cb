#!/bin/bash
# End-to-end runs of the production, driven through X the way a person would:
# pick in the chooser, watch the window, press Escape.
#
#   run.sh linux windowed|cancel|show TUMBLE PICTURE_STATS OUTDIR
#   run.sh wine  windowed|cancel|show|dpi|keyboard|fullscreen|error|checksums TUMBLE_EXE PICTURE_STATS OUTDIR PREFIX_CACHE
#   run.sh wine-prefix PREFIX_CACHE
#
# windowed: choose "windowed", see the ":)" window present frames (loading bar
#   or black, then the blue title card), (Linux) resize it to 1000 x 600 and
#   see the 4:3 picture between black columns, Escape, exit code 0, nothing left.
# cancel: press "Cancel" (Linux: Tab to it and Enter), exit code 0, never a ":)" window.
# fullscreen (Linux): the default 1024 x 768 on a 1280 x 1024 display that has
#   no such mode: a 1280 x 960 picture between 32 black rows above and below.
# show: the whole show for about 25 s with grabs at about 1, 5, 10 and 22 s
#   (saved in OUTDIR): black, blue card, blue card with the ring, main phase;
#   Escape, exit code 0, nothing left.
# dpi (Windows): at 192 DPI the chooser is about twice its 96-DPI size with
#   every label whole; idle, it uses almost no CPU; Escape cancels (exit 0).
# keyboard (Windows): keys only: Tab and arrows to "windowed", Enter; the
#   title card shows; Escape without a click first ends it (exit 0).
# fullscreen (Windows): in a 1280 x 1024 Wine desktop, Enter takes the
#   default 1024 x 768: the desktop switches to it, Escape (no click) ends the
#   show and the desktop is 1280 x 1024 again. (Xvfb has no other modes, so
#   Wine's own desktop window stands for the screen.)
# error (Windows): on a display without OpenGL, confirming ends in an
#   "Error!" box and, once it is closed, exit code 1.
# checksums (Windows): the build's textures and music fingerprints are the
#   recorded ones (tumble-checksums.exe beside TUMBLE_EXE).
# wine-prefix: make the cached Wine prefix that the wine runs copy.
#
# Each run starts its own Xvfb (white root, so a window that never presented
# shows white), has a hard time limit, ends only the processes it started and
# removes its temporary folder. Grabs and logs stay in OUTDIR.
set -u
export LC_ALL=C

target=${1:?target}
if [ "$target" = wine-prefix ]; then
    mode=prefix
    cache=${2:?prefix cache folder}
    exe="" stats="" outdir=""
else
    mode=${2:?mode}
    exe=${3:?executable}
    stats=${4:?picture_stats}
    outdir=${5:?output folder}
    cache=${6:-}
    # Lets a test run use another Windows build than the one CMake names.
    [ "$target" = wine ] && exe=${TUMBLE_WIN32_EXE:-$exe}
fi

# Under qemu (a kernel without 32-bit support, or a registered handler, which
# the kernel consults first) Wine runs several times slower: the waits that
# depend on the machine's speed, and the hard limit, grow by SLOW.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/i386.sh"
EMULATED=0 SLOW=1
if [ "$target" != linux ] && { i386_emulated || ! i386_runs; }; then
    EMULATED=1 SLOW=3
fi
slow() { echo $(($1 * SLOW)); }

limit=$(awk -v run="$target/$mode" '$1 == run { print $2 }' "$(dirname "${BASH_SOURCE[0]}")/limits")
[ -n "$limit" ] || { echo "run.sh: unknown target/mode $target/$mode" >&2; exit 2; }
limit=$(slow "$limit")

name="$target-$mode"
t0=$EPOCHREALTIME
tmp=$(mktemp -d "/tmp/tumble-e2e-$name.XXXXXX")
xpid="" app="" sid="" pulsepid="" watchdog="" prefix=""
result=1

# Messages go to stderr: stdout carries the results of $(...) helpers.
log() { printf '[%s %6ss] %s\n' "$name" "$(elapsed)" "$*" >&2; }
now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$EPOCHREALTIME" -v b="$t0" 'BEGIN { printf "%.1f", a - b }'; }
later() { awk -v a="$EPOCHREALTIME" -v b="$1" 'BEGIN { printf "%.3f", a + b }'; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a - b }'; }
# after T: true once the absolute time T has passed
after() { awk -v a="$EPOCHREALTIME" -v b="$1" 'BEGIN { exit !(a >= b) }'; }
ge() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

fail() {
    log "FAIL: $*"
    if [ -s "$tmp/app.log" ]; then
        echo "--- program output (last 30 lines) ---" >&2
        tail -n 30 "$tmp/app.log" >&2
    fi
    exit 1
}

cleanup() {
    local rc=$?
    trap - EXIT USR1 INT TERM
    [ -n "$watchdog" ] && kill "$watchdog" 2>/dev/null
    if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
        kill "$app" 2>/dev/null
        sleep 0.5
        kill -9 "$app" 2>/dev/null
    fi
    if [ -n "$sid" ]; then
        # Anything the program left in its own session.
        for p in $(session_pids "$sid"); do kill -9 "$p" 2>/dev/null; done
    fi
    if [ -n "$prefix" ]; then
        WINEPREFIX="$prefix" timeout 60 wineserver -k 2>/dev/null
        WINEPREFIX="$prefix" timeout 60 wineserver -w 2>/dev/null
    fi
    [ -n "$pulsepid" ] && kill "$pulsepid" 2>/dev/null && wait "$pulsepid" 2>/dev/null
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null && wait "$xpid" 2>/dev/null
    rm -rf "$tmp"
    log "finished with exit code $rc after $(elapsed) s"
    exit "$rc"
}
trap cleanup EXIT
trap 'fail "hard time limit of $limit s reached"' USR1
trap 'fail "interrupted"' INT TERM
# The watchdog ends its own sleep when stopped, so nothing holds CTest's pipe.
(
    trap 'kill $nap 2>/dev/null; exit 0' TERM
    sleep "$limit" &
    nap=$!
    wait $nap && kill -USR1 $$ 2>/dev/null
) >/dev/null 2>&1 &
watchdog=$!

session_pids() { ps -eo pid=,sid= | awk -v s="$1" '$2 == s { print $1 }'; }

# Wine processes (native, or under qemu) whose environment names our prefix.
prefix_pids() {
    local p exe
    for p in /proc/[0-9]*; do
        exe=$(readlink "$p/exe" 2>/dev/null) || continue
        case "$exe" in */qemu-i386* | /usr/lib/wine/* | */wine/*) ;; *) continue ;; esac
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && echo "${p#/proc/}"
    done
}

start_xvfb() {
    local fifo="$tmp/xvfb.fd" n=""
    mkfifo "$fifo"
    # shellcheck disable=SC2086
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -wr -nolisten tcp ${XVFB_EXTRA:-} 3>"$fifo" >"$tmp/xvfb.log" 2>&1 &
    xpid=$!
    read -r -t 30 n <"$fifo" || fail "Xvfb did not start"
    export DISPLAY=":$n"
    # A viewer who has not reached for the mouse yet: not over any window.
    xdotool mousemove 0 0
    log "Xvfb on $DISPLAY"
}

# Top-level windows with exactly this title that are mapped, one id a line.
find_windows() {
    local title=$1
    xwininfo -root -tree 2>/dev/null | awk -v t="\"$title\":" '$1 ~ /^0x/ && substr($0, index($0, $1) + length($1) + 1, length(t)) == t { print $1 }' | while read -r w; do
        xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$w"
    done
}

# wait_window TITLE SECONDS: prints the first id, fails on time-out.
wait_window() {
    local title=$1 deadline w
    deadline=$(later "$2")
    while :; do
        w=$(find_windows "$title" | head -n 1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        app_alive || return 1
        after "$deadline" && return 1
        sleep 0.2
    done
}

app_alive() { kill -0 "$app" 2>/dev/null; }

geometry() { xwininfo -id "$1" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w " " h }'; }

# grab WINDOW FILE: prints the picture statistics, or nothing when the grab failed.
grab() {
    "$stats" --window "$1" --save "$2" 2>/dev/null
}
stat_of() { sed -n "s/.*\b$1=\([0-9.x]*\).*/\1/p" <<<"$2"; }

# Wine needs to run 32-bit Linux programs. Kernels without 32-bit support
# get them through qemu's user-mode emulator (installed by install-deps.sh).
ensure_i386() {
    if ! i386_runs; then
        qemu_i386_ok || fail "this kernel cannot run 32-bit programs and $QEMU_I386 is missing or older than 8.1 (run scripts/install-deps.sh)"
        local why
        why=$(i386_register 2>&1) || fail "this kernel cannot run 32-bit programs: $why"
        log "registered $QEMU_I386 for 32-bit programs"
        i386_runs || fail "wine still cannot start: $(wine --version 2>&1 | head -n 1)"
    fi
    [ $EMULATED = 1 ] && log "32-bit programs run through qemu: slower (waits x$SLOW), same checks"
}

wine_env() {
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
}

# The template prefix, made once per build folder and wine version.
make_prefix_cache() {
    local version stamp
    version=$(wine --version 2>&1)
    stamp="$cache/stamp"
    mkdir -p "$cache"
    exec 9>"$cache.lock"
    flock -w $((limit - 30)) 9 || fail "another run holds $cache.lock"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && [ -f "$cache/prefix/system.reg" ]; then
        log "cached Wine prefix is ready ($version)"
        flock -u 9
        return 0
    fi
    log "making the Wine prefix ($version); this takes a while"
    rm -rf "$cache/prefix" "$stamp"
    prefix="$cache/prefix"
    WINEPREFIX="$prefix" timeout $((limit - 60)) wineboot -i >"$tmp/wineboot.log" 2>&1
    local rc=$?
    WINEPREFIX="$prefix" timeout 60 wineserver -w 2>/dev/null
    prefix=""
    if [ $rc -ne 0 ] || [ ! -f "$cache/prefix/system.reg" ]; then
        tail -n 20 "$tmp/wineboot.log"
        rm -rf "$cache/prefix"
        fail "wineboot failed (exit code $rc)"
    fi
    echo "$version" >"$stamp"
    flock -u 9
    log "Wine prefix made"
}

# A private copy of the template: files that Wine rewrites are copied, the
# rest (DLLs, fonts) hard-linked.
private_prefix() {
    [ -f "$cache/stamp" ] || fail "no cached Wine prefix in $cache (the e2e_wine_prefix test makes it)"
    prefix="$tmp/prefix"
    cp -al "$cache/prefix" "$prefix" || fail "cannot copy the Wine prefix"
    local f
    for f in "$prefix"/*.reg "$prefix"/.update-timestamp; do
        [ -f "$f" ] && cp --remove-destination "$cache/prefix/${f##*/}" "$f"
    done
    export WINEPREFIX="$prefix"
}

# A private sound server with a null sink, so the player has a real device
# that plays at the real-time rate. Without it the player falls back to silence.
start_pulse() {
    command -v pulseaudio >/dev/null || { log "no pulseaudio: silent device"; return 0; }
    mkdir -p "$tmp/pulse" "$tmp/home"
    PULSE_RUNTIME_PATH="$tmp/pulse" HOME="$tmp/home" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --disallow-exit --use-pid-file=no --system=no \
        -L "module-native-protocol-unix socket=$tmp/pulse/native auth-anonymous=1" \
        -L "module-null-sink sink_name=e2e" -L "module-always-sink" >"$tmp/pulse.log" 2>&1 &
    pulsepid=$!
    local deadline
    deadline=$(later 15)
    while [ ! -S "$tmp/pulse/native" ]; do
        if ! kill -0 "$pulsepid" 2>/dev/null || after "$deadline"; then
            log "pulseaudio did not start: silent device ($(tail -n 1 "$tmp/pulse.log"))"
            kill "$pulsepid" 2>/dev/null
            pulsepid=""
            return 0
        fi
        sleep 0.1
    done
    export PULSE_SERVER="unix:$tmp/pulse/native"
    log "private PulseAudio with a null sink"
}

start_program() {
    # Never let the sound client start a daemon of its own.
    printf 'autospawn = no\n' >"$tmp/client.conf"
    export PULSE_CLIENTCONFIG="$tmp/client.conf" LIBGL_ALWAYS_SOFTWARE=1
    mkdir -p "$tmp/run"
    if [ "$target" = linux ]; then
        (cd "$tmp/run" && exec setsid -w "$exe") >"$tmp/app.log" 2>&1 &
    else
        (cd "$tmp/run" && exec setsid -w wine "$exe") >"$tmp/app.log" 2>&1 &
    fi
    app=$!
    sleep 0.1
    sid=$(ps -o sid= -p "$app" 2>/dev/null | tr -d ' ')
    log "started $exe (pid $app)"
    [ "$target" = wine ] && [ "${1:-}" != again ] && wine_started_or_again
}

# Under load Wine has been seen to end within a second of its start, silent
# and before the program showed anything. Such a start is Wine's, not the
# program's: it is logged and made once more.
wine_started_or_again() {
    local deadline rc
    deadline=$(later 5)
    while [ -z "$(find_windows "Select your resolution")" ] && ! after "$deadline"; do
        if ! app_alive; then
            [ -s "$tmp/app.log" ] && return 0   # it said something: the run judges it
            wait "$app"
            rc=$?
            log "wine ended silently at start (exit code $rc), before any window: starting it once more"
            start_program again
            return 0
        fi
        sleep 0.2
    done
}

# wait_exit SECONDS: the exit code of the program, or fails.
wait_exit() {
    local deadline
    deadline=$(later "$1")
    while app_alive; do
        after "$deadline" && fail "the program did not end within $1 s"
        if { [ "$mode" = cancel ] || [ "$mode" = dpi ]; } && [ -n "$(find_windows ':)')" ]; then
            fail "a \":)\" window appeared after Cancel"
        fi
        sleep 0.2
    done
    wait "$app"
    local rc=$?
    app=""
    return $rc
}

# Nothing of the program may outlive it.
check_nothing_left() {
    local left deadline
    deadline=$(later 30)
    while :; do
        if [ "$target" = linux ]; then
            left=$(session_pids "$sid")
        else
            left=$(prefix_pids)
        fi
        [ -z "$left" ] && break
        after "$deadline" && fail "processes left after the program ended: $(ps -o pid=,args= -p "$(echo $left | tr ' ' ',')")"
        sleep 0.5
    done
    log "no process left"
}

# --- the chooser ---

chooser_window() {
    local w
    w=$(wait_window "Select your resolution" "$1") || fail "no \"Select your resolution\" window within $1 s"
    echo "$w"
}

# Win32 chooser: controls at their client positions. The X window Wine makes
# is the client area; with a frame around it, the client sits at the bottom.
win32_click() {
    local w=$1 x=$2 y=$3 cw ch ox oy
    read -r cw ch < <(geometry "$w")
    ox=$(((cw - 161) / 2))
    oy=$((ch - 241 - ox))
    [ $ox -ge 0 ] && [ $oy -ge 0 ] || fail "unexpected chooser size ${cw}x$ch"
    xdotool mousemove --window "$w" $((x + ox)) $((y + oy)) click 1
}

choose() {
    local what=$1 w cw ch
    w=$(chooser_window $([ "$target" = linux ] && echo 30 || echo 240)) || exit 1
    log "chooser is up ($w)"
    sleep 0.5
    if [ "$target" = linux ]; then
        xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w"
        if [ "$what" = windowed ]; then
            # Keyboard: from "Ok, let's go!" back into the radio group (on the
            # default), down four to "windowed", Enter confirms.
            xdotool key --delay 80 shift+Tab Down Down Down Down
            sleep 0.3
            xdotool key Return
        elif [ "$what" = default ]; then
            # Focus starts on "Ok, let's go!", with "1024x768 (default)" picked.
            xdotool key Return
        else
            # Keyboard: Tab from "Ok, let's go!" to "Cancel"; Enter presses it.
            xdotool key --delay 80 Tab
            sleep 0.3
            xdotool key Return
        fi
    else
        if [ "$what" = windowed ]; then
            win32_click "$w" 40 160    # radio "windowed" (10, 150) 150 x 20
            sleep 0.5
            win32_click "$w" 80 188    # "Ok, let's go!" (10, 176) 140 x 24
        else
            win32_click "$w" 80 218    # "Cancel" (10, 206) 140 x 24
        fi
    fi
}

press_escape() {
    local w=$1 cw ch
    read -r cw ch < <(geometry "$w")
    xdotool mousemove --window "$w" $((cw / 2)) $((ch / 2)) click 1
    xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w" 2>/dev/null
    xdotool key Escape
    log "pressed Escape"
}

render_window() {
    local limit_s w cw ch
    limit_s=$([ "$target" = linux ] && echo 60 || echo 180)
    w=$(wait_window ":)" "$limit_s") || fail "no \":)\" window within $limit_s s of confirming"
    read -r cw ch < <(geometry "$w")
    log "\":)\" window $w, client ${cw}x$ch"
    # Windowed: 800 x 600 (Win32: the outer size, so the client is a little smaller).
    if [ "$cw" -gt 800 ] || [ "$ch" -gt 600 ] || [ "$cw" -lt 760 ] || [ "$ch" -lt 540 ]; then
        fail "the \":)\" window is ${cw}x$ch, not an 800 x 600 window"
    fi
    echo "$w"
}

# Poll grabs until the blue title card shows. Records the last black grab
# after the loading bar in $tmp/black.png and the time of the first blue one.
BLUE_AT=""
SAW_BAR=0
BLACK_AT=""
wait_for_card() {
    local w=$1 limit_s=$2 deadline s i=0 black blue white bar at
    deadline=$(later "$limit_s")
    while :; do
        app_alive || fail "the program ended before showing the title card"
        i=$((i + 1))
        at=$(now)
        s=$(grab "$w" "$tmp/poll.png")
        if [ -n "$s" ]; then
            black=$(stat_of black "$s")
            blue=$(stat_of blue "$s")
            white=$(stat_of white "$s")
            bar=$(stat_of bar "$s")
            if ge "$blue" 0.5; then
                BLUE_AT=$at
                cp "$tmp/poll.png" "$tmp/blue.png"
                log "blue title card after $i grabs ($s)"
                return 0
            elif ge "$bar" 0.02 && lt "$black" 0.98; then
                [ $SAW_BAR = 0 ] && log "loading bar ($s)"
                SAW_BAR=1
                BLACK_AT=""
            elif ge "$black" 0.98; then
                [ -z "$BLACK_AT" ] && log "black frame ($s)"
                BLACK_AT=$at
                cp "$tmp/poll.png" "$tmp/black.png"
            elif ge "$white" 0.98; then
                :   # not presented yet
            else
                log "unexpected picture ($s)"
                cp "$tmp/poll.png" "$outdir/$name-unexpected.png"
            fi
        fi
        if after "$deadline"; then
            cp "$tmp/poll.png" "$outdir/$name-last.png" 2>/dev/null
            [ -n "$s" ] && ge "$(stat_of white "$s")" 0.98 &&
                fail "the window never presented a frame (still the white background after $limit_s s)"
            fail "no blue title card within $limit_s s (last grab: $s; saved as $name-last.png)"
        fi
        sleep 0.1
    done
}

# --- the runs ---

run_cancel() {
    start_program
    choose cancel
    log "pressed Cancel"
    wait_exit 30
    local rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc after Cancel, expected 0"
    [ -z "$(find_windows ':)')" ] || fail "a \":)\" window exists after Cancel"
    log "exit code 0, no \":)\" window"
    check_nothing_left
}

run_windowed() {
    start_program
    choose windowed
    log "chose windowed and confirmed"
    local w
    w=$(render_window) || exit 1
    wait_for_card "$w" $([ "$target" = linux ] && echo 60 || echo 240)
    cp "$tmp/blue.png" "$outdir/$name-card.png"
    [ "$target" = linux ] && check_resized_linux "$w"
    press_escape "$w"
    wait_exit $([ "$target" = linux ] && echo 20 || echo 60)
    local rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc after Escape, expected 0"
    log "exit code 0"
    check_nothing_left
    # No sound server here: one line says so, and the sound libraries say nothing.
    if [ "$target" = linux ]; then
        grep -q 'the show runs silent' "$tmp/app.log" || fail "no word that the show runs silent"
        local noise
        noise=$(grep -v 'the show runs silent' "$tmp/app.log" | head -n 3)
        [ -z "$noise" ] || fail "unexpected output on the terminal: $noise"
        log "one line: the show runs silent"
    fi
}

# Picture tests on the statistics of one grab.
is_card() { ge "$(stat_of blue "$1")" 0.6 && lt "$(stat_of ring "$1")" 0.02; }
is_ring() { ge "$(stat_of blue "$1")" 0.4 && ge "$(stat_of ring "$1")" 0.04; }
is_main() {
    lt "$(stat_of blue "$1")" 0.5 && lt "$(stat_of black "$1")" 0.95 && lt "$(stat_of white "$1")" 0.9
}

# watch LABEL FROM UNTIL TEST: grabs from FROM to UNTIL seconds after the
# card appeared (the card appears at 2 s of show time) until one passes TEST.
# The last grab is kept as OUTDIR/NAME-tLABEL.png. Polling rather than one
# grab at a fixed time keeps this robust when frames come slowly.
watch() {
    local label=$1 from until s="" t
    from=$(awk -v a="$BLUE_AT" -v b="$2" 'BEGIN { printf "%.3f", a + b }')
    until=$(awk -v a="$BLUE_AT" -v b="$3" 'BEGIN { printf "%.3f", a + b }')
    while ! after "$from"; do
        app_alive || fail "the program ended before the ${label} s grab"
        sleep 0.05
    done
    while :; do
        app_alive || fail "the program ended during the ${label} s grabs"
        t=$(awk -v a="$EPOCHREALTIME" -v b="$BLUE_AT" 'BEGIN { printf "%.1f", a - b + 2 }')
        s=$(grab "$W" "$outdir/$name-t$label.png") || true
        if [ -n "$s" ] && "$4" "$s"; then
            log "t=${t}s: $s"
            return 0
        fi
        if after "$until"; then
            log "t=${t}s, last of the ${label} s grabs: ${s:-grab failed}"
            return 1
        fi
        sleep 0.2
    done
}

# letterbox_faults FILE PX PY PW PH EDGES: the 4:3 picture at PX,PY of PW x PH
# in the grab, exactly black outside it; with EDGES, its rows and columns next
# to the bars are not black either (the picture is not itself barred). Prints
# what is wrong, nothing when all holds.
letterbox_faults() {
    local file=$1 px=$2 py=$3 pw=$4 ph=$5 edges=$6 dw dh
    read -r dw dh < <(convert "$file" -format '%w %h' info:)
    local bars=() lines=()
    [ "$py" -gt 0 ] && bars+=("${dw}x$py+0+0") && lines+=("${pw}x1+$px+$py")
    [ $((dh - py - ph)) -gt 0 ] && bars+=("${dw}x$((dh - py - ph))+0+$((py + ph))") && lines+=("${pw}x1+$px+$((py + ph - 1))")
    [ "$px" -gt 0 ] && bars+=("${px}x$dh+0+0") && lines+=("1x$ph+$px+$py")
    [ $((dw - px - pw)) -gt 0 ] && bars+=("$((dw - px - pw))x$dh+$((px + pw))+0") && lines+=("1x$ph+$((px + pw - 1))+$py")
    local a
    for a in "${bars[@]}"; do
        [ "$(convert "$file" -crop "$a" +repage -format '%[max]' info:)" = 0 ] || printf ' %s is not black;' "$a"
    done
    [ "$edges" = 1 ] || return 0
    for a in "${lines[@]}"; do
        ge "$(convert "$file" -crop "$a" +repage -format '%[fx:mean]' info:)" 0.05 || printf ' the picture edge %s is black;' "$a"
    done
}

# Full screen on a display without the chosen mode (Xvfb has only its own
# 1280 x 1024): the window covers the screen and shows a 1280 x 960 picture
# between black bars of 32 rows.
run_fullscreen_linux() {
    start_program
    choose default
    log "confirmed the default, 1024 x 768 full screen"
    W=$(wait_window ":)" 60) || fail "no \":)\" window within 60 s of confirming"
    local failures="" cw ch s bad
    wait_for_card "$W" 60
    read -r cw ch < <(geometry "$W")
    [ "$cw" = 1280 ] && [ "$ch" = 1024 ] || failures+=" the window is ${cw}x$ch, not the 1280 x 1024 screen;"
    s=$(grab "$W" "$outdir/$name-card.png")
    log "card: $s"
    bad=$(letterbox_faults "$outdir/$name-card.png" 0 32 1280 960 1)
    [ -z "$bad" ] || failures+=" title card:$bad"
    convert "$outdir/$name-card.png" -crop 1280x960+0+32 +repage "$tmp/picture.png"
    s=$("$stats" "$tmp/picture.png")
    lt "$(stat_of black "$s")" 0.02 || failures+=" the title card does not fill the picture ($s);"
    watch 22 20 24 is_main || failures+=" t~22s is not the main phase;"
    bad=$(letterbox_faults "$outdir/$name-t22.png" 0 32 1280 960 0)
    [ -z "$bad" ] || failures+=" main phase:$bad"
    convert "$outdir/$name-t22.png" -crop 1280x960+0+32 +repage "$tmp/picture.png"
    s=$("$stats" "$tmp/picture.png")
    lt "$(stat_of black "$s")" 0.05 || failures+=" the main phase does not fill the picture ($s);"
    press_escape "$W"
    wait_exit 20
    local rc=$?
    [ $rc -eq 0 ] || failures+=" exit code $rc after Escape, expected 0;"
    check_nothing_left
    [ -z "$failures" ] || fail "${failures% ;} (grabs in $outdir/$name-*.png)"
    log "full screen: a 1280 x 960 picture between 32 black rows above and below; exit code 0"
}

# A window resized to 1000 x 600 shows its 800 x 600 picture between black
# columns of 100.
check_resized_linux() {
    local w=$1 cw ch s bad
    xdotool windowsize "$w" 1000 600
    sleep 1
    read -r cw ch < <(geometry "$w")
    [ "$cw" = 1000 ] && [ "$ch" = 600 ] || fail "the window is ${cw}x$ch after resizing it to 1000 x 600"
    s=$(grab "$w" "$outdir/$name-resized.png")
    bad=$(letterbox_faults "$outdir/$name-resized.png" 100 0 800 600 1)
    [ -z "$bad" ] || fail "resized to 1000 x 600:$bad (grab in $outdir/$name-resized.png)"
    log "resized to 1000 x 600: an 800 x 600 picture between black columns of 100 ($s)"
}

W=""
run_show() {
    start_pulse
    start_program
    choose windowed
    log "chose windowed and confirmed"
    W=$(render_window) || exit 1
    wait_for_card "$W" $([ "$target" = linux ] && echo 90 || echo 300)
    local failures=""
    # t ~ 1 s: the last black grab before the card, within 2.5 s of it.
    if [ -z "$BLACK_AT" ] || ! lt "$(minus "$BLUE_AT" "$BLACK_AT")" 2.5; then
        failures+=" no black frame in the 2 s before the title card;"
    else
        cp "$tmp/black.png" "$outdir/$name-t01.png"
        log "t~1s: $("$stats" "$tmp/black.png")"
    fi
    watch 05 3 4 is_card || failures+=" t~5s is not the plain blue title card;"
    watch 10 8 11 is_ring || failures+=" t~10s is not the title card with the ring;"
    # The main phase begins when the song reaches its second order position,
    # about 15 s in. The music starts only after playerStart has rendered two
    # seconds of audio on the main thread, which under Wine on an emulated
    # 32-bit CPU takes several seconds more; new GL state there also compiles
    # slowly, so the Windows build gets a longer wait.
    if [ "$target" = linux ]; then
        watch 22 20 24 is_main || failures+=" t~22s is not the main phase;"
    else
        watch 22 20 70 is_main || failures+=" no main phase by t~72s;"
    fi
    press_escape "$W"
    wait_exit $([ "$target" = linux ] && echo 20 || echo 60)
    local rc=$?
    [ $rc -eq 0 ] || failures+=" exit code $rc after Escape, expected 0;"
    check_nothing_left
    if [ -n "$pulsepid" ] && grep -q 'runs silent' "$tmp/app.log"; then
        failures+=" silent although a sound server runs;"
    fi
    [ -z "$failures" ] || fail "${failures% ;} (grabs in $outdir/$name-t*.png)"
    log "black, blue card, ring, main phase; exit code 0 (grabs in $outdir)"
}

# --- Windows: DPI, keyboard, idle CPU, content fingerprints ---

# The program's own Wine process, and its CPU time in clock ticks.
program_pid() {
    local p
    for p in $(prefix_pids); do
        if tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q 'tumble\.exe'; then
            echo "$p"
            return 0
        fi
    done
    return 1
}
program_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }

run_dpi() {
    # The private prefix's screen at 192 DPI.
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >"$tmp/reg.log" 2>&1 ||
        fail "cannot set LogPixels: $(tail -n 1 "$tmp/reg.log")"
    start_program
    local w cw ch s i y ink left right
    w=$(chooser_window 240) || exit 1
    sleep 1
    read -r cw ch < <(geometry "$w")
    log "chooser client at 192 DPI: ${cw}x$ch (161x241 at 96 DPI)"
    # Twice the 96-DPI client area, give or take the frame's own scaling.
    [ "$cw" -ge 300 ] && [ "$cw" -le 360 ] && [ "$ch" -ge 480 ] && [ "$ch" -le 540 ] ||
        fail "the chooser's client area is ${cw}x$ch at 192 DPI, not about twice 161x241"
    s=$(grab "$w" "$outdir/$name-chooser.png") || true
    [ -n "$s" ] || fail "cannot grab the chooser"
    # Each radio label (rows of 40 from y = 20, control right edge 320) and
    # each button label: text present and ending well inside its control.
    for i in 0 1 2 3 4 5 6 7; do
        y=$((20 + 40 * i))
        ink=$("$stats" --ink "$outdir/$name-chooser.png" 48 $((y + 4)) "$cw" $((y + 36)))
        [ "$ink" != ink=none ] || fail "radio row $((i + 1)) shows no label ($outdir/$name-chooser.png)"
        right=${ink#*..}
        [ "$right" -lt $((320 - 8)) ] && [ "$right" -lt $((cw - 8)) ] ||
            fail "radio row $((i + 1)) label is cut: $ink ($outdir/$name-chooser.png)"
        [ $i = 3 ] && left=${ink#ink=} && left=${left%..*} &&
            { [ $((right - left)) -ge 150 ] || fail "\"1024x768 (default)\" is only $((right - left)) pixels wide: $ink"; }
    done
    for y in 352 412; do
        ink=$("$stats" --ink "$outdir/$name-chooser.png" 24 $((y + 6)) 296 $((y + 42)))
        [ "$ink" != ink=none ] || fail "the button at y=$y shows no label"
    done
    log "every label whole"
    # Idle: the program's own process over 3 s, the pointer resting outside
    # the chooser (over it, Wine hit-tests the themed controls all the time).
    local cpu0 cpu1 hz pid
    hz=$(getconf CLK_TCK)
    xdotool mousemove 0 0
    sleep "$SLOW"   # what the grab and the move left to paint
    pid=$(program_pid) || fail "cannot find the tumble.exe process"
    cpu0=$(program_ticks "$pid") || fail "the tumble.exe process went away"
    sleep 3
    cpu1=$(program_ticks "$pid") || fail "the tumble.exe process went away"
    log "idle chooser: $((cpu1 - cpu0)) ticks of $((3 * hz)) in 3 s"
    [ $(((cpu1 - cpu0) * 100)) -lt $((5 * 3 * hz)) ] || fail "the idle chooser used $((cpu1 - cpu0)) ticks in 3 s (5% is $((3 * hz / 20)))"
    xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w"
    xdotool key Escape
    log "pressed Escape in the chooser"
    wait_exit 30
    local rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc after Escape in the chooser, expected 0"
    [ -z "$(find_windows ':)')" ] || fail "a \":)\" window exists after Escape"
    log "exit code 0, no \":)\" window"
    check_nothing_left
}

run_keyboard() {
    start_program
    local w
    w=$(chooser_window 240) || exit 1
    sleep 0.5
    xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w"
    # From "Ok, let's go!" past "Cancel" into the radio group, down to "windowed".
    xdotool key --delay 100 Tab Tab Down Down Down Down Down Down Down
    sleep 0.3
    xdotool key Return
    log "keys: Tab Tab Down x7 Return"
    w=$(render_window) || exit 1
    wait_for_card "$w" 240
    # No click: the window must have the keyboard already.
    xdotool key Escape
    log "pressed Escape (no click)"
    wait_exit 60
    local rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc after Escape, expected 0"
    log "exit code 0"
    check_nothing_left
}

desktop_size() {
    local w
    w=$(find_windows "Default - Wine desktop" | head -n 1)
    [ -n "$w" ] && geometry "$w" | tr ' ' x
}

# wait_desktop SIZE SECONDS
wait_desktop() {
    local deadline
    deadline=$(later "$2")
    until [ "$(desktop_size)" = "$1" ]; do
        after "$deadline" && return 1
        sleep 0.2
    done
}

run_fullscreen() {
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >"$tmp/reg.log" 2>&1 &&
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >>"$tmp/reg.log" 2>&1 ||
        fail "cannot set up the Wine desktop: $(tail -n 1 "$tmp/reg.log")"
    timeout 60 wineserver -w
    # Something else on the desktop keeps it open after the program ends;
    # minimised, so the program has the keyboard.
    (cd "$tmp" && exec wine start /min notepad) >/dev/null 2>&1
    local w rc p
    wait_desktop 1280x1024 120 || fail "no 1280x1024 Wine desktop (got: $(desktop_size))"
    local deadline
    deadline=$(later 60)
    until [ -n "$(find_windows "Untitled - Notepad")" ]; do
        after "$deadline" && fail "the desktop's other program did not start"
        sleep 0.2
    done
    sleep 1
    start_program
    w=$(chooser_window 240) || exit 1
    sleep 0.5
    xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w"
    xdotool key Return
    log "pressed Enter: the default, 1024x768 full screen"
    wait_desktop 1024x768 180 || fail "the display did not switch to 1024x768 (desktop: $(desktop_size))"
    w=$(wait_window ":)" 60) || fail "no \":)\" window in full screen"
    log "display switched to 1024x768, \":)\" window $(geometry "$w" | tr ' ' x)"
    sleep 2
    # X focus on the Wine desktop as a whole (no window manager here); which
    # window inside gets the key is Wine's and the program's business.
    xdotool windowfocus "$(find_windows "Default - Wine desktop" | head -n 1)" 2>/dev/null
    xdotool key Escape
    log "pressed Escape (no click)"
    wait_exit 60
    rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc after Escape, expected 0"
    wait_desktop 1280x1024 30 || fail "the display was not restored (desktop: $(desktop_size))"
    log "exit code 0, display back to 1280x1024"
    for p in $(prefix_pids); do
        tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -qi 'notepad' && kill "$p"
    done
    check_nothing_left
}

run_error() {
    start_program
    local w rc
    w=$(chooser_window 240) || exit 1
    sleep 0.5
    xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w"
    xdotool key Return
    w=$(wait_window "Error!" 120) || fail "no \"Error!\" box without OpenGL"
    log "\"Error!\" box ($w)"
    xdotool windowfocus "$w" 2>/dev/null
    xdotool key Return
    wait_exit 60
    rc=$?
    [ $rc -eq 1 ] || fail "exit code $rc after the start-up error, expected 1"
    log "exit code 1"
    check_nothing_left
}

run_checksums() {
    local tool ref
    tool="$(dirname "$exe")/tumble-checksums.exe"
    ref="$(dirname "${BASH_SOURCE[0]}")/win32/checksums.ref"
    [ -f "$tool" ] || fail "no $tool (build the Windows targets first)"
    (cd "$tmp" && timeout "$(slow 90)" wine "$tool") 2>"$tmp/app.log" | tr -d '\r' >"$tmp/sums.txt" ||
        fail "tumble-checksums.exe failed"
    diff -u "$ref" "$tmp/sums.txt" >&2 || fail "texture or music fingerprints differ from $ref"
    log "textures and music as recorded"
}

if [ "$mode" = prefix ]; then
    start_xvfb
    wine_env
    ensure_i386
    make_prefix_cache
    result=0
    exit 0
fi

[ -x "$exe" ] || [ "$target" = wine ] || fail "no executable $exe"
[ -f "$exe" ] || fail "no executable $exe (build it first)"
mkdir -p "$outdir"
[ "$mode" = error ] && XVFB_EXTRA="-extension GLX"
start_xvfb
if [ "$target" = wine ]; then
    wine_env
    ensure_i386
    private_prefix
fi
case "$mode" in
windowed) run_windowed ;;
cancel) run_cancel ;;
show) run_show ;;
dpi) run_dpi ;;
keyboard) run_keyboard ;;
fullscreen) if [ "$target" = linux ]; then run_fullscreen_linux; else run_fullscreen; fi ;;
error) run_error ;;
checksums) run_checksums ;;
esac
log "PASS"
exit 0
