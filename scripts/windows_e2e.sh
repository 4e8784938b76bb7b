#!/usr/bin/env bash
# Runs the end-to-end tests against the Windows programs under wine: the
# test programs, the sender and Xvfb are the Linux build's, the programs
# under test are player.exe and preview.exe, started through wine64
# (tests/e2e/program_under_test.h).
#
#   scripts/windows_e2e.sh [WINDOWS_DIR [LINUX_BUILD_DIR]]
#                          (defaults build-windows and build)
#
# WINDOWS_DIR holds the .exe files scripts/windows_build.sh leaves; the
# Linux build must be configured with its tests. GTEST_FILTER reaches the
# tests unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

windows_dir=${1:-build-windows}
linux_build=${2:-build}
case $windows_dir in /*) ;; *) windows_dir=$root/$windows_dir ;; esac
case $linux_build in /*) ;; *) linux_build=$root/$linux_build ;; esac
tests=(preview_e2e player_e2e player_controls_e2e player_audio_e2e)

for exe in player preview; do
    [ -f "$windows_dir/$exe.exe" ] || {
        echo "[windows-e2e] $windows_dir/$exe.exe is missing: run scripts/windows_build.sh" >&2
        exit 1
    }
done
targets=()
for t in "${tests[@]}"; do targets+=("${t}_tests"); done
cmake --build "$linux_build" -j "${JOBS:-2}" --target "${targets[@]}" sender

source scripts/lib_wine.sh
use_wine_prefix "${TALVEK_WINEPREFIX:-$root/build-windows/wine-prefix}"
export TALVEK_E2E_PLAYER=$windows_dir/player.exe
export TALVEK_E2E_PREVIEW=$windows_dir/preview.exe
export TALVEK_E2E_LAUNCHER=$WINE
trap stop_wine EXIT
services_log=$windows_dir/wine-services.log
: >"$services_log"

failed=()
start=$(date +%s)
for t in "${tests[@]}"; do
    echo "[windows-e2e] $t against $windows_dir"
    # Each test program brings its own Xvfb; wine's desktop process must not
    # outlive it into the next one's: start_wine ends the last session first.
    start_wine "$services_log"
    ctest --test-dir "$linux_build" --output-on-failure -R "^$t\$" || failed+=("$t")
    # A test that met a wine limit skips, naming it: say so, it is no pass.
    grep -h "SKIPPED \]\|wine limit" "$linux_build/Testing/Temporary/LastTest.log" | sort -u |
        sed "s/^/[windows-e2e] $t: /" || true
done
# Not the programs' own output, but worth seeing: wine's services said it.
if [ -s "$services_log" ]; then
    sed "s/^/[windows-e2e] wine's services: /" "$services_log"
fi
if ((${#failed[@]})); then
    echo "[windows-e2e] FAILED: ${failed[*]} ($(($(date +%s) - start)) s)" >&2
    exit 1
fi
echo "[windows-e2e] all ${#tests[@]} end-to-end test programs passed under wine ($(($(date +%s) - start)) s)"
