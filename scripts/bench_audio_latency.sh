#!/usr/bin/env bash
# End-to-end latency of player's screen audio: how long a packet waits
# between arriving and being played, at the start of a run and as the run
# goes on, for a host whose clock runs 0.5 % fast (--rate 1.005) and, beside
# it on the same machine, one whose clock is right (--rate 1.0).
#
# player has no jitter buffer and no latency bound: every packet is queued
# on arrival and the device plays the queue in real time, so sound that
# arrives faster than it plays piles up as delay. The host is
# bench/audio_latency (a 1 kHz burst at the start of every second, sent as
# the sender sends); what player plays goes to SDL's disk audio driver, whose
# file the host watches on its own clock. The disk driver paces itself with
# sleeps, a little slower than real time; the rate-1.0 run shows its share.
#
# Usage: scripts/bench_audio_latency.sh [--minutes M] [--build DIR]
# Defaults: 10 minutes, build-pbench (configured Release and built if missing).

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-pbench"
MINUTES=10
while (($#)); do
    case "$1" in
        --minutes) MINUTES="$2"; shift 2 ;;
        --build) BUILD="$2"; shift 2 ;;
        *) echo "usage: $0 [--minutes M] [--build DIR]" >&2; exit 2 ;;
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

# One player per rate, both running at once so the machine's load is the
# same for the two.
run_one() {
    local rate="$1" port played
    port="$(free_port)"
    played="$WORK/played_$rate.raw"
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$played" \
        "$BUILD/player/player" --port "$port" --username "Latency $rate" --width 320 \
        --height 180 --has-audio >"$WORK/player_$rate.log" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do
        grep -q "Listening on UDP port" "$WORK/player_$rate.log" 2>/dev/null && break
        sleep 0.1
    done
    "$BUILD/bench/audio_latency" --port "$port" --file "$played" --rate "$rate" \
        --seconds "$((MINUTES * 60))" --every 60 >"$WORK/result_$rate.txt" \
        2>"$WORK/host_$rate.log" &
    PIDS+=($!)
    echo $! >"$WORK/host_$rate.pid"
}

echo "[bench] $MINUTES min of screen audio at host clock rates 1.0 and 1.005"
run_one 1.0
run_one 1.005
status=0
for rate in 1.0 1.005; do
    wait "$(cat "$WORK/host_$rate.pid")" || status=1
done
for rate in 1.0 1.005; do
    echo
    cat "$WORK/result_$rate.txt"
done
if [ "$status" -ne 0 ]; then
    echo "[bench] a run failed; host and player logs:" >&2
    cat "$WORK"/host_*.log "$WORK"/player_*.log >&2
fi
exit "$status"
