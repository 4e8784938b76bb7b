#!/usr/bin/env bash
# The cost of one recv of a raw preview datagram, Linux against Windows under
# wine, in the same run: bench/recv_cost drains a burst of one 1280x720 raw
# frame (2634 datagrams) sent by the sender, ROUNDS times each, alternating.
# The table gives the median time a datagram and the ratio; preview must
# read a frame whole within 100 ms, so 100 ms / 2634 = 38 us is the most a
# read may cost at 1280x720.
#
#   scripts/bench_windows_recv.sh [ROUNDS]    (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${1:-5}
linux_build=$root/build
windows_build=$root/build-windows/build

cmake --build "$linux_build" -j "${JOBS:-2}" --target recv_cost sender >/dev/null
cmake --build "$windows_build" -j "${JOBS:-2}" --target recv_cost >/dev/null
source scripts/lib_wine.sh
use_wine_prefix "${TALVEK_WINEPREFIX:-$root/build-windows/wine-prefix}"
trap stop_wine EXIT
out=$(mktemp)

# Microseconds a datagram of one run: one_run COMMAND...
port=47300
one_run() {
    port=$((port + 1))
    : >"$out"
    "$@" "$port" >"$out" 2>/dev/null &
    local pid=$! i
    for i in $(seq 500); do grep -q ready "$out" && break; sleep 0.01; done
    "$linux_build/tools/sender/sender" preview --port "$port" --frames 1 >/dev/null
    wait "$pid"
    tr -d '\r' <"$out" | sed -n 's/^2634 datagrams, \([0-9.]*\) us a datagram/\1/p'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

linux=() windows=()
for r in $(seq "$rounds"); do
    linux+=("$(one_run "$linux_build/bench/recv_cost")")
    windows+=("$(one_run "$WINE" "$windows_build/bench/recv_cost.exe")")
done
l=$(printf '%s\n' "${linux[@]}" | median)
w=$(printf '%s\n' "${windows[@]}" | median)
echo "Linux: ${linux[*]} us; Windows under wine: ${windows[*]} us (each the mean over one burst)"
echo "median: Linux $l us, wine $w us a datagram (ratio $(awk -v a="$w" -v b="$l" 'BEGIN { printf "%.0f", a / b }')); 1280x720 needs under 38 us"
