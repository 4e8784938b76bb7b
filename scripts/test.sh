#!/usr/bin/env bash
# Every test: the normal build, the AddressSanitizer/UndefinedBehaviorSanitizer
# build (any report fails), ThreadSanitizer on the threaded receiver tests,
# a short run of every fuzz target, the Windows programs under wine, and
# the programs-only build with its packages.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

BUILD_DIR=build scripts/setup.sh  # the stage below tests build, whatever the caller exported
echo "== normal build"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"

echo "== sanitizer build (address, undefined)"
BUILD_DIR=build-asan scripts/setup.sh -DTALVEK_SANITIZE=ON -DTALVEK_BUILD_BENCH=OFF
# A report exits 66, not 1: a test that expects a program to fail with 1
# must not pass on a sanitizer report. Paths are quoted for the sanitizers'
# option parser, which splits on spaces.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:exitcode=66 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=66 \
LSAN_OPTIONS="suppressions='$root/tests/lsan.supp':print_suppressions=0" \
    ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"

echo "== thread sanitizer build (every test that starts a decode thread)"
# The receiver's tests, the player's loop and controls on a real receiver,
# and the e2e tests whose player process is this build's. Reports go to
# files, so one made while a test captures stderr, or in a child process
# that a test kills, still fails the stage.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVEK_TSAN=ON \
    -DTALVEK_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target client_tests player_tests player_e2e_tests \
    player_controls_e2e_tests player_audio_e2e_tests
tsan_reports=$root/build-tsan/tsan-reports
rm -rf "$tsan_reports" && mkdir -p "$tsan_reports"
tsan_status=0
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions='$root/tests/tsan.supp':log_path='$tsan_reports/report'" \
    ctest --test-dir build-tsan --output-on-failure --no-tests=error -j "$jobs" \
    -R '^client\.|^Player(Loop|Controls)Test\.|^player_(e2e|controls_e2e|audio_e2e)$' || tsan_status=$?
if compgen -G "$tsan_reports/report*" >/dev/null; then
    cat "$tsan_reports"/report*
    tsan_status=1
fi
((tsan_status == 0)) || { echo "thread sanitizer stage failed"; exit 1; }

echo "== fuzzing (libFuzzer, clang 14), 60 s a target"
scripts/fuzz.sh --seconds 60

echo "== Windows (mingw-w64 cross build, run under wine)"
# The socket layer's own tests, then player.exe and preview.exe (their
# libraries cross-built once and cached outside the clone) under the same
# end-to-end tests as the Linux programs above.
scripts/windows_tests.sh
scripts/windows_build.sh --package
scripts/windows_e2e.sh build-windows build

echo "== programs-only build, install and Linux packages"
scripts/linux_package.sh

echo "== all tests passed"
