#!/usr/bin/env bash
# Fault-injection soak: the real player and preview, under a private Xvfb,
# fed by the project's sender over loopback with 5 % loss, 5 % duplication,
# 5 % of datagrams held back up to 50 ms, and a burst of garbage datagrams
# (50 units, every malformed kind in turn) every 5 s.
#
# Modes:
#   player          1920x1080 VP8 at 30 fps. The frames come from a clip
#                   encoded once by tools/replay/stream_replay (the
#                   real-time encoder manages about 3 fps at this size
#                   here); the sender restarts it at its keyframe on every
#                   KFRQ and every 4 s.
#   preview         raw 160x90 BGRA at 30 fps (42 datagrams a frame: at 5 %
#                   loss 12 % of frames arrive whole; a 1280x720 frame of
#                   2634 datagrams would never arrive whole).
#   never-complete  player, fed only frames that never complete: 1 of 1000
#                   announced fragments, a new frame id each, 200 a second.
#   all             the three in turn.
#
# Measured per mode: exit status (any crash or sanitizer report fails),
# VmRSS sampled every second from the first picture (never-complete: from
# start-up) with the bound start + 50 MiB, KFRQs, and how long the picture
# takes to come back: player, from each KFRQ to the first picture on screen
# of a frame sent at or after the keyframe that answered it (late when over
# one keyframe interval, 4 s, + the 250 ms a frame has to arrive), and from
# each frame that lost datagrams to the first picture of the next keyframe
# sent after it or later (held to the same limit: every loss asks for a
# keyframe); preview, from each
# frame that lost datagrams to the first picture of a later frame (late when
# after the next frame sent whole + 100 ms + a frame interval). The screen is read by
# tools/screen_watch/screen_watch from the frame-number strip of the test
# picture.
#
# Usage: scripts/soak.sh [--minutes N] [--build DIR] [--bitrate B] [--keep DIR]
#                        [player|preview|never-complete|all]
# Defaults: 10 minutes a mode, build-soak (Release), 2000000 bit/s, all.
# --keep copies every log to DIR. Exit status 0 only when every check held.

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-soak"
MINUTES=10
BITRATE=2000000
KEEP=""
MODE=all
CACHE=/tmp/talvek_soak_clips
BOUND_KIB=$((50 * 1024))
REORDER_MS=50
IMPAIR=(--drop 0.05 --dup 0.05 --reorder 0.05 --reorder-ms "$REORDER_MS" --garbage-every 5
        --garbage-burst 50 --kind all --seed 7)

while [[ $# -gt 0 ]]; do
    case "$1" in
        --minutes) MINUTES="$2"; shift 2 ;;
        --build) BUILD="$(realpath -m "$2")"; shift 2 ;;
        --bitrate) BITRATE="$2"; shift 2 ;;
        --keep) KEEP="$(realpath -m "$2")"; shift 2 ;;
        player|preview|never-complete|all) MODE="$1"; shift ;;
        -h|--help) sed -n '2,/^$/p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
SECONDS_PER_MODE=$(awk -v m="$MINUTES" 'BEGIN { printf "%d", m * 60 }')
(( SECONDS_PER_MODE > 0 )) || { echo "--minutes must be above 0" >&2; exit 2; }

# --- build -----------------------------------------------------------------------
for tool in cmake ninja Xvfb xdpyinfo pkg-config; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "# $tool missing: installing the project's packages"
        BUILD_DIR="$BUILD" "$ROOT/scripts/setup.sh" -DCMAKE_BUILD_TYPE=Release
        break
    fi
done
# One build at a time: the player and preview soaks may start side by side.
mkdir -p "$BUILD"
(
    flock 9
    if [[ ! -f "$BUILD/build.ninja" ]]; then
        cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    ninja -C "$BUILD" -j2 player preview sender stream_replay screen_watch stream_verdict >/dev/null
) 9>"$BUILD/.soak-build.lock"

PLAYER="$BUILD/player/player"
PREVIEW="$BUILD/preview/preview"
SENDER="$BUILD/tools/sender/sender"
REPLAY="$BUILD/tools/replay/stream_replay"
WATCH="$BUILD/tools/screen_watch/screen_watch"
VERDICT="$BUILD/tools/verdict/stream_verdict"

WORK="$(mktemp -d /tmp/soak.XXXXXX)"
XVFB_PID=""
TARGET_PID=""
WATCH_PID=""
SENDER_PID=""
cleanup() {
    local p
    for p in "$SENDER_PID" "$WATCH_PID" "$TARGET_PID" "$XVFB_PID"; do
        if [[ -n "$p" ]]; then kill "$p" 2>/dev/null || true; fi
    done
    if [[ -n "$KEEP" ]]; then mkdir -p "$KEEP" && cp -r "$WORK"/. "$KEEP"/; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

# shellcheck source=scripts/lib_xvfb.sh
source "$ROOT/scripts/lib_xvfb.sh"
start_private_xvfb "$WORK/xvfb.log" -noreset || exit 1
export SDL_AUDIODRIVER=dummy

# --- helpers -----------------------------------------------------------------------
# shellcheck source=scripts/lib_net.sh
source "$ROOT/scripts/lib_net.sh"
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null; }

# Waits up to $3 s for the pattern $2 in file $1.
wait_for_line() {
    local _
    for _ in $(seq $(( $3 * 20 ))); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# Samples the target's VmRSS once a second into rss.txt until the sender ends
# or the target dies; "died" is written when the target's /proc entry goes.
sample_rss() {
    local dir="$1" r
    : >"$dir/rss.txt"
    while kill -0 "$SENDER_PID" 2>/dev/null; do
        r="$(rss_kib "$TARGET_PID" || true)"
        if [[ -z "$r" ]]; then echo died >>"$dir/rss.txt"; return; fi
        echo "$r" >>"$dir/rss.txt"
        sleep 1
    done
}

# Ends the target in order (SDL turns SIGTERM into a quit) and sets STATUS
# to its exit status; a target that does not stop within 10 s is killed.
# Not in a subshell: only this shell can wait for its child.
stop_target() {
    STATUS=0
    kill -TERM "$TARGET_PID" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$TARGET_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$TARGET_PID" 2>/dev/null || true
    wait "$TARGET_PID" 2>/dev/null || STATUS=$?
    TARGET_PID=""
}

stop_watch() {
    if [[ -n "$WATCH_PID" ]]; then
        kill "$WATCH_PID" 2>/dev/null || true
        wait "$WATCH_PID" 2>/dev/null || true
        WATCH_PID=""
    fi
}

# Waits for screen_watch's first non-zero number (the first picture).
wait_first_picture() {
    local _
    for _ in $(seq 600); do
        awk '$2 != 0 { f = 1 } END { exit !f }' "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# Picture recovery from the event log and the watcher's lines: one line per
# fault, "<kind> <ms>[ late]" or "<kind> open late" (tools/verdict says what
# comes back when, and what is late). $1 mode, $2 events, $3 watch, $4 frame
# interval in ns.
recoveries() { "$VERDICT" recoveries --mode "$1" --interval-ns "$4" "$2" "$3"; }

# Summary of one kind ($2) of recovery times (ms): count median p90 max late.
time_stats() { "$VERDICT" summary "$2" "$1"; }

FAILED=0
FIRST_PICTURE=yes  # set by measure_stream; never-complete shows no picture
RESULTS="$WORK/results.txt"
: >"$RESULTS"

# Reports one mode. $1 label, $2 dir, $3 exit status, $4 start RSS (KiB),
# $5 "recovery" file or "", $6 extra lines.
report() {
    local label="$1" dir="$2" status="$3" start="$4" rec="$5"
    local peak end died=0 ok=1 reports crash="no"
    peak="$(grep -v died "$dir/rss.txt" | sort -n | tail -1)"
    end="$(grep -v died "$dir/rss.txt" | tail -1)"
    grep -q died "$dir/rss.txt" && died=1
    reports="$(grep -cE 'ERROR: (Address|Leak|Thread)Sanitizer|runtime error:|SUMMARY: .*Sanitizer' \
        "$dir/target.err" || true)"
    if (( died )) || [[ "$status" != 0 ]] || (( reports > 0 )); then
        crash="YES (exit status $status, died during run: $died, sanitizer reports: $reports)"
        ok=0
    fi
    local bound=$((start + BOUND_KIB)) held=yes
    (( peak <= bound )) || { held=NO; ok=0; }
    # Every check is decided here, before the pipe below: its block runs in
    # a subshell, where a failure would be printed and then forgotten.
    local late=0
    if [[ -n "$rec" ]]; then
        late="$(grep -c late "$rec" || true)"
        (( late == 0 )) || ok=0
    fi
    [[ "$FIRST_PICTURE" == yes ]] || ok=0
    {
        echo "== $label"
        echo "exit status: $status; crash: $crash"
        printf 'RSS: start %.1f MiB, peak %.1f MiB, end %.1f MiB; bound %.1f MiB (start + 50): %s (peak - start = %.1f MiB)\n' \
            "$(bc_div "$start")" "$(bc_div "$peak")" "$(bc_div "$end")" "$(bc_div "$bound")" "$held" \
            "$(bc_div $((peak - start)))"
        echo "$6"
        [[ "$FIRST_PICTURE" == yes ]] || echo "first picture: none within 30 s"
        if [[ -n "$rec" ]]; then
            # Player: a lossy frame asks for a keyframe like any other loss,
            # so both kinds are held to one keyframe interval.
            if [[ "$label" == player* ]]; then
                echo "picture back after a KFRQ: $(time_stats "$rec" kfrq)"
                echo "picture back after a lossy frame: $(time_stats "$rec" loss)"
            else
                echo "picture back after a lossy frame: $(time_stats "$rec" loss)"
            fi
        fi
        echo "verdict: $([[ $ok == 1 ]] && echo PASS || echo FAIL)"
        echo
    } | tee -a "$RESULTS"
    (( ok )) || FAILED=1
}
bc_div() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

sender_summary() { grep 'done:' "$1" | sed 's/^\[Sender\] done: //'; }

# From the first picture to the sender's end: samples the target's memory
# (START_RSS: at the first picture), stops the watcher and the target
# (STATUS), and works out the recovery times into recovery.txt.
# $1 mode (player or preview), $2 the mode's folder.
measure_stream() {
    local dir="$2"
    FIRST_PICTURE=yes
    wait_first_picture "$dir/watch.txt" || FIRST_PICTURE=no
    START_RSS="$(rss_kib "$TARGET_PID" || echo 0)"
    sample_rss "$dir"
    wait "$SENDER_PID" || true
    SENDER_PID=""
    sleep 1
    rss_kib "$TARGET_PID" >>"$dir/rss.txt" || true
    stop_watch
    stop_target
    recoveries "$1" "$dir/events.txt" "$dir/watch.txt" 33333333 >"$dir/recovery.txt"
}

# --- player ------------------------------------------------------------------------
run_player() {
    local dir="$WORK/player" clip host_port port start
    mkdir -p "$dir" "$CACHE"
    "$REPLAY" --encode-only --width 1920 --height 1080 --fps 30 --bitrate "$BITRATE" \
        --clip-cache "$CACHE" >"$dir/clip.txt" 2>&1
    clip="$(sed -n 's/^\[Replay\] cache file: //p' "$dir/clip.txt")"
    [[ -f "$clip" ]] || { echo "no clip was encoded" >&2; cat "$dir/clip.txt" >&2; exit 1; }
    host_port="$(free_port)"
    port="$(free_port)"
    "$PLAYER" --port "$port" --parent-port "$host_port" --width 1920 --height 1080 \
        --username soak >"$dir/target.out" 2>"$dir/target.err" &
    TARGET_PID=$!
    wait_for_line "$dir/target.out" "Listening on UDP port" 10 ||
        { echo "player did not start" >&2; cat "$dir/target.err" >&2; exit 1; }
    "$WATCH" --title "Stream: soak" --seconds $((SECONDS_PER_MODE + 60)) >"$dir/watch.txt" \
        2>"$dir/watch.err" &
    WATCH_PID=$!
    "$SENDER" player --port "$port" --listen-port "$host_port" --width 1920 --height 1080 \
        --fps 30 --clip "$clip" --seconds "$SECONDS_PER_MODE" "${IMPAIR[@]}" \
        --event-log "$dir/events.txt" --quiet >"$dir/sender.out" 2>&1 &
    SENDER_PID=$!
    measure_stream player "$dir"
    start=$START_RSS
    local kfrq shown frames
    kfrq="$(grep -c ' kfrq$' "$dir/events.txt" || true)"
    frames="$(grep -c ' frame ' "$dir/events.txt" || true)"
    shown="$(awk '$2 != 0' "$dir/watch.txt" | wc -l)"
    report "player: 1920x1080 VP8, 30 fps, $BITRATE bit/s clip ($(sed -n 's/.*clip: //p' \
        "$dir/clip.txt")), $MINUTES min" "$dir" "$STATUS" "$start" "$dir/recovery.txt" \
        "KFRQ: $kfrq; frames sent $frames, pictures seen on screen $shown; drop lines \
$(grep -c 'Dropped frame' "$dir/target.err" || true)
sender: $(sender_summary "$dir/sender.out")"
}

# --- preview -----------------------------------------------------------------------
run_preview() {
    local dir="$WORK/preview" port start
    mkdir -p "$dir"
    port="$(free_port)"
    "$PREVIEW" --port "$port" --width 160 --height 90 --title soak-preview \
        >"$dir/target.out" 2>"$dir/target.err" &
    TARGET_PID=$!
    wait_for_line "$dir/target.out" "Ready to receive" 10 ||
        { echo "preview did not start" >&2; cat "$dir/target.err" >&2; exit 1; }
    "$WATCH" --title soak-preview --seconds $((SECONDS_PER_MODE + 60)) >"$dir/watch.txt" \
        2>"$dir/watch.err" &
    WATCH_PID=$!
    "$SENDER" preview --port "$port" --width 160 --height 90 --fps 30 \
        --seconds "$SECONDS_PER_MODE" "${IMPAIR[@]}" --event-log "$dir/events.txt" \
        >"$dir/sender.out" 2>&1 &
    SENDER_PID=$!
    measure_stream preview "$dir"
    start=$START_RSS
    local frames whole shown
    frames="$(grep -c ' frame ' "$dir/events.txt" || true)"
    whole="$(awk '$2 == "frame" && $6 == 0' "$dir/events.txt" | wc -l)"
    shown="$(awk '$2 != 0' "$dir/watch.txt" | wc -l)"
    report "preview: 160x90 raw BGRA, 30 fps, $MINUTES min" "$dir" "$STATUS" "$start" \
        "$dir/recovery.txt" "frames sent $frames, sent without a dropped datagram $whole, \
pictures seen on screen $shown
sender: $(sender_summary "$dir/sender.out")"
}

# --- never-complete ----------------------------------------------------------------
run_never_complete() {
    local dir="$WORK/never-complete" host_port port start
    mkdir -p "$dir"
    FIRST_PICTURE=yes  # no picture is expected here
    host_port="$(free_port)"
    port="$(free_port)"
    "$PLAYER" --port "$port" --parent-port "$host_port" --width 1920 --height 1080 \
        --username soak >"$dir/target.out" 2>"$dir/target.err" &
    TARGET_PID=$!
    wait_for_line "$dir/target.out" "Listening on UDP port" 10 ||
        { echo "player did not start" >&2; cat "$dir/target.err" >&2; exit 1; }
    sleep 3  # settled: window up, first frames drawn
    start="$(rss_kib "$TARGET_PID" || echo 0)"
    "$SENDER" malformed --port "$port" --listen-port "$host_port" --kind never-complete \
        --rate 200 --seconds "$SECONDS_PER_MODE" --quiet >"$dir/sender.out" 2>&1 &
    SENDER_PID=$!
    sample_rss "$dir"
    wait "$SENDER_PID" || true
    SENDER_PID=""
    sleep 1
    rss_kib "$TARGET_PID" >>"$dir/rss.txt" || true
    stop_target
    report "never-complete: 1 of 1000 fragments, new frame id each, 200 a second, $MINUTES min" \
        "$dir" "$STATUS" "$start" "" \
        "KFRQ: $(grep -c 'received KFRQ' "$dir/sender.out" || true); drop lines \
$(grep -c 'Dropped frame' "$dir/target.err" || true)
sender: $(sender_summary "$dir/sender.out")"
}

echo "# soak $MODE, $MINUTES min a mode; $(nproc) CPUs, load average at start" \
     "$(cut -d' ' -f1-3 /proc/loadavg); Xvfb $DISPLAY; build $BUILD"
echo "# impairments: ${IMPAIR[*]}"
echo
case "$MODE" in
    player) run_player ;;
    preview) run_preview ;;
    never-complete) run_never_complete ;;
    all) run_player; run_preview; run_never_complete ;;
esac
echo "# load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$FAILED"
