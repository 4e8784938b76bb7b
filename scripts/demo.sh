#!/usr/bin/env bash
# The live demo: preview showing the sender's raw test picture, then player
# watching the sender's VP8 stream of it, a few seconds each. Without a
# display it runs under Xvfb and saves a screenshot of each window.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=build scripts/setup.sh  # the programs below run from build

BIN=build
OUT=${OUT:-$(pwd)/out}
SECONDS_TO_RUN=${SECONDS_TO_RUN:-5}
mkdir -p "$OUT"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
    # -displayfd lets Xvfb pick a free display and tell us which.
    exec 3< <(Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp -noreset 2>/dev/null)
    pids+=($!)
    read -r number <&3
    export DISPLAY=":$number"
    headless=1
    echo "[demo] no display: running under Xvfb on $DISPLAY"
else
    headless=0
fi

# A UDP port nobody holds: /proc/net/udp lists the bound ones in hex.
# shellcheck source=scripts/lib_net.sh
source scripts/lib_net.sh

# Waits for a window with this exact title and prints its id.
window_id() {
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

echo "== preview: raw 1280x720 test picture at 30 fps for ${SECONDS_TO_RUN} s"
port=$(free_port)
"$BIN/preview/preview" --port "$port" > >(tee "$OUT/preview.log") 2>&1 &
pids+=($!)
preview_pid=$!
# Send only once the port is bound, or the first frames go nowhere.
for _ in $(seq 100); do grep -q "Ready to receive" "$OUT/preview.log" 2>/dev/null && break; sleep 0.1; done
win=$(window_id "Stream Preview")
"$BIN/tools/sender/sender" preview --port "$port" --fps 30 --seconds "$SECONDS_TO_RUN"
if [ "$headless" -eq 1 ]; then
    import -window "$win" "$OUT/preview.png"
    echo "[demo] screenshot of the preview window: $OUT/preview.png"
fi
# SDL turns SIGTERM into a quit request: the same orderly shutdown as closing the window.
kill -TERM "$preview_pid"
wait "$preview_pid"
echo "[demo] preview exited with status $?"

# A WAV header for raw 48 kHz stereo 16-bit samples of $1 bytes.
le() { local v=$1 n=$2; for ((i = 0; i < n; i++)); do printf "\\$(printf %03o $((v >> (8 * i) & 255)))"; done; }
wav_header() {
    printf 'RIFF'; le $(($1 + 36)) 4; printf 'WAVEfmt '; le 16 4; le 1 2; le 2 2
    le 48000 4; le 192000 4; le 4 2; le 16 2; printf 'data'; le "$1" 4
}

echo "== player: VP8 1280x720 test stream with a stepped test tone, 30 fps for ${SECONDS_TO_RUN} s"
port=$(free_port)
reply_port=$(free_port)
if [ "$headless" -eq 1 ]; then
    # No sound card either: SDL's disk driver writes what the player plays.
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$OUT/player-audio.raw"
fi
"$BIN/player/player" --port "$port" --parent-port "$reply_port" --username Demo \
    --streamer-id 7 --has-audio > >(tee "$OUT/player.log") 2>&1 &
pids+=($!)
player_pid=$!
for _ in $(seq 100); do grep -q "Listening on UDP port" "$OUT/player.log" 2>/dev/null && break; sleep 0.1; done
win=$(window_id "Stream: Demo")
"$BIN/tools/sender/sender" player --port "$port" --listen-port "$reply_port" --codec vp8 \
    --fps 30 --seconds "$SECONDS_TO_RUN" --audio
if [ "$headless" -eq 1 ]; then
    import -window "$win" "$OUT/player.png"
    echo "[demo] screenshot of the player window: $OUT/player.png"
fi
kill -TERM "$player_pid"
wait "$player_pid"
echo "[demo] player exited with status $?"
if [ "$headless" -eq 1 ] && [ -f "$OUT/player-audio.raw" ]; then
    bytes=$(stat -c %s "$OUT/player-audio.raw")
    { wav_header "$bytes"; cat "$OUT/player-audio.raw"; } > "$OUT/player-audio.wav"
    rm -f "$OUT/player-audio.raw"
    echo "[demo] what the player played: $OUT/player-audio.wav"
fi
