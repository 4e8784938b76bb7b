#!/usr/bin/env bash
# End-to-end rate check of sender -> preview over loopback.
#
# For each frame rate the script starts preview (under Xvfb when no DISPLAY
# is set), streams raw test-pattern frames at that rate with the sender for
# a fixed time and reads the "drops" column of preview's socket in
# /proc/net/udp before and after. The sender loses nothing on its side, so
# zero drops, zero send failures and an empty receive queue at the end mean
# preview received every datagram and so completed every frame. Datagrams
# lost before they reach any socket (the loopback backlog, counted per CPU
# in /proc/net/softnet_stat, for the whole machine) are watched as well. A
# run in which the sender itself could not keep the rate counts as a
# failure too.
#
# It climbs the rate list, stops at the first failing rate and then bisects
# between the last clean rate and that one. It also prints the receive
# buffer the system grants preview's 4 MiB request (bench/rcvbuf_probe).
#
# Usage: scripts/bench_preview_e2e.sh [--build DIR] [--rates "10 20 ..."]
#            [--seconds S] [--bisect N] [--width W] [--height H]
#            [--warmup S] [--all]
# Defaults: build-bench, "10 20 30 45 60 90 120", 10 s, 2 bisection steps,
# 1280x720, 1 s of warm-up at 5 fps before each measured run (0: none). --all runs every listed rate (no stop, no bisection), to see how
# repeatable a failure is. The build directory is configured (Release) and
# built when the programs are missing.

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-bench"
RATES="10 20 30 45 60 90 120"
SECONDS_PER_RATE=10
BISECT_STEPS=2
RUN_ALL=0
WARMUP_SECONDS=1
WIDTH=1280
HEIGHT=720

while [[ $# -gt 0 ]]; do
    case "$1" in
        --build) BUILD="$(realpath -m "$2")"; shift 2 ;;
        --rates) RATES="$2"; shift 2 ;;
        --seconds) SECONDS_PER_RATE="$2"; shift 2 ;;
        --bisect) BISECT_STEPS="$2"; shift 2 ;;
        --width) WIDTH="$2"; shift 2 ;;
        --height) HEIGHT="$2"; shift 2 ;;
        --all) RUN_ALL=1; shift ;;
        --warmup) WARMUP_SECONDS="$2"; shift 2 ;;
        -h|--help) sed -n '2,/^$/p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done

PREVIEW="$BUILD/preview/preview"
SENDER="$BUILD/tools/sender/sender"
PROBE="$BUILD/bench/rcvbuf_probe"

# Built every time (a no-op when nothing changed): a binary left from an
# older tree would be measured in its place.
[[ -f "$BUILD/CMakeCache.txt" ]] ||
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTALVEK_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target preview sender rcvbuf_probe >/dev/null

WORK="$(mktemp -d /tmp/bench_preview_e2e.XXXXXX)"
XVFB_PID=""
PREVIEW_PID=""

cleanup() {
    if [[ -n "$PREVIEW_PID" ]]; then kill "$PREVIEW_PID" 2>/dev/null || true; fi
    if [[ -n "$XVFB_PID" ]]; then kill "$XVFB_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

# --- display ---------------------------------------------------------------
if [[ -z "${DISPLAY:-}" ]]; then
    # shellcheck source=scripts/lib_xvfb.sh
    source "$ROOT/scripts/lib_xvfb.sh"
    start_private_xvfb "$WORK/xvfb.log" || exit 1
    DISPLAY_NOTE="Xvfb $DISPLAY started by this script (pid $XVFB_PID)"
else
    DISPLAY_NOTE="existing DISPLAY=$DISPLAY"
fi

# --- helpers ---------------------------------------------------------------
CLK_TCK="$(getconf CLK_TCK)"

# shellcheck source=scripts/lib_net.sh
source "$ROOT/scripts/lib_net.sh"
# "drops rx_queue_bytes" of the socket bound to 127.0.0.1:port, or nothing.
socket_counters() { udp_socket_fields "$1"; }

# Datagrams the kernel dropped at the per-CPU backlog, all devices, all CPUs.
backlog_drops() {
    local total=0 _ dropped
    while read -r _ dropped _; do total=$((total + 16#$dropped)); done </proc/net/softnet_stat
    echo "$total"
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }


# One run at $1 fps, in this shell so that cleanup knows preview's pid.
# Prints one result line:
#   fps frames sent failures drops backlog queued elapsed achieved preview_cpu sender_cpu
#   xvfb_cpu warm_drops verdict
run_rate() {
    local fps="$1" port log out
    port="$(free_port)"
    log="$WORK/preview_$fps.log"
    "$PREVIEW" --port "$port" --width "$WIDTH" --height "$HEIGHT" --title bench >"$log" 2>&1 &
    PREVIEW_PID=$!
    for _ in $(seq 100); do
        if grep -q "Ready to receive" "$log" && [[ -n "$(socket_counters "$port")" ]]; then break; fi
        sleep 0.05
    done
    if [[ -z "$(socket_counters "$port")" ]]; then
        echo "preview did not open port $port:" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.5  # let the window settle before the stream starts

    # Warm-up: the first frames preview draws cost far more than later ones
    # (the renderer sets itself up on first use), long enough to overrun the
    # socket buffer at any but the lowest rates. A few slow frames first, so
    # the measured run shows the sustained rate; their drops are reported
    # on their own. The measured run numbers its frames above the warm-up's,
    # or preview would take them for stale ones.
    local warm_drops=0 w0 w1
    if [[ "$WARMUP_SECONDS" != 0 ]]; then
        read -r w0 _ < <(socket_counters "$port")
        "$SENDER" preview --port "$port" --width "$WIDTH" --height "$HEIGHT" --fps 5 \
            --seconds "$WARMUP_SECONDS" --quiet >"$WORK/warmup_$fps.out" 2>&1 || true
        sleep 0.3
        read -r w1 _ < <(socket_counters "$port")
        warm_drops=$((w1 - w0))
    fi

    local drops_before b0 b1 p0 x0=0 p1 x1=0
    read -r drops_before _ < <(socket_counters "$port")
    b0="$(backlog_drops)"
    p0="$(cpu_ticks "$PREVIEW_PID")"
    [[ -n "$XVFB_PID" ]] && x0="$(cpu_ticks "$XVFB_PID")"

    out="$WORK/sender_$fps.out"
    # bash's own time: the time package is not on every machine.
    local TIMEFORMAT="sender_cpu_seconds: %U %S"
    { time "$SENDER" preview --port "$port" \
        --width "$WIDTH" --height "$HEIGHT" --fps "$fps" --seconds "$SECONDS_PER_RATE" \
        --first-frame 1000000 --quiet >"$out" 2>&1 || true; } 2>>"$out"

    sleep 0.5  # preview drains what is still queued
    local drops_after queued
    read -r drops_after queued < <(socket_counters "$port")
    b1="$(backlog_drops)"
    p1="$(cpu_ticks "$PREVIEW_PID")"
    [[ -n "$XVFB_PID" ]] && x1="$(cpu_ticks "$XVFB_PID")"
    kill "$PREVIEW_PID" 2>/dev/null || true
    wait "$PREVIEW_PID" 2>/dev/null || true
    PREVIEW_PID=""

    local summary frames sent failures elapsed scpu
    summary="$(grep '\[Sender\] done:' "$out" || true)"
    if [[ -z "$summary" ]]; then
        echo "sender gave no summary at $fps fps:" >&2
        cat "$out" >&2
        exit 1
    fi
    frames="$(sed -E 's/.*done: ([0-9]+) frames.*/\1/' <<<"$summary")"
    sent="$(sed -E 's/.* ([0-9]+) sent \(.*/\1/' <<<"$summary")"
    failures="$(sed -E 's/.* ([0-9]+) send failures.*/\1/' <<<"$summary")"
    elapsed="$(sed -E 's/.* in ([0-9.]+) s$/\1/' <<<"$summary")"
    scpu="$(awk '/sender_cpu_seconds:/ { print $2 + $3 }' "$out")"

    awk -v fps="$fps" -v frames="$frames" -v sent="$sent" -v failures="$failures" \
        -v drops="$((drops_after - drops_before))" -v backlog="$((b1 - b0))" \
        -v queued="$queued" -v elapsed="$elapsed" \
        -v pt="$((p1 - p0))" -v xt="$((x1 - x0))" -v scpu="$scpu" -v tck="$CLK_TCK" \
        -v want="$SECONDS_PER_RATE" -v xvfb="${XVFB_PID:-}" -v warm="$warm_drops" 'BEGIN {
            verdict = "clean"
            if (drops > 0) verdict = "DROPS"
            else if (backlog > 0) verdict = "BACKLOG-DROPS"
            else if (failures > 0) verdict = "SEND-FAIL"
            else if (queued > 0) verdict = "NOT-DRAINED"
            else if (elapsed > want * 1.05) verdict = "SENDER-SLOW"
            xcpu = xvfb == "" ? "-" : sprintf("%.0f", 100 * xt / tck / elapsed)
            printf "%s %d %d %d %d %d %d %.2f %.1f %.0f %.0f %s %d %s\n", fps, frames, sent,
                   failures, drops, backlog, queued, elapsed, frames / elapsed,
                   100 * pt / tck / elapsed, 100 * scpu / elapsed, xcpu, warm, verdict
        }'
}

# --- receive buffer --------------------------------------------------------
"$PROBE" >"$WORK/probe.txt"
probe() { awk -v k="$1:" '$1 == k { print $2 }' "$WORK/probe.txt"; }

DATAGRAMS_PER_FRAME=$(( (WIDTH * HEIGHT * 4 + 1399) / 1400 ))
BYTES_PER_FRAME=$(( WIDTH * HEIGHT * 4 ))

echo "# preview end-to-end rate check: ${WIDTH}x${HEIGHT} raw BGRA, $BYTES_PER_FRAME bytes" \
     "= $DATAGRAMS_PER_FRAME datagrams a frame, ${SECONDS_PER_RATE} s a rate"
echo "# $DISPLAY_NOTE; $(nproc) CPUs; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# receive buffer: requested $(probe requested_bytes) B, granted SO_RCVBUF" \
     "$(probe granted_so_rcvbuf) B (rmem_max $(probe rmem_max), rmem_default $(probe rmem_default));" \
     "holds $(probe datagrams_held) full datagrams" \
     "(~$(probe buffer_bytes_per_datagram) B of buffer each) =" \
     "$(awk -v h="$(probe datagrams_held)" -v d="$DATAGRAMS_PER_FRAME" 'BEGIN { printf "%.2f", h / d }')" \
     "frames of ${WIDTH}x${HEIGHT}"
echo

# --- rates -----------------------------------------------------------------
RESULTS="$WORK/results.txt"
: >"$RESULTS"
printf '%-5s %-6s %-9s %-4s %-7s %-7s %-6s %-8s %-8s %-6s %-7s %-6s %-5s %-6s %s\n' \
    fps frames datagrams fail drops backlog queued elapsed achieved "MB/s" preview sender Xvfb \
    warmup verdict
show() {
    # shellcheck disable=SC2086
    set -- $1
    printf '%-5s %-6s %-9s %-4s %-7s %-7s %-6s %-8s %-8s %-6.0f %-7s %-6s %-5s %-6s %s\n' \
        "$1" "$2" "$3" "$4" "$5" "$6" "$7" "${8}s" "$9" \
        "$(awk -v f="$9" -v b="$BYTES_PER_FRAME" 'BEGIN { print f * b / 1e6 }')" \
        "${10}%" "${11}%" "${12}$([[ ${12} == - ]] || echo %)" "${13}" "${14}"
}

best=""
first_bad=""
for fps in $RATES; do
    run_rate "$fps" >"$WORK/line"
    line="$(cat "$WORK/line")"
    echo "$line" >>"$RESULTS"
    show "$line"
    if [[ "$line" == *" clean" ]]; then
        [[ -n "$first_bad" ]] || best="$fps"
    else
        [[ -n "$first_bad" ]] || first_bad="$fps"
        (( RUN_ALL )) || break
    fi
done

if (( ! RUN_ALL )) && [[ -n "$first_bad" && -n "$best" ]]; then
    lo="$best"
    hi="$first_bad"
    for _ in $(seq "$BISECT_STEPS"); do
        mid=$(( (lo + hi) / 2 ))
        if (( mid <= lo || mid >= hi )); then break; fi
        run_rate "$mid" >"$WORK/line"
        line="$(cat "$WORK/line")"
        echo "$line" >>"$RESULTS"
        show "$line"
        if [[ "$line" == *" clean" ]]; then lo="$mid"; else hi="$mid"; fi
    done
    best="$lo"
    first_bad="$hi"
fi

echo
echo "# columns: datagrams = sent by the sender; fail = send failures; drops = preview socket"
echo "#   drops during the run; backlog = datagrams dropped before any socket, whole machine;"
echo "#   queued = bytes left unread 0.5 s after the stream; elapsed ="
echo "#   sender's send time; achieved = frames / elapsed; MB/s = achieved * frame bytes / 10^6;"
echo "#   preview/sender/Xvfb = CPU time over elapsed (100% = one CPU); warmup = drops during"
echo "#   the ${WARMUP_SECONDS} s at 5 fps before the measured run (not part of the verdict)"
if [[ -n "$best" ]]; then
    if [[ -n "$first_bad" ]]; then
        echo "# highest clean rate: $best fps (lowest failing rate tried: $first_bad fps)"
        (( RUN_ALL )) && echo "#   (with --all: highest rate clean in the climb before the first failure)"
    else
        echo "# highest clean rate: $best fps (every rate tried was clean)"
    fi
else
    echo "# no clean rate: the lowest rate tried (${first_bad}) already failed"
fi
echo "# load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
