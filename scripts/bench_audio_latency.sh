#!/usr/bin/env bash
# End-to-end latency of player's screen audio: how long a packet waits
# between arriving and being played, at the start of a run and as the run
# goes on, for a host whose clock runs 0.5 % fast (--rate 1.005) and, beside
# it on the same machine, one whose clock is right (--rate 1.0). With
# --burst-at S a third run beside them (rate 1.0) gets the next 2 s of
# packets at once at S seconds, as after a network stall.
#
# player queues every packet on arrival (no jitter buffer) and bounds what
# the queue holds: sound that arrives faster than the device plays it is
# played slightly faster, and a burst is dropped. The host is
# bench/audio_latency (a 1 kHz burst at the start of every second, its
# number after it, sent as the sender sends); what player plays goes to
# SDL's disk audio driver, whose file the host watches on its own clock. The
# disk driver paces itself with sleeps, a little slower than real time (more
# so when the machine is busy); the rate-1.0 run shows its share.
#
# Usage: scripts/bench_audio_latency.sh [--minutes M] [--burst-at S] [--build DIR]
# Defaults: 10 minutes, no burst run, build-pbench (configured Release and
# built if missing).

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-pbench"
MINUTES=10
BURST_AT=""
while (($#)); do
    case "$1" in
        --minutes) MINUTES="$2"; shift 2 ;;
        --burst-at) BURST_AT="$2"; shift 2 ;;
        --build) BUILD="$2"; shift 2 ;;
        *) echo "usage: $0 [--minutes M] [--burst-at S] [--build DIR]" >&2; exit 2 ;;
    esac
done

if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" -j 2 --target player audio_latency >/dev/null

WORK="$(mktemp -d /tmp/talvek_audio_latency.XXXXXX)"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# One player per run, all running at once so the machine's load is the
# same for each. run_one NAME RATE [host option...]
run_one() {
    local name="$1" rate="$2" port played
    shift 2
    port="$(free_port)"
    played="$WORK/played_$name.raw"
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$played" \
        "$BUILD/player/player" --port "$port" --username "Latency $name" --width 320 \
        --height 180 --has-audio >"$WORK/player_$name.log" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do
        grep -q "Listening on UDP port" "$WORK/player_$name.log" 2>/dev/null && break
        sleep 0.1
    done
    "$BUILD/bench/audio_latency" --port "$port" --file "$played" --rate "$rate" \
        --seconds "$((MINUTES * 60))" --every 60 "$@" >"$WORK/result_$name.txt" \
        2>"$WORK/host_$name.log" &
    PIDS+=($!)
    echo $! >"$WORK/host_$name.pid"
}

RUNS=(1.0 1.005)
if [ -n "$BURST_AT" ]; then
    echo "[bench] $MINUTES min of screen audio at host clock rates 1.0 and 1.005," \
        "and 1.0 with a 2 s burst at $BURST_AT s"
    RUNS+=(burst)
else
    echo "[bench] $MINUTES min of screen audio at host clock rates 1.0 and 1.005"
fi
run_one 1.0 1.0
run_one 1.005 1.005
if [ -n "$BURST_AT" ]; then
    run_one burst 1.0 --burst-at "$BURST_AT" --burst-seconds 2
fi
status=0
for name in "${RUNS[@]}"; do
    wait "$(cat "$WORK/host_$name.pid")" || status=1
done
for name in "${RUNS[@]}"; do
    echo
    cat "$WORK/result_$name.txt"
done
if [ "$status" -ne 0 ]; then
    echo "[bench] a run failed; host and player logs:" >&2
    cat "$WORK"/host_*.log "$WORK"/player_*.log >&2
fi
exit "$status"
