#!/usr/bin/env bash
# Every test: the normal build, the AddressSanitizer/UndefinedBehaviorSanitizer
# build (any report fails), ThreadSanitizer on the threaded receiver tests,
# a short run of every fuzz target, and the Windows socket layer under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

scripts/setup.sh
echo "== normal build"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build (address, undefined)"
BUILD_DIR=build-asan scripts/setup.sh -DTALVEK_SANITIZE=ON -DTALVEK_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== thread sanitizer build (the receiver's threaded tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVEK_TSAN=ON \
    -DTALVEK_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target client_tests player_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R '^client\.|PlayerLoop'

echo "== fuzzing (libFuzzer, clang 14), 60 s a target"
scripts/fuzz.sh --seconds 60

echo "== Windows socket layer (mingw-w64, wine)"
scripts/windows_tests.sh

echo "== all tests passed"
