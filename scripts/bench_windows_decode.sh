#!/usr/bin/env bash
# player's decode path on the same clips through the Linux build (Debian's
# FFmpeg) and the Windows build (the static FFmpeg in player.exe, nasm on)
# under wine: bench/decode_clip, both variants (plain libavcodec decode and
# conversion, and the receiver's whole decode path). Runs alternate between
# the two builds, ROUNDS times; the table gives medians and the ratio
# Windows / Linux of frames per second (1.0 = as fast).
#
#   scripts/bench_windows_decode.sh [ROUNDS]    (default 3)
#
# Needs the Linux build in build/ (with benchmarks) and scripts/windows_build.sh's
# tree in build-windows/build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${1:-3}
linux_build=$root/build
windows_build=$root/build-windows/build

cmake --build "$linux_build" -j "${JOBS:-2}" --target decode_clip stream_replay >/dev/null
cmake --build "$windows_build" -j "${JOBS:-2}" --target decode_clip >/dev/null
source scripts/lib_wine.sh
use_wine_prefix "${TALVEK_WINEPREFIX:-$root/build-windows/wine-prefix}"
trap stop_wine EXIT
clips=${TALVEK_BENCH_CLIPS:-/tmp/talvek_bench_clips}
mkdir -p "$clips"

# frames/s of one variant in one run's output
rate() { sed -n "s/^$1 [0-9]* frames, \([0-9.]*\) frames\/s.*/\1/p"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "| clip | variant | Linux f/s | Windows (wine) f/s | ratio |"
echo "|---|---|---|---|---|"
for codec in vp8 h264; do
    for size in 1280x720 1920x1080; do
        w=${size%x*} h=${size#*x}
        clip=$("$linux_build/tools/replay/stream_replay" --port 9 --encode-only --clip-cache "$clips" \
            --codec "$codec" --width "$w" --height "$h" --pictures 120 2>/dev/null |
            sed -n 's/^\[Replay\] cache file: //p')
        [[ -f "$clip" ]] || { echo "no clip for $codec $size" >&2; exit 1; }
        declare -A runs=()
        for r in $(seq "$rounds"); do
            out=$("$linux_build/bench/decode_clip" "$clip" 2>/dev/null)
            runs[linux_plain]+="$(rate plain <<<"$out") "
            runs[linux_receiver]+="$(rate receiver <<<"$out") "
            out=$("$WINE" "$windows_build/bench/decode_clip.exe" "$clip" 2>/dev/null | tr -d '\r')
            runs[windows_plain]+="$(rate plain <<<"$out") "
            runs[windows_receiver]+="$(rate receiver <<<"$out") "
        done
        for variant in plain receiver; do
            l=$(tr ' ' '\n' <<<"${runs[linux_$variant]}" | grep . | median)
            wv=$(tr ' ' '\n' <<<"${runs[windows_$variant]}" | grep . | median)
            ratio=$(awk -v a="$wv" -v b="$l" 'BEGIN { printf "%.2f", a / b }')
            echo "| $codec $size | $variant | $l | $wv | $ratio |"
        done
        unset runs
    done
done
