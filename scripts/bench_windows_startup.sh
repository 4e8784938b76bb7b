#!/usr/bin/env bash
# Start-up time of each program, Linux build against the Windows build under
# wine, in the same run on the same private Xvfb: the time from starting the
# process to its "ready" line (player: "Listening on UDP port", preview:
# "Ready to receive frames"), then the window is closed by ending the
# process. The first wine start also starts the wineserver; it is reported
# apart from the warm starts.
#
#   scripts/bench_windows_startup.sh [RUNS [WINDOWS_DIR [LINUX_BUILD_DIR]]]
#                                    (defaults 5, build-windows, build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}
windows_dir=${2:-build-windows}
linux_build=${3:-build}

source scripts/lib_xvfb.sh
source scripts/lib_wine.sh
use_wine_prefix "${TALVEK_WINEPREFIX:-$root/build-windows/wine-prefix}"
work=$(mktemp -d)
cleanup() {
    stop_wine
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
start_private_xvfb "$work/xvfb.log"

# Seconds from start to the ready line of one run: start_once LINE COMMAND...
start_once() {
    local line=$1
    shift
    local out=$work/out
    : >"$out"
    local t0
    t0=$(date +%s%N)
    "$@" >"$out" 2>/dev/null &
    local pid=$!
    local i
    for i in $(seq 3000); do
        grep -q "$line" "$out" && break
        sleep 0.005
    done
    local t1
    t1=$(date +%s%N)
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
    grep -q "$line" "$out" || { echo "no ready line from $*" >&2; return 1; }
    echo $(((t1 - t0) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

port=47100
measure() {
    local name=$1 line=$2
    shift 2
    local times=()
    local r
    for r in $(seq "$runs"); do
        port=$((port + 1))
        times+=("$(start_once "$line" "$@" --port "$port")")
    done
    printf '%s\n' "${times[@]}" | median
}

# The cold start: wineserver and wine's desktop process come up with it.
port=$((port + 1))
cold=$(start_once "Ready to receive frames" "$WINE" "$windows_dir/preview.exe" --port "$port")

echo "| program | Linux, median ms | Windows under wine, median ms | ratio |"
echo "|---|---|---|---|"
for program in preview player; do
    case $program in
    preview) line="Ready to receive frames" ;;
    player) line="Listening on UDP port" ;;
    esac
    linux=$(SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy measure "$program" "$line" \
        "$linux_build/$program/$program")
    windows=$(SDL_AUDIODRIVER=dummy measure "$program" "$line" "$WINE" \
        "$windows_dir/$program.exe")
    ratio=$(awk -v w="$windows" -v l="$linux" 'BEGIN { printf "%.1f", w / l }')
    echo "| $program | $linux | $windows | $ratio |"
done
echo "first wine start (wineserver cold, preview.exe): $cold ms; $runs runs each"
