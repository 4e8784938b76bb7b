#!/usr/bin/env bash
# Cross-compiles common/ and its tests for 64-bit Windows (MinGW-w64) and runs
# every test .exe under wine. Fails when the build or any test fails.
#
#   scripts/windows_tests.sh [build-dir]     (default build-windows, or
#                                             $WINDOWS_BUILD_DIR)
# GTEST_FILTER and the other GTEST_* variables reach the tests unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir=${1:-${WINDOWS_BUILD_DIR:-build-windows}}
case $build_dir in /*) ;; *) build_dir=$root/$build_dir ;; esac
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}

echo "[windows] configuring and building in $build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALVEK_SOCKET_ONLY=ON -DTALVEK_BUILD_BENCH=OFF -DTALVEK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build_dir"

# A prefix of our own, so the run neither reads nor changes ~/.wine. No
# display and no Mono/Gecko: the tests are console programs, and the
# installers would otherwise prompt on the first start.
export WINEPREFIX=$build_dir/wine-prefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "[windows] creating the wine prefix (first run only)"
    start=$(date +%s)
    "$wine" wineboot --init >/dev/null 2>&1
    # The prefix is complete only once its wineserver has written it out.
    "$wineserver" -w
    echo "[windows] wine prefix ready in $(($(date +%s) - start)) s"
fi

mapfile -t tests < <(find "$build_dir/tests" -name '*.exe' -type f | sort)
if ((${#tests[@]} == 0)); then
    echo "[windows] no test executables under $build_dir/tests" >&2
    exit 1
fi

failed=()
run_start=$(date +%s.%N)
for exe in "${tests[@]}"; do
    name=$(basename "$exe")
    echo "[windows] running $name"
    # A call that blocks for good must fail the run, not hang it.
    if ! timeout 300 "$wine" "$exe"; then
        failed+=("$name")
    fi
done
elapsed=$(awk -v s="$run_start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')

if ((${#failed[@]})); then
    echo "[windows] FAILED: ${failed[*]} (${#tests[@]} executables, ${elapsed} s under wine)" >&2
    exit 1
fi
echo "[windows] all ${#tests[@]} test executables passed (${elapsed} s under wine)"
