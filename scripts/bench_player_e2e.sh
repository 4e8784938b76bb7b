#!/usr/bin/env bash
# End-to-end benchmark of the host -> player video path: VP8, 1920x1080 unless
# --size says otherwise, under a private Xvfb.
#
# The host is tools/replay/stream_replay: the sender's test picture with
# fresh noise over its colour bars, encoded up front by the sender's own encoder and
# settings (real-time libvpx, constant bit rate), then streamed as the sender
# streams: one frame per interval, fragments of 1400 bytes, each frame spread
# over 3/4 of the interval (the sender's default) or sent as one burst (the
# sender's --burst). The clip is 4 s long and
# starts over at its keyframe, so a keyframe of a few hundred kilobytes comes
# every 4 s; a KFRQ also restarts it at the keyframe. The sender itself
# encodes in real time and cannot keep 1920x1080 at 30 fps on this machine
# (--sender-check shows what it reaches with the same picture).
#
# For each run the script measures, for player:
#   sock drops   datagrams the kernel dropped at player's socket (its receive
#                buffer was full): every one leaves a frame incomplete
#   drop lines   "[VideoReceiver] Dropped frame" lines on player's stderr
#   KFRQ         keyframe requests that reached the host
#   shown        pictures that reached the screen over pictures sent, read by
#                tools/screen_watch/screen_watch from one row of the window
#                every ~1 ms
#   latency      from a frame's first datagram leaving the host to its
#                picture number on screen: median and 90th percentile
#   passes/s     main-loop passes a second, counted from outside as the
#                SDL_Delay(1) sleeps of player's main thread (perf stat)
#   CPU          player's utime+stime over the run, per second of stream
#   RSS          player's peak resident set (VmHWM)
# A run is clean with no socket drop, no drop line, no KFRQ and no frame the
# host sent late.
#
# Phases: idle (window open, nothing arriving); a climb over frame rates and
# bit rates with the default build (512 datagrams per pass), paced; the
# realistic streams in bursts with the default build and with a build that
# reads one datagram per pass (-DTALVEK_PLAYER_DATAGRAMS_PER_PASS=1);
# optionally bench_player_loop (render() cost and loop passes in-process),
# the sender check, and after each climb run the bare loop (bench/bare_loop:
# the same clip decoded, converted and shown at the same rate on one thread,
# no network) with the player's CPU per shown frame divided by the loop's.
# With --gstreamer, each climb run is followed by the same run into a stock
# GStreamer pipeline (udpsrc with a 4 MiB buffer, rtpvp8depay, vp8dec,
# videoconvert, ximagesink sync=false, a window the size of the picture):
# the same frames at the same pace as RTP (stream_replay --rtp), watched
# the same way, and the player's latency, CPU and peak RSS divided by its.
#
# Usage: scripts/bench_player_e2e.sh [--build DIR] [--build1 DIR] [--seconds S]
#            [--size WxH] [--climb "FPS:BITRATE ..."] [--compare "FPS:BITRATE ..."]
#            [--climb-burst] [--cache DIR] [--loop-bench] [--sender-check] [--bare-loop]
#            [--gstreamer]
# Defaults: build-pbench, build-pbench-1, 10 s a run, 1920x1080 (the stream and
#   the window; the display stays 1920x1080),
#   climb "30:4000000 30:8000000 60:8000000 60:12000000 60:16000000",
#   compare "30:4000000 30:8000000 60:12000000", clips cached in /tmp/talvek_bench_clips.
# Missing builds are configured (Release) and built with 2 jobs.

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-pbench"
BUILD1="$ROOT/build-pbench-1"
RUN_SECONDS=10
CLIMB="30:4000000 30:8000000 60:8000000 60:12000000 60:16000000"
COMPARE="30:4000000 30:8000000 60:12000000"
CLIMB_MODE="paced"
CACHE="/tmp/talvek_bench_clips"
LOOP_BENCH=0
SENDER_CHECK=0
BARE_LOOP=0
GSTREAMER=0
WIDTH=1920
HEIGHT=1080

while [[ $# -gt 0 ]]; do
    case "$1" in
        --build) BUILD="$(realpath -m "$2")"; shift 2 ;;
        --build1) BUILD1="$(realpath -m "$2")"; shift 2 ;;
        --seconds) RUN_SECONDS="$2"; shift 2 ;;
        --size) WIDTH="${2%x*}"; HEIGHT="${2#*x}"; shift 2 ;;
        --climb) CLIMB="$2"; shift 2 ;;
        --compare) COMPARE="$2"; shift 2 ;;
        --climb-burst) CLIMB_MODE="burst"; shift ;;
        --cache) CACHE="$(realpath -m "$2")"; shift 2 ;;
        --loop-bench) LOOP_BENCH=1; shift ;;
        --sender-check) SENDER_CHECK=1; shift ;;
        --bare-loop) BARE_LOOP=1; shift ;;
        --gstreamer) GSTREAMER=1; shift ;;
        -h|--help) sed -n '2,/^$/p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done

# Built every time (a no-op when nothing changed): a binary left from an
# older tree would be measured in its place.
build_targets() {
    local dir="$1" per_pass="$2"; shift 2
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVEK_BUILD_TESTS=OFF \
        -DTALVEK_PLAYER_DATAGRAMS_PER_PASS="$per_pass" >/dev/null
    cmake --build "$dir" -j2 --target "$@" >/dev/null
}
build_targets "$BUILD" 512 player sender stream_replay screen_watch stream_verdict bench_player_loop \
    bare_loop
[[ -n "$COMPARE" ]] && build_targets "$BUILD1" 1 player bench_player_loop

# The peer's packages, on a machine that lacks them (the tests never need them).
if (( GSTREAMER )) && ! command -v gst-launch-1.0 >/dev/null 2>&1; then
    echo "# installing GStreamer for the peer runs"
    SUDO=""
    [[ "$(id -u)" -eq 0 ]] || SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-x \
        >/dev/null
fi

REPLAY="$BUILD/tools/replay/stream_replay"
WATCH="$BUILD/tools/screen_watch/screen_watch"
VERDICT="$BUILD/tools/verdict/stream_verdict"
mkdir -p "$CACHE"
WORK="$(mktemp -d /tmp/bench_player_e2e.XXXXXX)"
XVFB_PID=""
PLAYER_PID=""
WATCH_PID=""
GST_PID=""
cleanup() {
    for p in "$WATCH_PID" "$PLAYER_PID" "$GST_PID" "$XVFB_PID"; do
        if [[ -n "$p" ]]; then kill "$p" 2>/dev/null || true; fi
    done
    if [[ -n "${BENCH_KEEP_WORK:-}" ]]; then echo "# files kept in $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

# --- a private display, 1920x1080 like the host's ----------------------------
# shellcheck source=scripts/lib_xvfb.sh
source "$ROOT/scripts/lib_xvfb.sh"
start_private_xvfb "$WORK/xvfb.log" -noreset || exit 1

CLK_TCK="$(getconf CLK_TCK)"
HAVE_PERF=0
if command -v perf >/dev/null 2>&1 &&
   perf stat -e syscalls:sys_enter_clock_nanosleep -x, true >/dev/null 2>&1; then
    HAVE_PERF=1
fi

# shellcheck source=scripts/lib_net.sh
source "$ROOT/scripts/lib_net.sh"
socket_drops() { local f; f="$(udp_socket_fields "$1")"; echo "${f%% *}"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
peak_rss_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

# Starts player ($1 = build dir, $2 = its host port) and waits for its socket.
start_player() {
    local build="$1" host_port="$2"
    PORT="$(free_port)"
    "$build/player/player" --port "$PORT" --parent-port "$host_port" --width "$WIDTH" \
        --height "$HEIGHT" --username bench >"$WORK/player.out" 2>"$WORK/player.err" &
    PLAYER_PID=$!
    for _ in $(seq 200); do
        grep -q "Listening on UDP port" "$WORK/player.out" 2>/dev/null && break
        sleep 0.05
    done
    grep -q "Listening on UDP port" "$WORK/player.out" ||
        { echo "player did not start:" >&2; cat "$WORK/player.err" >&2; exit 1; }
}

stop_player() {
    kill -TERM "$PLAYER_PID" 2>/dev/null || true  # SDL turns it into a quit: orderly exit
    wait "$PLAYER_PID" 2>/dev/null || true
    PLAYER_PID=""
}

# Main-thread SDL_Delay sleeps over $2 seconds: one per loop pass.
count_passes() {
    if (( HAVE_PERF )); then
        perf stat -x, -t "$1" -e syscalls:sys_enter_clock_nanosleep -o "$WORK/perf.txt" \
            sleep "$2" >/dev/null 2>&1 || true
        awk -F, '/clock_nanosleep/ { print $1; exit }' "$WORK/perf.txt"
    else
        sleep "$2"
        echo "-"
    fi
}

# --- the bare loop ------------------------------------------------------------
# $1 fps, $2 bit rate, $3 the player's result line for the same stream: the
# bare loop shows the same clip at the same rate, and the player's CPU per
# shown frame is divided by the loop's.
bare_loop_run() {
    local fps="$1" bitrate="$2" line="$3" bare
    bare="$("$BUILD/bench/bare_loop" --width "$WIDTH" --height "$HEIGHT" --fps "$fps" \
        --bitrate "$bitrate" --frames "$((fps * RUN_SECONDS))" --clip-cache "$CACHE" --paced 1)"
    awk -v line="$line" -v bare="$bare" -v secs="$RUN_SECONDS" 'BEGIN {
        n = split(line, f, " "); split(f[8], shown, "/")
        match(bare, /[0-9.]+ ms CPU a frame/); loop_ms = substr(bare, RSTART, RLENGTH) + 0
        player_ms = (shown[1] > 0 ? f[12] * secs * 1000 / shown[1] : 0)
        gsub(/\n/, "\n#   ", bare)
        printf "#   %s\n#   player %.2f ms CPU a shown frame / bare loop %.2f ms = %.2f\n",
            bare, player_ms, loop_ms, (loop_ms > 0 ? player_ms / loop_ms : 0)
    }'
}

# --- idle ----------------------------------------------------------------------
idle_run() {
    local build="$1" label="$2" t0 t1 passes
    start_player "$build" "$(free_port)"
    sleep 6  # the audio bar shows for the first 5 s
    t0="$(cpu_ticks "$PLAYER_PID")"
    passes="$(count_passes "$PLAYER_PID" 5)"
    t1="$(cpu_ticks "$PLAYER_PID")"
    printf '%-10s %8s %10.3f %10s\n' "$label" \
        "$(awk -v p="$passes" 'BEGIN { if (p == "-") print "-"; else printf "%.0f", p / 5 }')" \
        "$(awk -v d="$((t1 - t0))" -v t="$CLK_TCK" 'BEGIN { print d / t / 5 }')" \
        "$(( $(peak_rss_kib "$PLAYER_PID") / 1024 ))"
    stop_player
}

# The watcher on the window titled $1, for the run and a few seconds more.
start_watch() {
    "$WATCH" --title "$1" --seconds "$((RUN_SECONDS + 4))" >"$WORK/watch.txt" \
        2>"$WORK/watch.err" &
    WATCH_PID=$!
}

stop_watch() {
    kill "$WATCH_PID" 2>/dev/null || true
    wait "$WATCH_PID" 2>/dev/null || true
    WATCH_PID=""
}

# "frames KFRQ late" from stream_replay's summary line; fails without one.
replay_counts() {
    local summary
    summary="$(grep '^\[Replay\] done:' "$WORK/replay.out" || true)"
    [[ -n "$summary" ]] || { echo "stream_replay failed:" >&2; cat "$WORK/replay.out" >&2; return 1; }
    sed -E 's/.*done: ([0-9]+) frames.* ([0-9]+) KFRQ, ([0-9]+) late.*/\1 \2 \3/' <<<"$summary"
}

# --- one streamed run ------------------------------------------------------------
# $1 build dir, $2 fps, $3 bit rate, $4 burst or paced. Prints one result line.
stream_run() {
    local build="$1" fps="$2" bitrate="$3" burst=""
    [[ "$4" == burst ]] && burst="--burst"
    local host_port t0 t1 x0 x1 d0 d1 passes_file rss
    host_port="$(free_port)"
    start_player "$build" "$host_port"
    start_watch "Stream: bench"
    sleep 1
    d0="$(socket_drops "$PORT")"
    t0="$(cpu_ticks "$PLAYER_PID")"
    x0="$(cpu_ticks "$XVFB_PID")"
    passes_file="$WORK/passes.txt"
    ( count_passes "$PLAYER_PID" "$RUN_SECONDS" >"$passes_file" ) &
    local counter=$!
    # shellcheck disable=SC2086
    "$REPLAY" --port "$PORT" --listen-port "$host_port" --width "$WIDTH" --height "$HEIGHT" \
        --fps "$fps" --bitrate "$bitrate" --seconds "$RUN_SECONDS" $burst --clip-cache "$CACHE" \
        --log "$WORK/sends.txt" >"$WORK/replay.out" 2>&1
    t1="$(cpu_ticks "$PLAYER_PID")"
    x1="$(cpu_ticks "$XVFB_PID")"
    wait "$counter" || true
    sleep 0.5
    d1="$(socket_drops "$PORT")"
    rss="$(peak_rss_kib "$PLAYER_PID")"
    stop_watch
    stop_player

    local counts kfrq late frames droplines
    counts="$(replay_counts)" || exit 1
    read -r frames kfrq late <<<"$counts"
    droplines="$(grep -c 'Dropped frame' "$WORK/player.err" || true)"

    # Pictures seen on screen against the frames that carried them: for each
    # number the watcher saw, the latest send of that picture before it.
    local shown lat50 lat90
    read -r shown lat50 lat90 < <("$VERDICT" latency "$WORK/sends.txt" "$WORK/watch.txt")

    awk -v sent="$frames" -v fps="$fps" -v bitrate="$bitrate" -v drops="$((d1 - d0))" \
        -v droplines="$droplines" -v kfrq="$kfrq" -v late="$late" -v shown="$shown" \
        -v lat50="${lat50:-0}" -v lat90="${lat90:-0}" \
        -v passes="$(cat "$passes_file")" -v secs="$RUN_SECONDS" \
        -v pt="$((t1 - t0))" -v xt="$((x1 - x0))" -v tck="$CLK_TCK" -v rss="$rss" 'BEGIN {
            verdict = "clean"
            if (drops > 0 || droplines > 0 || kfrq > 0) verdict = "LOSS"
            else if (late > 0) verdict = "HOST-LATE"
            printf "%4d %6.1f %6d %7d %6d %5d %4d %5d/%-5d %6.1f %6.1f %8s %7.2f %5.0f%% %5d  %s\n",
                fps, bitrate / 1e6, sent, drops, droplines, kfrq, late, shown, sent,
                lat50, lat90, passes == "-" ? "-" : sprintf("%.0f", passes / secs),
                pt / tck / secs, 100 * xt / tck / secs, rss / 1024, verdict
        }'
}

# --- the same run into GStreamer ----------------------------------------------------
# $1 fps, $2 bit rate, $3 burst or paced. Prints one result line in
# stream_run's columns; drop lines and passes do not apply ("-").
gst_run() {
    local fps="$1" bitrate="$2" burst=""
    [[ "$3" == burst ]] && burst="--burst"
    local port t0 t1 x0 x1 d0 d1 rss
    port="$(free_port)"
    gst-launch-1.0 -q udpsrc address=127.0.0.1 port="$port" buffer-size=4194304 \
        caps="application/x-rtp,media=video,clock-rate=90000,encoding-name=VP8,payload=96" \
        ! rtpvp8depay ! vp8dec ! videoconvert ! ximagesink sync=false \
        >"$WORK/gst.out" 2>&1 &
    GST_PID=$!
    for _ in $(seq 100); do
        [[ -n "$(udp_socket_fields "$port")" ]] && break
        sleep 0.05
    done
    [[ -n "$(udp_socket_fields "$port")" ]] ||
        { echo "gst-launch-1.0 did not open its socket:" >&2; cat "$WORK/gst.out" >&2; exit 1; }
    # Its window opens with the first picture, so the watcher starts first.
    start_watch "gst-launch-1.0"
    sleep 1
    d0="$(socket_drops "$port")"
    t0="$(cpu_ticks "$GST_PID")"
    x0="$(cpu_ticks "$XVFB_PID")"
    # shellcheck disable=SC2086
    "$REPLAY" --rtp --port "$port" --width "$WIDTH" --height "$HEIGHT" --fps "$fps" \
        --bitrate "$bitrate" --seconds "$RUN_SECONDS" $burst --clip-cache "$CACHE" \
        --log "$WORK/sends.txt" >"$WORK/replay.out" 2>&1
    t1="$(cpu_ticks "$GST_PID")"
    x1="$(cpu_ticks "$XVFB_PID")"
    sleep 0.5
    d1="$(socket_drops "$port")"
    rss="$(peak_rss_kib "$GST_PID")"
    stop_watch
    kill -INT "$GST_PID" 2>/dev/null || true
    wait "$GST_PID" 2>/dev/null || true
    GST_PID=""

    local counts frames kfrq late shown lat50 lat90
    counts="$(replay_counts)" || exit 1
    read -r frames kfrq late <<<"$counts"
    read -r shown lat50 lat90 < <("$VERDICT" latency "$WORK/sends.txt" "$WORK/watch.txt")
    awk -v sent="$frames" -v fps="$fps" -v bitrate="$bitrate" -v drops="$((d1 - d0))" \
        -v kfrq="$kfrq" -v late="$late" -v shown="$shown" -v lat50="${lat50:-0}" \
        -v lat90="${lat90:-0}" -v secs="$RUN_SECONDS" -v pt="$((t1 - t0))" -v xt="$((x1 - x0))" -v tck="$CLK_TCK" \
        -v rss="$rss" 'BEGIN {
            verdict = "clean"
            if (drops > 0) verdict = "LOSS"
            else if (late > 0) verdict = "HOST-LATE"
            printf "%4d %6.1f %6d %7d %6s %5d %4d %5d/%-5d %6.1f %6.1f %8s %7.2f %5.0f%% %5d  %s\n",
                fps, bitrate / 1e6, sent, drops, "-", kfrq, late, shown, sent, lat50, lat90, "-",
                pt / tck / secs, 100 * xt / tck / secs, rss / 1024, verdict
        }'
}

# The player's line ($1) against GStreamer's ($2): latency, CPU and peak RSS.
peer_ratios() {
    awk -v a="$1" -v b="$2" 'BEGIN {
        split(a, p, " "); split(b, g, " ")
        # Both draw through the same X server: its share counts too.
        pc = p[12] + p[13] / 100; gc = g[12] + g[13] / 100
        printf "#   player / GStreamer: median latency %.2f, 90th percentile %.2f, CPU %.2f " \
               "(%.2f with the X server), RSS %.2f\n",
            (g[9] > 0 ? p[9] / g[9] : 0), (g[10] > 0 ? p[10] / g[10] : 0),
            (g[12] > 0 ? p[12] / g[12] : 0), (gc > 0 ? pc / gc : 0),
            (g[14] > 0 ? p[14] / g[14] : 0)
    }'
}

header() {
    printf '%4s %6s %6s %7s %6s %5s %4s %11s %6s %6s %8s %7s %6s %5s  %s\n' \
        fps Mbit/s frames sockdrp dropln KFRQ late shown/sent lat50 lat90 passes/s \
        cpu_s/s Xvfb RSSMi verdict
}

echo "# player end-to-end: ${WIDTH}x${HEIGHT} VP8, ${RUN_SECONDS} s a run; Xvfb $DISPLAY" \
     "(pid $XVFB_PID)"
echo "# $(nproc) CPUs; load average at start: $(cut -d' ' -f1-3 /proc/loadavg);" \
     "socket buffer rmem_default $(cat /proc/sys/net/core/rmem_default) B;" \
     "passes counted with perf: $([[ $HAVE_PERF == 1 ]] && echo yes || echo no)"

# Encoding is not part of any measurement: every clip is made first.
configs="$(tr ' ' '\n' <<<"$CLIMB $COMPARE" | sort -u | tr '\n' ' ')"
for c in $configs; do
    "$REPLAY" --encode-only --width "$WIDTH" --height "$HEIGHT" --fps "${c%%:*}" \
        --bitrate "${c##*:}" --clip-cache "$CACHE" | sed "s/^/# ${c%%:*} fps ${c##*:} bit\/s: /"
done
echo

echo "## idle: window open, no datagrams (after the audio bar has hidden)"
printf '%-10s %8s %10s %10s\n' build passes/s cpu_s/s RSSMiB
idle_run "$BUILD" "512/pass"
[[ -n "$COMPARE" ]] && idle_run "$BUILD1" "1/pass"
echo

echo "## climb, $(basename "$BUILD") (512 datagrams per pass), frames $CLIMB_MODE"
header
best=""
for c in $CLIMB; do
    line="$(stream_run "$BUILD" "${c%%:*}" "${c##*:}" "$CLIMB_MODE")"
    echo "$line"
    (( BARE_LOOP )) && bare_loop_run "${c%%:*}" "${c##*:}" "$line"
    if (( GSTREAMER )); then
        gst_line="$(gst_run "${c%%:*}" "${c##*:}" "$CLIMB_MODE")"
        echo "gst: $gst_line"
        peer_ratios "$line" "$gst_line"
    fi
    [[ "$line" == *" clean" ]] && best="${c%%:*} fps at $(awk -v b="${c##*:}" 'BEGIN { print b / 1e6 }') Mbit/s"
done
echo "# highest clean: ${best:-none}"
echo

if [[ -n "$COMPARE" ]]; then
    echo "## frames in bursts: 512 datagrams per pass against one ($(basename "$BUILD1"))"
    header
    for c in $COMPARE; do
        printf '512: '; stream_run "$BUILD" "${c%%:*}" "${c##*:}" burst
        printf '  1: '; stream_run "$BUILD1" "${c%%:*}" "${c##*:}" burst
    done
    echo
fi

if (( LOOP_BENCH )); then
    echo "## bench_player_loop (render() cost, loop passes in-process)"
    "$BUILD/bench/bench_player_loop" --clip-cache="$CACHE"
    [[ -n "$COMPARE" ]] && "$BUILD1/bench/bench_player_loop" --clip-cache="$CACHE" \
        --benchmark_filter=loop_
    echo
fi

if (( SENDER_CHECK )); then
    echo "## the sender's own real-time encoder with the same picture, ${WIDTH}x${HEIGHT} at 30 fps"
    "$REPLAY" --write-y4m "$WORK/clip.y4m" --width "$WIDTH" --height "$HEIGHT" --fps 30 --pictures 60
    "$BUILD/tools/sender/sender" player --port "$(free_port)" --width "$WIDTH" --height "$HEIGHT" \
        --fps 30 --bitrate 8000000 --seconds 5 --burst --input "$WORK/clip.y4m" --quiet |
        grep 'done:' | sed 's/^/# /'
    echo "# (150 frames due in 5 s: the time above says how far behind real time it fell)"
    echo
fi

echo "# columns: sockdrp = datagrams dropped at player's socket; dropln = drop lines;"
echo "#   shown/sent = pictures seen on screen / frames sent; lat50/lat90 = ms from a frame's"
echo "#   first datagram to its picture on screen; passes/s = main-loop passes a second;"
echo "#   cpu_s/s = player CPU seconds per second; Xvfb = X server CPU; RSSMi = peak RSS MiB"
echo "# load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
