#!/usr/bin/env bash
# Cross-compiles common/ and its tests for 64-bit Windows (MinGW-w64) and runs
# every test .exe under wine. Fails when the build or any test fails.
#
#   scripts/windows_tests.sh [build-dir]     (default build-windows/socket-tests,
#                                             or $WINDOWS_BUILD_DIR)
# GTEST_FILTER and the other GTEST_* variables reach the tests unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir=${1:-${WINDOWS_BUILD_DIR:-build-windows/socket-tests}}
case $build_dir in /*) ;; *) build_dir=$root/$build_dir ;; esac

echo "[windows] configuring and building in $build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALVEK_SOCKET_ONLY=ON -DTALVEK_BUILD_BENCH=OFF -DTALVEK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build_dir" -j "${JOBS:-2}"

source scripts/lib_wine.sh
use_wine_prefix "${TALVEK_WINEPREFIX:-$root/build-windows/wine-prefix}"
# The tests are console programs: no display.
unset DISPLAY WAYLAND_DISPLAY

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
    if ! timeout 300 "$WINE" "$exe"; then
        failed+=("$name")
    fi
done
stop_wine
elapsed=$(awk -v s="$run_start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')

if ((${#failed[@]})); then
    echo "[windows] FAILED: ${failed[*]} (${#tests[@]} executables, ${elapsed} s under wine)" >&2
    exit 1
fi
echo "[windows] all ${#tests[@]} test executables passed (${elapsed} s under wine)"
